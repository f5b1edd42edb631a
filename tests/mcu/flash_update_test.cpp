#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mcu/bootloader_frames.h"
#include "mcu/flash_update.h"
#include "tests/mcu/bootloader_fixture.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/process.h"

namespace {

using namespace ostrel;
using namespace ostrel::testing;

constexpr std::uint32_t start = mcu_application_start;

TEST(FlashErasePlan, FollowsTheSectorTable) {
    using plan = std::vector<mcu_erase_request>;
    // `head`, then `steps` 16 KiB erases from `from` and a tail erase after them.
    const auto then = [](plan head, std::uint32_t from, int steps) {
        for (int i = 0; i < steps; ++i, from += 0x4000) {
            head.push_back({erase_mode_16k, from});
        }
        head.push_back({erase_mode_tail, from});
        return head;
    };
    const plan sectors{{erase_mode_sector, 0x404000},
                       {erase_mode_sector, 0x420000},
                       {erase_mode_sector, 0x440000}};
    EXPECT_EQ(plan_mcu_erase(0), plan{});
    EXPECT_EQ(plan_mcu_erase(1), then({}, 0x404000, 0));
    EXPECT_EQ(plan_mcu_erase(0x4000), then({}, 0x404000, 0));
    EXPECT_EQ(plan_mcu_erase(0x5000), then({}, 0x404000, 1));
    EXPECT_EQ(plan_mcu_erase(0x1C000), then({}, 0x404000, 6));
    EXPECT_EQ(plan_mcu_erase(0x1C001), then({sectors[0]}, 0x420000, 0));
    EXPECT_EQ(plan_mcu_erase(0x7C000), then(sectors, 0x460000, 7));
}

class FlashUpdate : public BootloaderTest {
  protected:
    // Loads `data` at `address` and collects the progress values.
    bool load(const byte_vector& data, std::uint32_t address = start) {
        write_file(path, hex_file(address, data));
        progress.clear();
        return load_file([this](double f) { progress.push_back(f); });
    }
    // Reads the HEX file at `path` and loads it, as the -f task does.
    bool load_file(const ostrel::progress_callback& sink) {
        const auto image = ostrel::read_mcu_image(path, report);
        return image && ostrel::mcu_flash_update(device, *image, sink, report);
    }

    temp_dir dir;
    const std::string path = dir.file("image.hex");
    std::vector<double> progress;
    mcu_load_report report;
};

TEST_F(FlashUpdate, LastPageIsPaddedAndProgressIsTheOffsetOfThePageJustWritten) {
    ASSERT_TRUE(load({0x5A}));
    EXPECT_EQ(commands(), "e" + std::string(16, 'D') + "P");
    byte_vector expected(sim::mcu_flash_size, 0xFF);
    expected[0] = 0x5A;
    EXPECT_EQ(flash(), expected);
    EXPECT_EQ(progress, std::vector<double>{0.0});
    ASSERT_TRUE(load(byte_vector(1024, 1)));
    EXPECT_EQ(progress, (std::vector<double>{0.0, 0.5}));
    ASSERT_TRUE(load(byte_vector(1000, 2)));
    EXPECT_EQ(progress, (std::vector<double>{0.0, 0.512}));
}

TEST_F(FlashUpdate, LargestImageIsErasedByThePlanThenFillsTheArea) {
    const byte_vector data = random_bytes(mcu_application_size, 11);
    ASSERT_TRUE(load(data));
    EXPECT_EQ(flash(), data);
    std::vector<mcu_erase_request> erases;
    for (const auto& request : dev->requests) {
        if (request.bytes[1] == 'e') {
            erases.push_back({request.bytes[2], get_u32_le(request.bytes, 3)});
        }
    }
    EXPECT_EQ(erases, plan_mcu_erase(mcu_application_size));
    EXPECT_EQ(commands().find_last_of('e'), erases.size() - 1);  // all before the first 'D'
    EXPECT_EQ(progress.size(), mcu_application_size / 512);
}

// A failed erase request, and an empty image, make the load erase the whole area once with
// the fallback, whose result then decides; what was erased before is not erased again.
TEST_F(FlashUpdate, FailedEraseOrEmptyImageFallsBackToTheWholeArea) {
    // An empty data record still says where the image starts.
    const std::string empty =
        hex_line(4, 0, {0x00, 0x40}) + "\n" + hex_line(0, 0x4000, {}) + "\n" + hex_eof;
    const struct {
        std::vector<std::string> faults;
        bytes data;
        const char* erases;  // the requests before the first 'D'
        bool loaded;
    } cases[] = {
        {{"refuse:boot/e"}, random_bytes(0x1C001, 5), "e\"", true},
        {{"refuse:boot/e@2"}, bytes(0x9000, 3), "ee\"", true},
        {{"refuse:boot/e", "noreply:boot/0x22"}, bytes(100, 3), "e\"", false},
        {{}, {}, "\"", true},
        {{"refuse:boot/0x22"}, {}, "\"", false},
    };
    for (const auto& c : cases) {
        fresh(c.faults);
        std::memset(dev->state().mcu_flash, 0x00, sim::mcu_flash_size);
        write_file(path, c.data.empty() ? empty : hex_file(start, c.data));
        EXPECT_EQ(load_file({}), c.loaded);  // no progress callback
        EXPECT_EQ(commands().substr(0, commands().find('D')), c.erases);
        EXPECT_TRUE(report.fallback_erase);
        if (!c.loaded) {
            EXPECT_EQ(report.failure, mcu_load_failure::erase_failed);
            continue;
        }
        byte_vector expected = c.data;
        expected.resize(sim::mcu_flash_size, 0xFF);
        EXPECT_EQ(flash(), expected) << c.erases;
    }
}

}  // namespace
