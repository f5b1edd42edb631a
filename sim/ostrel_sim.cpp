// ostrel_sim: makes, runs, inspects and breaks a virtual Ostrel whose whole state lives in
// a directory. See doc/virtual-device.md for the command line; test stations drive it, so what is
// documented there stays.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/bridge_flash.h"
#include "sim/hex_image.h"
#include "sim/model.h"
#include "sim/request_log.h"
#include "sim/state_file.h"

namespace {

using namespace sim;

constexpr const char* usage_text =
    "usage: ostrel_sim init DIR [--mode application|bootloader|absent] [--app-version TEXT]\n"
    "                  [--bootloader-version TEXT] [--bridge-version TEXT] [--bank-status N]\n"
    "                  [--reenumeration-ms N] [--latency-us N] [--bridge-flash FILE]\n"
    "                  [--mcu-flash FILE] [--port PORT] [--serial TEXT]\n"
    "       ostrel_sim run DIR [DIR...] -- PROGRAM [ARG...]\n"
    "       ostrel_sim show DIR\n"
    "       ostrel_sim log DIR\n"
    "       ostrel_sim dump DIR --mcu FILE | --bridge FILE\n"
    "       ostrel_sim fullrom FILE [--bridge-version TEXT] [--seed N]\n"
    "       ostrel_sim hex FILE [--size N] [--seed N]\n"
    "       ostrel_sim fault DIR RULE...   (or: fault DIR clear, fault DIR list)\n"
    "       ostrel_sim plug DIR [--mode application|bootloader]\n"
    "       ostrel_sim unplug DIR\n";

int usage_error(const std::string& message) {
    std::cerr << "ostrel_sim: " << message << "\n" << usage_text;
    return 2;
}

bool parse_unsigned(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && text[0] != '-' && value <= max;
}

bool parse_mode(const std::string& text, usb_mode& mode) {
    if (text == "application") {
        mode = usb_mode::application;
    } else if (text == "bootloader") {
        mode = usb_mode::bootloader;
    } else if (text == "absent") {
        mode = usb_mode::absent;
    } else {
        return false;
    }
    return true;
}

// Opens the state in DIR, or says why not.
bool open_state(const std::string& dir, state_file& file) {
    std::string error;
    if (!file.open(dir, error)) {
        std::cerr << "ostrel_sim: " << error << "\n";
        return false;
    }
    return true;
}

// Reads a raw flash image of at most `size` bytes.
bool read_image(const std::string& path, std::size_t size, std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        std::cerr << "ostrel_sim: cannot read " << path << ": " << std::strerror(errno) << "\n";
        return false;
    }
    bytes.resize(size + 1);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    const bool read_error = std::ferror(file) != 0;
    static_cast<void>(std::fclose(file));  // read only: nothing is lost when closing fails
    if (read_error) {
        std::cerr << "ostrel_sim: cannot read " << path << "\n";
        return false;
    }
    if (bytes.size() > size) {
        std::cerr << "ostrel_sim: " << path << " is larger than the flash (" << size << " bytes)\n";
        return false;
    }
    return true;
}

// Where init puts the device on USB.
struct usb_place {
    std::string port;
    std::string serial;
};

// The options of init that give the device a text: its versions and where it sits on USB.
// False when `flag` is not one of them.
bool text_option(const std::string& flag, const std::string& value, device_options& options,
                 usb_place& place) {
    const std::pair<const char*, std::string*> texts[] = {
        {"--app-version", &options.app_version},
        {"--bootloader-version", &options.bootloader_version},
        {"--bridge-version", &options.bridge_version},
        {"--port", &place.port},
        {"--serial", &place.serial},
    };
    const auto* found =
        std::ranges::find_if(texts, [&flag](const auto& text) { return flag == text.first; });
    if (found == std::end(texts)) {
        return false;
    }
    *found->second = value;
    return true;
}

