// Makes seeds for fuzz_device_replies: runs the program's tasks against the in-process
// virtual device and writes down each hidapi call's outcome in the script format of
// fuzz/scripted_hidapi.cpp (the first byte the options), so that the fuzzer starts from
// conversations a real device would hold. Scripts are cut at 4096 bytes.
//   record_replies OUTPUT_DIR
// The program's hidapi calls reach the virtual device through the link's --wrap.
#include <hidapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "device/clock.h"
#include "sim/bridge_flash.h"
#include "sim/inprocess_device.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/cli_run.h"

namespace {

std::vector<std::uint8_t> script;

void note(std::uint8_t byte) {
    script.push_back(byte);
}

}  // namespace

// The linker's --wrap gives these names, reserved as they are.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {

hid_device_info* __real_hid_enumerate(unsigned short vendor_id, unsigned short product_id);
hid_device* __real_hid_open(unsigned short vendor_id, unsigned short product_id,
                            const wchar_t* serial_number);
int __real_hid_write(hid_device* dev, const unsigned char* data, size_t length);
int __real_hid_send_feature_report(hid_device* dev, const unsigned char* data, size_t length);
int __real_hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int ms);

hid_device_info* __wrap_hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    hid_device_info* found = __real_hid_enumerate(vendor_id, product_id);
    note(found != nullptr ? 1 : 0);
    return found;
}

hid_device* __wrap_hid_open(unsigned short vendor_id, unsigned short product_id,
                            const wchar_t* serial_number) {
    hid_device* dev = __real_hid_open(vendor_id, product_id, serial_number);
    note(dev != nullptr ? 1 : 0);
    return dev;
}

int __wrap_hid_write(hid_device* dev, const unsigned char* data, size_t length) {
    const int sent = __real_hid_write(dev, data, length);
    note(sent >= 0 ? 1 : 0);
    return sent;
}

int __wrap_hid_send_feature_report(hid_device* dev, const unsigned char* data, size_t length) {
    const int sent = __real_hid_send_feature_report(dev, data, length);
    note(sent >= 0 ? 1 : 0);
    return sent;
}

int __wrap_hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int ms) {
    const std::int64_t start = ostrel::monotonic_ns();
    const int got = __real_hid_read_timeout(dev, data, length, ms);
    if (got == 0) {
        note(0);
    } else if (got < 0) {
        note(1);
    } else {
        note(2);
        note(static_cast<std::uint8_t>(got));
        note(static_cast<std::uint8_t>(
            std::min<std::int64_t>((ostrel::monotonic_ns() - start) / 1'000'000, 255)));
        script.insert(script.end(), data, data + got);
    }
    return got;
}

}  // extern "C"
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: record_replies OUTPUT_DIR\n");
        return 2;
    }
    const std::string out = argv[1];
    // The same files as the fuzz target's.
    const std::string hex = out + "/../app.hex.tmp", fullrom = out + "/../bridge.fullrom.tmp";
    std::ofstream(hex) << ostrel::testing::hex_file(
        0x404000, ostrel::testing::random_bytes(3 * 512 - 100, 7), 32);
    const auto image = sim::make_fullrom_image(5, "VXR NEW");
    std::ofstream(fullrom, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));

    struct seed {
        const char* name;
        std::uint8_t tasks;  // the fuzz target's option bits
        sim::usb_mode mode;
        std::uint8_t bank_status;
        const char* fault;
    };
    const seed seeds[] = {
        {"version", 0x01, sim::usb_mode::application, 0x05, ""},
        {"all_versions", 0x07, sim::usb_mode::application, 0x05, ""},
        {"versions_in_bootloader", 0x07, sim::usb_mode::bootloader, 0x05, ""},
        {"erase", 0x08, sim::usb_mode::application, 0x05, ""},
        {"erase_refused", 0x08, sim::usb_mode::application, 0x05, "refuse:app/D@3"},
        {"firmware", 0x10, sim::usb_mode::application, 0x05, ""},
        {"firmware_from_bootloader", 0x10, sim::usb_mode::bootloader, 0x05, ""},
        {"firmware_page_refused", 0x10, sim::usb_mode::application, 0x05, "refuse:boot/P@2"},
        {"firmware_then_update", 0x70, sim::usb_mode::application, 0x05, ""},
        {"update", 0x60, sim::usb_mode::application, 0x05, ""},
        {"update_contradictory", 0x60, sim::usb_mode::application, 0x0F, ""},
        {"update_no_bank", 0x60, sim::usb_mode::application, 0x00, ""},
        {"update_stray", 0x60, sim::usb_mode::application, 0x0A, "stray=3"},
        {"update_refused_status", 0x60, sim::usb_mode::application, 0x05, "refuse:app/T"},
        {"everything", 0x7F, sim::usb_mode::application, 0x05, ""},
    };
    for (const seed& s : seeds) {
        sim::device_options options;
        options.mode = s.mode;
        options.bank_status = s.bank_status;
        auto& dev = sim::inprocess_device::reset(options);
        sim::load_bridge_flash(dev.state(), sim::make_fullrom_image(4, "VXR OLD"));
        if (*s.fault != '\0') {
            dev.arm(s.fault);
        }
        std::vector<std::string> args;
        if (s.tasks & 0x01) {
            args.push_back("-v");
        }
        if (s.tasks & 0x02) {
            args.push_back("-r");
        }
        if (s.tasks & 0x04) {
            args.push_back("-b");
        }
        if (s.tasks & 0x08) {
            args.insert(args.end(), {"-x", "KQWIPEZON"});
        }
        if (s.tasks & 0x10) {
            args.insert(args.end(), {"-f", hex});
        }
        if ((s.tasks & 0x60) == 0x60) {
            args.insert(args.end(), {"-u", fullrom});
        }
        script.assign(1, s.tasks);
        const auto result = ostrel::testing::run_cli(args);
        script.resize(std::min<std::size_t>(script.size(), 4096));
        std::ofstream(out + "/" + s.name, std::ios::binary)
            .write(reinterpret_cast<const char*>(script.data()),
                   static_cast<std::streamsize>(script.size()));
        std::printf("%-26s status %d, %zu script bytes\n", s.name, result.status, script.size());
    }
    // Scratch files: one left behind costs nothing.
    static_cast<void>(std::remove(hex.c_str()));
    static_cast<void>(std::remove(fullrom.c_str()));
    return 0;
}
