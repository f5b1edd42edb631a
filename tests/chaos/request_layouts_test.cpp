// The layout check of the chaos properties: it passes what the program's own builders make
// and catches the faults it is there for.
#include <gtest/gtest.h>

#include <algorithm>

#include "mcu/bootloader_frames.h"
#include "tests/chaos/request_layouts.h"
#include "vxr/flash_requests.h"

namespace {

sim::request_record record_of(const ostrel::hid_report& report, sim::usb_mode mode) {
    sim::request_record record{};
    record.mode = mode;
    record.via = mode == sim::usb_mode::application ? sim::channel::feature : sim::channel::output;
    std::copy(report.begin(), report.end(), record.bytes.begin());
    return record;
}

constexpr auto app = sim::usb_mode::application;
constexpr auto boot = sim::usb_mode::bootloader;

TEST(RequestLayouts, PassTheProgramsOwnRequests) {
    const std::uint8_t data[32] = {1, 2, 3};
    const ostrel::hid_report app_requests[] = {
        ostrel::build_bank_status_request(),
        ostrel::build_checksum_request(0x28000, 0x18000),
        ostrel::build_write_request(0x7FFE0, data),
        ostrel::build_sector_erase_request(0x7F000),
        ostrel::build_block_erase_request(0x70000),
        ostrel::make_request('B'),
    };
    for (const auto& r : app_requests) {
        EXPECT_EQ(chaos_test::layout_error(record_of(r, app)), "");
    }
    const ostrel::hid_report boot_requests[] = {
        ostrel::data_report(0x47FFE0, data),
        ostrel::program_report(0x47FE00),
        ostrel::erase_report(ostrel::erase_mode_16k, 0x47C000),
        ostrel::fallback_erase_report(),
        ostrel::make_request('B'),
    };
    for (const auto& r : boot_requests) {
        EXPECT_EQ(chaos_test::layout_error(record_of(r, boot)), "");
    }
}

TEST(RequestLayouts, CatchAddressesOutsideTheAreasAndErasesWithoutTheWord) {
    const std::uint8_t data[32] = {};
    auto no_word = ostrel::build_block_erase_request(0x10000);
    no_word[12] = 'X';
    auto bad_crc = ostrel::program_report(0x404000);
    bad_crc[7] ^= 1;
    const sim::request_record faulty[] = {
        record_of(ostrel::build_write_request(0x7FFF0, data), app),  // runs past 0x7FFFF
        record_of(ostrel::build_block_erase_request(0x80000), app),
        record_of(ostrel::build_sector_erase_request(0x80000), app),
        record_of(no_word, app),
        record_of(ostrel::build_checksum_request(0x10000, 0x8000), app),
        record_of(ostrel::data_report(0x403FE0, data), boot),
        record_of(ostrel::program_report(0x480000), boot),
        record_of(ostrel::erase_report(ostrel::erase_mode_sector, 0x402000), boot),
        record_of(bad_crc, boot),
        record_of(ostrel::make_request('T'), boot),  // no such bootloader command
        record_of(ostrel::build_bank_status_request(), boot),
    };
    for (const auto& r : faulty) {
        EXPECT_NE(chaos_test::layout_error(r), "") << int(r.bytes[1]);
    }
    auto wrong_channel = record_of(ostrel::build_bank_status_request(), app);
    wrong_channel.via = sim::channel::output;
    EXPECT_NE(chaos_test::layout_error(wrong_channel), "");
}

}  // namespace