int cmd_init(const std::string& dir, const std::vector<std::string>& args) {
    device_options options;
    usb_place place;
    std::vector<std::uint8_t> bridge_image;
    std::vector<std::uint8_t> mcu_image;
    bool has_bridge_image = false;
    bool has_mcu_image = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        if (i + 1 >= args.size()) {
            return usage_error("missing value after " + flag);
        }
        const std::string& value = args[++i];
        unsigned long number = 0;
        if (flag == "--mode") {
            if (!parse_mode(value, options.mode)) {
                return usage_error("unknown mode " + value);
            }
        } else if (text_option(flag, value, options, place)) {
            continue;
        } else if (flag == "--bank-status") {
            if (!parse_unsigned(value, 0xFF, number)) {
                return usage_error("bank status must be 0 to 255");
            }
            options.bank_status = static_cast<std::uint8_t>(number);
        } else if (flag == "--reenumeration-ms") {
            if (!parse_unsigned(value, 600000, number)) {
                return usage_error("re-enumeration delay must be 0 to 600000 ms");
            }
            options.reenumeration_ms = static_cast<std::uint32_t>(number);
        } else if (flag == "--latency-us") {
            if (!parse_unsigned(value, 10'000'000, number)) {
                return usage_error("latency must be 0 to 10000000 us");
            }
            options.reply_latency_us = static_cast<std::uint32_t>(number);
        } else if (flag == "--bridge-flash") {
            if (!read_image(value, bridge_flash_size, bridge_image)) {
                return 1;
            }
            has_bridge_image = true;
        } else if (flag == "--mcu-flash") {
            if (!read_image(value, mcu_flash_size, mcu_image)) {
                return 1;
            }
            has_mcu_image = true;
        } else {
            return usage_error("unknown option " + flag);
        }
    }
    state_file file;
    std::string error;
    if (!file.create(dir, error)) {
        std::cerr << "ostrel_sim: " << error << "\n";
        return 1;
    }
    device_state& state = *file.get();
    init_state(state, options);
    set_usb_place(state, place.port, place.serial);
    if (has_bridge_image) {
        load_bridge_flash(state, bridge_image);
    }
    if (has_mcu_image) {
        std::copy(mcu_image.begin(), mcu_image.end(), state.mcu_flash);
    }
    return 0;
}

int cmd_dump(const std::string& dir, const std::vector<std::string>& args) {
    if (args.size() != 2 || (args[0] != "--mcu" && args[0] != "--bridge")) {
        return usage_error("dump needs --mcu FILE or --bridge FILE");
    }
    state_file file;
    if (!open_state(dir, file)) {
        return 1;
    }
    const bool mcu = args[0] == "--mcu";
    std::vector<std::uint8_t> bytes;
    {
        // The whole flash as it is at one moment, written out once the device is let go.
        const state_hold hold(file);
        const std::uint8_t* flash = mcu ? file.get()->mcu_flash : file.get()->bridge_flash;
        bytes.assign(flash, flash + (mcu ? mcu_flash_size : bridge_flash_size));
    }
    std::FILE* out = std::fopen(args[1].c_str(), "wb");
    if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
        std::cerr << "ostrel_sim: cannot write " << args[1] << ": " << std::strerror(errno) << "\n";
        if (out != nullptr) {
            static_cast<void>(std::fclose(out));  // the write has already failed
        }
        return 1;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}

