// ostrel_hid_probe: drives a virtual Ostrel (fresh, in application mode, re-enumeration
// 500 ms) through the hidapi calls the program relies on and prints what each returned.
// Run once through the hidapi stand-in (`ostrel_sim run`) and once through the system's
// hidapi and the kernel (ostrel_uhid); the two transcripts must be the same. Only what a
// program can rely on is printed: no paths, no timings, nothing a USB device and a uhid
// device show differently (bus type, interface number, manufacturer string).
#include <hidapi.h>
#include <time.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr unsigned short vendor = OSTREL_VENDOR_ID;
constexpr unsigned short application = 0x0101;
constexpr unsigned short bootloader = 0x4004;

using report = std::array<unsigned char, 65>;

void sleep_ms(long ms) {
    const timespec pause{ms / 1000, (ms % 1000) * 1'000'000};
    nanosleep(&pause, nullptr);
}

report request(unsigned char command, unsigned char number = 0x00) {
    report bytes{};
    bytes[0] = number;
    bytes[1] = command;
    return bytes;
}

// What one read brings: its return value, and the first byte and text of what it read.
std::string read_once(hid_device* handle, std::size_t length, int timeout_ms) {
    report buffer{};
    const int got = hid_read_timeout(handle, buffer.data(), length, timeout_ms);
    std::string text = std::to_string(got);
    if (got > 0) {
        char code[16];
        std::snprintf(code, sizeof code, " code 0x%02X", buffer[0]);
        text += code;
        text += " \"";
        for (int i = 1; i < got && buffer[i] >= 0x20 && buffer[i] < 0x7F; ++i) {
            text += static_cast<char>(buffer[i]);
        }
        text += "\"";
    }
    return text;
}

// Reads until a read brings nothing within `timeout_ms`; the number of reports read.
int drain(hid_device* handle, int timeout_ms) {
    report buffer{};
    int count = 0;
    while (count < 1000 && hid_read_timeout(handle, buffer.data(), buffer.size(), timeout_ms) > 0) {
        ++count;
    }
    return count;
}

void say(const char* what, const std::string& result) {
    std::printf("%s: %s\n", what, result.c_str());
}

std::string listed(unsigned short product) {
    hid_device_info* found = hid_enumerate(vendor, product);
    std::string text = found == nullptr ? "no" : "yes";
    if (found != nullptr) {
        char fields[96];
        std::snprintf(fields, sizeof fields, " product 0x%04X usage 0x%04X/0x%02X next %s",
                      found->product_id, found->usage_page, found->usage,
                      found->next == nullptr ? "none" : "more");
        text += fields;
    }
    hid_free_enumeration(found);
    return text;
}

// Opens `product`, trying every 50 ms for up to 5 s (the device may be re-enumerating).
hid_device* open_waiting(unsigned short product) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (hid_device* handle = hid_open(vendor, product, nullptr)) {
            return handle;
        }
        sleep_ms(50);
    }
    return nullptr;
}

}  // namespace

