// A catalogue of bad inputs to -f and -u, one case each, through the shipped program: every
// one ends with status 1, a message that names the trouble, the task's failure line on
// standard error (followed at most by the line that says what to do), no request at all,
// and the device still running its application: an input is known good before the device
// is touched.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <optional>
#include <stdexcept>

#include "sim/bridge_flash.h"
#include "tests/interrupt/device_dir.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/failure_line.h"

namespace {

using namespace interrupt_test;
using ostrel::testing::hex_eof;
using ostrel::testing::hex_file;
using ostrel::testing::hex_line;
using ostrel::testing::hex_records;
using ostrel::testing::random_bytes;
using ostrel::testing::write_file;

struct bad_input {
    const char* name;
    const char* option;  // "-f" or "-u"
    // Makes the input in `dir` and returns the option's value; nothing for no value at all.
    std::function<std::optional<std::string>(const device_dir& dir)> make;
    std::string reason;  // a text the program's output must hold
    bool unprivileged = false;
};

std::string text_file(const device_dir& dir, const std::string& text) {
    write_file(dir.file("input"), text);
    return dir.file("input");
}

std::string bytes_file(const device_dir& dir, const bytes& data) {
    write_file(dir.file("input"), data);
    return dir.file("input");
}

std::string fifo(const device_dir& dir) {
    mkfifo(dir.file("fifo").c_str(), 0666);
    return dir.file("fifo");
}

// A pipe that holds `data` and whose writing end is closed, as the shell's process
// substitution gives one: /dev/fd/N of its reading end, which the program inherits.
std::string pipe_holding(const bytes& data) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0 || fcntl(ends[1], F_SETPIPE_SZ, 1 << 20) < 0 ||
        write(ends[1], data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
        throw std::runtime_error("cannot make a pipe of 1 MiB");
    }
    close(ends[1]);
    fcntl(ends[0], F_SETFD, 0);  // left open for the program, which inherits it
    return "/dev/fd/" + std::to_string(ends[0]);
}

// A record line of exactly `fields` (count, offset, type, data) and their checksum.
std::string raw_record(const bytes& fields) {
    std::string line = ":";
    unsigned sum = 0;
    for (const std::uint8_t b : fields) {
        line += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
        sum += b;
    }
    const auto check = static_cast<std::uint8_t>(0x100 - sum % 0x100);
    return line + "0123456789ABCDEF"[check >> 4] + "0123456789ABCDEF"[check & 15];
}

// A HEX file of 64 good bytes at the application start (lines 1 to 5), then `record` (from
// line 6), then the end-of-file record.
std::string hex_around(const device_dir& dir, const std::string& record) {
    return text_file(dir,
                     hex_records(0x404000, random_bytes(64, 1)) + record + "\n" + hex_eof + "\n");
}

const bytes fullrom = sim::make_fullrom_image(42, "VXR NEW");