// Where the stand-in hidapi library is: beside this program in the build tree, or in the
// library directory of an installation.
std::string find_library_dir() {
    if (const char* dir = std::getenv("OSTREL_SIM_LIBDIR")) {
        return dir;
    }
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        return {};
    }
    exe[n] = '\0';
    std::string base(exe);
    base.erase(base.rfind('/'));
    for (const std::string& candidate :
         {base + "/ostrel_sim_hidapi", std::string(OSTREL_SIM_INSTALLED_LIBDIR)}) {
        if (access((candidate + "/libhidapi-hidraw.so.0").c_str(), R_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

// `args` after run's first DIR: more device directories, then -- PROGRAM [ARG...]. Each
// device is on the virtual USB at once; OSTREL_SIM_DIRS names them all, OSTREL_SIM_DIR the
// first.
int cmd_run(const std::string& dir, const std::vector<std::string>& given) {
    std::vector<std::string> dirs{dir};
    std::size_t next = 0;
    for (; next < given.size() && given[next] != "--"; ++next) {
        dirs.push_back(given[next]);
    }
    const std::vector<std::string> args(given.begin() + static_cast<std::ptrdiff_t>(next),
                                        given.end());
    if (args.size() < 2) {
        return usage_error("run needs -- PROGRAM [ARG...]");
    }
    std::string all_dirs;
    for (const std::string& device_dir : dirs) {
        state_file file;
        char absolute[PATH_MAX];
        if (!open_state(device_dir, file)) {
            return 125;
        }
        if (realpath(device_dir.c_str(), absolute) == nullptr ||
            std::string(absolute).find(':') != std::string::npos) {
            std::cerr << "ostrel_sim: cannot resolve " << device_dir << " to a path without ':'\n";
            return 125;
        }
        all_dirs += (all_dirs.empty() ? "" : ":") + std::string(absolute);
    }
    const std::string libdir = find_library_dir();
    if (libdir.empty()) {
        std::cerr << "ostrel_sim: cannot find the virtual hidapi library (libhidapi-hidraw.so.0)\n";
        return 125;
    }
    std::string library_path = libdir;
    if (const char* old = std::getenv("LD_LIBRARY_PATH"); old != nullptr && *old != '\0') {
        library_path += std::string(":") + old;
    }
    std::vector<char*> argv;
    for (std::size_t i = 1; i < args.size(); ++i) {
        argv.push_back(const_cast<char*>(args[i].c_str()));
    }
    argv.push_back(nullptr);

    // The program takes this process's place: its exit status, its signals and its
    // process id are the caller's to see, and killing it kills nothing else.
    std::cout.flush();
    setenv("LD_LIBRARY_PATH", library_path.c_str(), 1);
    setenv("OSTREL_SIM_DIR", all_dirs.substr(0, all_dirs.find(':')).c_str(), 1);
    setenv("OSTREL_SIM_DIRS", all_dirs.c_str(), 1);
    // A Windows program under Wine looks for libhidapi.dll on WINEPATH after its own folder:
    // the same directory, for a Windows build's stand-in (doc/windows.md).
    if (char resolved[PATH_MAX]; realpath(libdir.c_str(), resolved) != nullptr) {
        std::string wine_path = std::string("Z:") + resolved;
        if (const char* old = std::getenv("WINEPATH"); old != nullptr && *old != '\0') {
            wine_path += std::string(";") + old;
        }
        setenv("WINEPATH", wine_path.c_str(), 1);
    }
    execvp(argv[0], argv.data());
    std::cerr << "ostrel_sim: cannot run " << argv[0] << ": " << std::strerror(errno) << "\n";
    return 127;
}

std::string json_string(const char* text, std::size_t max) {
    std::string out = "\"";
    for (std::size_t i = 0; i < max && text[i] != '\0'; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string json_counts(const std::uint32_t (&counts)[256]) {
    std::string out = "{";
    bool first = true;
    for (std::size_t c = 0; c < 256; ++c) {
        if (counts[c] == 0) {
            continue;
        }
        const char letter[2] = {static_cast<char>(c), '\0'};
        out += (first ? "" : ", ") + json_string(letter, c == 0 ? 0 : 1) + ": " +
               std::to_string(counts[c]);
        first = false;
    }
    return out + "}";
}

int cmd_show(const std::string& dir) {
    state_file file;
    if (!open_state(dir, file)) {
        return 1;
    }
    // The state at one moment, printed once the device is let go.
    const auto copy = std::make_unique<device_state>();
    {
        const state_hold hold(file);
        settle(*file.get(), state_clock_ns());
        *copy = *file.get();
    }
    const device_state& s = *copy;
    char vendor[8];
    std::snprintf(vendor, sizeof vendor, "0x%04X", s.vendor_id);
    std::string faults = "[";
    for (std::size_t i = 0; i < s.fault_count; ++i) {
        faults += (i == 0 ? "\"" : ", \"") + format_fault_rule(s.faults[i]) + "\"";
    }
    faults += "]";
    std::cout << "{\"mode\": \"" << mode_name(s.mode) << "\", \"returning_as\": \""
              << mode_name(s.return_mode) << "\", \"vendor_id\": \"" << vendor
              << "\", \"usb_port\": " << json_string(s.usb_port, version_size)
              << ", \"serial\": " << json_string(s.serial, version_size)
              << ", \"app_version\": " << json_string(s.app_version, version_size)
              << ", \"bootloader_version\": " << json_string(s.bootloader_version, version_size)
              << ", \"bridge_version\": " << json_string(s.bridge_version, version_size)
              << ", \"app_load\": \"" << (s.app_incomplete != 0 ? "incomplete" : "complete")
              << "\", \"bank_status\": " << static_cast<unsigned>(s.bank_status)
              << ", \"requests\": {\"total\": " << s.requests
              << ", \"application\": " << json_counts(s.counts[1])
              << ", \"bootloader\": " << json_counts(s.counts[2]) << "}, \"opens\": " << s.opens
              << ", \"faults\": " << faults << ", \"chaos\": {\"turns\": " << s.chaos.turns
              << ", \"disturbed\": " << s.chaos.disturbed
              << ", \"blind_spots\": " << s.chaos.blind_spots << "}}\n";
    return 0;
}

int cmd_log(const std::string& dir) {
    state_file file;
    if (!open_state(dir, file)) {
        return 1;
    }
    const int fd = open(state_file::log_path(dir).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;  // no request yet
    }
    request_record record;
    std::string out;
    while (read(fd, &record, sizeof record) == static_cast<ssize_t>(sizeof record)) {
        out += describe_request(record);
        out += '\n';
        if (out.size() > 65536) {
            std::cout << out;
            out.clear();
        }
    }
    close(fd);
    std::cout << out;
    return 0;
}

int cmd_fault(const std::string& dir, const std::vector<std::string>& rules) {
    state_file file;
    if (!open_state(dir, file)) {
        return 1;
    }
    device_state& s = *file.get();
    if (rules.empty() || (rules.size() == 1 && rules[0] == "list")) {
        std::string list;
        {
            const state_hold hold(file);
            for (std::size_t i = 0; i < s.fault_count; ++i) {
                list += format_fault_rule(s.faults[i]) + "\n";
            }
        }
        std::cout << list;
        return 0;
    }
    if (rules.size() == 1 && rules[0] == "clear") {
        const state_hold hold(file);
        s.fault_count = 0;
        return 0;
    }
    std::vector<fault_rule> parsed;
    for (const std::string& text : rules) {
        std::string error;
        const auto rule = parse_fault_rule(text, error);
        if (!rule) {
            return usage_error(error);
        }
        parsed.push_back(*rule);
    }
    const state_hold hold(file);
    if (s.fault_count + parsed.size() > max_fault_rules) {
        std::cerr << "ostrel_sim: at most " << max_fault_rules << " faults can be armed\n";
        return 1;
    }
    for (const fault_rule& rule : parsed) {
        arm_fault(s, rule);
    }
    return 0;
}

int cmd_plug(const std::string& dir, const std::vector<std::string>& args, bool plug) {
    state_file file;
    if (!open_state(dir, file)) {
        return 1;
    }
    usb_mode mode = usb_mode::application;
    if (plug && args.size() == 2 && args[0] == "--mode") {
        if (!parse_mode(args[1], mode) || mode == usb_mode::absent) {
            return usage_error("plug needs --mode application or bootloader");
        }
    } else if (!args.empty()) {
        return usage_error("unexpected arguments");
    }
    const state_hold hold(file);
    replug(*file.get(), plug ? mode : usb_mode::absent);
    return 0;
}

bool write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    const bool written =
        out != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (out != nullptr && std::fclose(out) != 0) {
        return false;
    }
    if (!written) {
        std::cerr << "ostrel_sim: cannot write " << path << ": " << std::strerror(errno) << "\n";
    }
    return written;
}

// Options of the image generators: --seed N, --size N, --bridge-version TEXT.
struct generator_options {
    std::uint32_t seed = 1;
    std::size_t size = mcu_flash_size;
    std::string version = "VXR7200 FW 2.0";
};

bool parse_generator_options(const std::vector<std::string>& args, bool hex,
                             generator_options& options, std::string& error) {
    for (std::size_t i = 0; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) {
            error = "missing value after " + args[i];
            return false;
        }
        unsigned long number = 0;
        if (args[i] == "--seed" && parse_unsigned(args[i + 1], 0xFFFFFFFF, number)) {
            options.seed = static_cast<std::uint32_t>(number);
        } else if (hex && args[i] == "--size" && parse_unsigned(args[i + 1], 0x100000, number)) {
            options.size = number;
        } else if (!hex && args[i] == "--bridge-version") {
            options.version = args[i + 1];
        } else {
            error = "bad option " + args[i] + " " + args[i + 1];
            return false;
        }
    }
    return true;
}

// A Fullrom image whose bank copies are valid and alike, with a version text in its
// firmware banks that 'N' shows once the image is in the bridge.
int cmd_fullrom(const std::string& path, const std::vector<std::string>& args) {
    generator_options options;
    std::string error;
    if (!parse_generator_options(args, false, options, error)) {
        return usage_error(error);
    }
    return write_bytes(path, make_fullrom_image(options.seed, options.version)) ? 0 : 1;
}

// An Intel HEX file of `size` pseudo-random bytes for the application area, 32 bytes a
// record, with an extended linear address record wherever the upper address changes.
int cmd_hex(const std::string& path, const std::vector<std::string>& args) {
    generator_options options;
    std::string error;
    if (!parse_generator_options(args, true, options, error)) {
        return usage_error(error);
    }
    const std::string text = make_hex_text(options.size, options.seed, 32);
    return write_bytes(path, std::vector<std::uint8_t>(text.begin(), text.end())) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    if (args.size() < 2) {
        return usage_error(args.empty() ? "missing command" : "missing DIR");
    }
    const std::string& command = args[0];
    const std::string& dir = args[1];
    const std::vector<std::string> rest(args.begin() + 2, args.end());
    if (command == "init") {
        return cmd_init(dir, rest);
    }
    if (command == "run") {
        return cmd_run(dir, rest);
    }
    if (command == "show" && rest.empty()) {
        return cmd_show(dir);
    }
    if (command == "log" && rest.empty()) {
        return cmd_log(dir);
    }
    if (command == "fullrom") {
        return cmd_fullrom(dir, rest);
    }
    if (command == "hex") {
        return cmd_hex(dir, rest);
    }
    if (command == "dump") {
        return cmd_dump(dir, rest);
    }
    if (command == "fault") {
        return cmd_fault(dir, rest);
    }
    if (command == "plug" || command == "unplug") {
        return cmd_plug(dir, rest, command == "plug");
    }
    return usage_error("unknown command " + command);
}