int main() {
    if (hid_init() != 0) {
        return 1;
    }
    say("listed as application", listed(application));
    say("listed as bootloader", listed(bootloader));
    say("open bootloader", hid_open(vendor, bootloader, nullptr) == nullptr ? "none" : "opened");
    hid_device* app = hid_open(vendor, application, nullptr);
    say("open application", app == nullptr ? "none" : "opened");
    if (app == nullptr) {
        return 1;
    }

    // Requests of every length, as feature reports; each reply read with room to spare.
    report star = request('*');
    say("feature 65 bytes", std::to_string(hid_send_feature_report(app, star.data(), 65)));
    say("read 65", read_once(app, 65, 1000));
    say("read with nothing queued, 0 ms", read_once(app, 65, 0));
    say("read with nothing queued, 20 ms", read_once(app, 65, 20));
    say("feature 2 bytes", std::to_string(hid_send_feature_report(app, star.data(), 2)));
    say("read 65", read_once(app, 65, 1000));
    say("feature 1 byte", std::to_string(hid_send_feature_report(app, star.data(), 1)));
    say("read", read_once(app, 65, 200));
    std::array<unsigned char, 80> longer{};
    longer[1] = '*';
    say("feature 80 bytes", std::to_string(hid_send_feature_report(app, longer.data(), 80)));
    say("read 65", read_once(app, 65, 1000));
    say("feature 65 bytes, 10 read", std::to_string(hid_send_feature_report(app, star.data(), 65)));
    say("read 10", read_once(app, 10, 1000));
    say("read the rest", read_once(app, 65, 20));

    // Reports the device does not listen for: numbered, and output in application mode.
    report numbered = request('*', 0x41);
    say("numbered feature", std::to_string(hid_send_feature_report(app, numbered.data(), 65)));
    say("read", read_once(app, 65, 200));
    say("output in application mode", std::to_string(hid_write(app, star.data(), 65)));
    say("read", read_once(app, 65, 200));

    // Reads the device does not answer.
    report buffer{};
    say("get feature report", std::to_string(hid_get_feature_report(app, buffer.data(), 65)));
    say("get input report", std::to_string(hid_get_input_report(app, buffer.data(), 65)));

    // Replies nobody reads pile up; how many are kept?
    for (int i = 0; i < 80; ++i) {
        hid_send_feature_report(app, star.data(), 65);
    }
    sleep_ms(300);
    say("80 replies unread, then read", std::to_string(drain(app, 100)));

    // A reply sent before a handle was opened is not seen on it; one sent to another open
    // handle is.
    hid_send_feature_report(app, star.data(), 65);
    sleep_ms(300);
    hid_device* second = hid_open(vendor, application, nullptr);
    say("second handle", second == nullptr ? "none" : "opened");
    say("second handle reads the earlier reply", read_once(second, 65, 100));
    say("first handle reads the earlier reply", read_once(app, 65, 100));
    hid_send_feature_report(second, star.data(), 65);
    sleep_ms(300);
    say("first handle reads the second's reply", read_once(app, 65, 100));
    say("second handle reads its reply", read_once(second, 65, 100));
    hid_close(second);
    hid_close(app);
    app = hid_open(vendor, application, nullptr);
    say("reopen", app == nullptr ? "none" : "opened");

    // The switch to the bootloader: the old handle dies, the old identity goes, the new one
    // comes.
    report to_bootloader = request('B');
    say("feature B", std::to_string(hid_send_feature_report(app, to_bootloader.data(), 65)));
    sleep_ms(300);
    say("old handle read", read_once(app, 65, 10));
    say("old handle feature", std::to_string(hid_send_feature_report(app, star.data(), 65)));
    say("old handle write", std::to_string(hid_write(app, star.data(), 65)));
    say("listed as application", listed(application));
    say("open application", hid_open(vendor, application, nullptr) == nullptr ? "none" : "opened");
    hid_close(app);
    hid_device* boot = open_waiting(bootloader);
    say("open bootloader", boot == nullptr ? "none" : "opened");
    if (boot == nullptr) {
        return 1;
    }
    say("listed as bootloader", listed(bootloader));
    say("output 65 bytes", std::to_string(hid_write(boot, star.data(), 65)));
    say("read 65", read_once(boot, 65, 1000));
    say("feature in bootloader mode",
        std::to_string(hid_send_feature_report(boot, star.data(), 65)));
    say("read", read_once(boot, 65, 200));
    say("output 2 bytes", std::to_string(hid_write(boot, star.data(), 2)));
    say("read 65", read_once(boot, 65, 1000));

    // Back to the application by an output report.
    report to_application = request('B');
    say("output B", std::to_string(hid_write(boot, to_application.data(), 65)));
    sleep_ms(300);
    say("old handle read", read_once(boot, 65, 10));
    hid_close(boot);
    app = open_waiting(application);
    say("open application", app == nullptr ? "none" : "opened");
    hid_close(app);
    hid_exit();
    return 0;
}