const std::string long_name(100'000, 'x');

const bad_input catalogue[] = {
    // -f: the file itself
    {"HexMissing", "-f", [](auto& d) { return d.file("missing.hex"); },
     "Could not open hex file: "},
    {"HexEmpty", "-f", [](auto& d) { return text_file(d, ""); }, "no end-of-file record"},
    {"HexUnreadable", "-f",
     [](auto& d) {
         std::string path = text_file(d, hex_file(0x404000, random_bytes(64, 1)));
         chmod(path.c_str(), 0);
         return path;
     },
     "Could not open hex file: ", true},
    {"HexDirectory", "-f", [](auto& d) { return d.path(); }, "Could not open hex file: "},
    {"HexTruncatedInARecord", "-f",
     [](auto& d) {
         const std::string text = hex_file(0x404000, random_bytes(256, 1));
         return text_file(d, text.substr(0, text.size() / 2));
     },
     "hex file line "},
    {"HexTruncatedAtALine", "-f",
     [](auto& d) { return text_file(d, hex_records(0x404000, random_bytes(256, 1))); },
     "no end-of-file record"},
    {"HexLargerThanTheApplicationArea", "-f",
     [](auto& d) { return text_file(d, hex_file(0x404000, bytes(0x7C001, 0x5A), 255)); },
     "hex image of 507905 bytes does not fit the application area of 507904 bytes"},
    {"HexSpanBeyondTheReaderLimit", "-f",
     [](auto& d) {
         return text_file(d, hex_records(0x404000, {1}) + hex_records(0x504000, {2}) + hex_eof);
     },
     "image larger than 1048576 bytes"},
    {"HexWrongStartAddress", "-f",
     [](auto& d) { return text_file(d, hex_file(0x400000, random_bytes(64, 1))); },
     "hex image starts at 0x400000, not at the application start 0x404000"},
    {"HexWithoutData", "-f", [](auto& d) { return text_file(d, hex_eof + "\n"); },
     "hex image starts at 0x0"},
    {"BinaryGarbageAsHex", "-f", [](auto& d) { return bytes_file(d, random_bytes(65536, 5)); },
     "hex file"},
    {"FullromAsHex", "-f", [](auto& d) { return bytes_file(d, fullrom); }, "hex file"},
    // -f: each defect the HEX reader rejects
    {"HexLineTooLong", "-f", [](auto& d) { return hex_around(d, ":" + std::string(2000, '0')); },
     "hex file line 6: line too long"},
    {"HexRecordTooShort", "-f", [](auto& d) { return hex_around(d, ":0000"); },
     "hex file line 6: record too short"},
    {"HexNotHexDigit", "-f", [](auto& d) { return hex_around(d, ":02400000G1G2FF"); },
     "hex file line 6: not a hexadecimal digit"},
    {"HexOddDigits", "-f", [](auto& d) { return hex_around(d, ":0140000001BE0"); },
     "hex file line 6: odd number of hexadecimal digits"},
    {"HexChecksumMismatch", "-f",
     [](auto& d) {
         std::string line = hex_line(0, 0x4100, {1, 2, 3});
         line.back() = line.back() == '0' ? '1' : '0';
         return hex_around(d, line);
     },
     "hex file line 6: checksum mismatch"},
    {"HexCountMismatch", "-f",
     [](auto& d) {
         return hex_around(d,
                           raw_record({0x04, 0x41, 0x00, 0x00, 1, 2, 3}));  // 4 bytes said, 3 given
     },
     "hex file line 6: byte count does not match the data"},
    {"HexAddressRecordWithOneByte", "-f",
     [](auto& d) { return hex_around(d, hex_line(4, 0, {0x40})); },
     "hex file line 6: address record without two data bytes"},
    {"HexDataPastTheAddressSpace", "-f",
     [](auto& d) {
         return hex_around(d,
                           hex_line(4, 0, {0xFF, 0xFF}) + "\n" + hex_line(0, 0xFFF0, bytes(32, 1)));
     },
     "hex file line 7: data past address 0xFFFFFFFF"},
    {"HexOverlapWithOtherBytes", "-f",
     [](auto& d) { return hex_around(d, hex_line(0, 0x4000, {0xAA})); },
     "overlaps other data with different bytes"},
    // -f: the option's value
    // -f: what is no file: a FIFO without a writer (opening it would wait for one) and a
    // device that never ends
    {"HexFifo", "-f", [](auto& d) { return fifo(d); }, "Could not open hex file: "},
    {"HexEndlessDevice", "-f", [](auto&) { return std::string("/dev/zero"); },
     "Could not open hex file: /dev/zero"},
    {"HexNameEmpty", "-f", [](auto&) { return std::string(); }, "Could not open hex file: "},
    {"HexNameVeryLong", "-f", [](auto&) { return long_name; }, "Could not open hex file: "},
    {"HexNameMissing", "-f", [](auto&) { return std::nullopt; },
     "no filename given with -f option"},

    // -u: the file itself
    {"FullromMissing", "-u", [](auto& d) { return d.file("missing.fullrom"); },
     "Could not open file"},
    {"FullromEmpty", "-u", [](auto& d) { return bytes_file(d, {}); },
     "Fullrom file too short: 0 bytes found, 524288 bytes needed"},
    {"FullromUnreadable", "-u",
     [](auto& d) {
         std::string path = bytes_file(d, fullrom);
         chmod(path.c_str(), 0);
         return path;
     },
     "Could not open file", true},
    {"FullromDirectory", "-u", [](auto& d) { return d.path(); }, "Could not open file"},
    {"FullromShortByOneByte", "-u",
     [](auto& d) { return bytes_file(d, bytes(fullrom.begin(), fullrom.end() - 1)); },
     "Fullrom file too short: 524287 bytes found, 524288 bytes needed"},
    {"FullromOversized", "-u",
     [](auto& d) {
         std::string path = bytes_file(d, fullrom);
         truncate(path.c_str(), 16 * 1024 * 1024 + 1);
         return path;
     },
     "Fullrom file too long: more than 16777216 bytes found"},
    {"BinaryGarbageAsFullrom", "-u", [](auto& d) { return bytes_file(d, random_bytes(1000, 5)); },
     "Fullrom file too short: 1000 bytes found"},
    {"HexAsFullrom", "-u",
     [](auto& d) { return text_file(d, hex_file(0x404000, random_bytes(0x7C000, 1))); },
     "not a Fullrom image: the file is text"},
    {"FullromWithInvalidatedConfigCopy", "-u",
     [](auto& d) {
         bytes image = fullrom;
         image[0x7FF0] = 0x00;  // the program's own mark of an invalidated bank
         return bytes_file(d, image);
     },
     "config bank (0x07FF0 to 0x07FFF) is marked invalid (0x00) at 0x07FF0"},
    {"FullromWithErasedFirmwareTrailer", "-u",
     [](auto& d) {
         bytes image = fullrom;
         image[0x1FFFF] = 0xFF;
         return bytes_file(d, image);
     },
     "firmware bank (0x1FFF0 to 0x1FFFF) is erased (0xFF) at 0x1FFFF"},
    // -u: the option's value
    // -u: what is no file. The image is read more than once; a pipe gives its bytes only
    // to the first read.
    {"FullromFifo", "-u", [](auto& d) { return fifo(d); }, "Could not open file"},
    {"FullromPipe", "-u", [](auto&) { return pipe_holding(fullrom); }, "Could not open file"},
    {"FullromEndlessDevice", "-u", [](auto&) { return std::string("/dev/zero"); },
     "Could not open file"},
    {"FullromNameEmpty", "-u", [](auto&) { return std::string(); }, "Could not open file"},
    {"FullromNameVeryLong", "-u", [](auto&) { return long_name; }, "Could not open file"},
    {"FullromNameMissing", "-u", [](auto&) { return std::nullopt; },
     "no filename given with -u option"},
};

void PrintTo(const bad_input& input, std::ostream* out) {
    *out << input.option << " " << input.name;
}

class BadInput : public ::testing::TestWithParam<bad_input> {};

TEST_P(BadInput, EndsWithStatusOneAMessageAndNoFlashChangingRequest) {
    const bad_input& input = GetParam();
    const bool mcu = std::string(input.option) == "-f";
    device_dir dev;
    dev.reset({.mode = sim::usb_mode::application, .reenumeration_ms = 20}, random_bytes(0x1000, 2),
              sim::make_fullrom_image(41, "VXR OLD"));
    const bytes mcu_before(dev.state().mcu_flash, dev.state().mcu_flash + sim::mcu_flash_size);
    const bytes bridge_before(dev.state().bridge_flash,
                              dev.state().bridge_flash + sim::bridge_flash_size);

    std::vector<std::string> args{input.option};
    if (const auto value = input.make(dev)) {
        args.push_back(*value);
    }
    ostrel::testing::process_result result;
    if (input.unprivileged) {
        // The user nobody must reach the device's files, not the input.
        chmod(dev.path().c_str(), 0777);
        chmod(sim::state_file::state_path(dev.path()).c_str(), 0666);
        args.insert(args.begin(), {OSTREL_RUN_UNPRIVILEGED, ostrel::testing::sim_path, "run",
                                   dev.path(), "--", ostrel::testing::program_path});
        result = ostrel::testing::run_process(args, 20);
    } else {
        result = dev.run(args, 20);
    }

    EXPECT_EQ(result.status, 1);
    EXPECT_NE((result.out + result.err).find(input.reason), std::string::npos)
        << "no \"" << input.reason << "\" in\n"
        << result.out.substr(0, 2000) << result.err.substr(0, 2000);
    const std::string last_line = input.reason.starts_with("no filename given") ? input.reason
                                  : mcu ? "Firmware load failed."
                                        : "VXR firmware update failed.";
    EXPECT_TRUE(ostrel::testing::ends_with_failure(result.err, last_line))
        << result.err.substr(0, 2000);
    for (const sim::request_record& record : dev.log()) {
        ADD_FAILURE() << "request '" << command_of(record) << "' sent";
    }
    EXPECT_EQ(dev.state().mode, sim::usb_mode::application);
    EXPECT_TRUE(std::equal(mcu_before.begin(), mcu_before.end(), dev.state().mcu_flash));
    EXPECT_TRUE(std::equal(bridge_before.begin(), bridge_before.end(), dev.state().bridge_flash));
}

INSTANTIATE_TEST_SUITE_P(Catalogue, BadInput, ::testing::ValuesIn(catalogue),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BadInputCount, Printed) {
    std::cout << "bad-input catalogue: " << std::size(catalogue) << " bad inputs\n";
}

}  // namespace
