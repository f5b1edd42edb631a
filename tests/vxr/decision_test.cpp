// Fullrom files and the update decision: which bank's checksum is asked, compared with
// which bytes of the image, and when nothing is sent at all.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "device/bootloader_thread.h"
#include "sim/bridge_flash.h"
#include "tests/vxr/bridge_support.h"
#include "vxr/fullrom.h"

namespace {

using namespace bridge_test;
using ostrel::sum_bytes;
using ::testing::ElementsAreArray;

TEST(SumBytes, EqualsTheWrappingByteLoop) {
    const std::string abc = "abc";
    const auto* p = reinterpret_cast<const std::uint8_t*>(abc.data());
    EXPECT_EQ(sum_bytes(p, p), 0u);
    EXPECT_EQ(sum_bytes(p, p + 3), 294u);
    const image ones(16843010, 0xFF);  // sums to 2^32 + 254
    EXPECT_EQ(sum_bytes(ones.data(), ones.data() + 0x8000), 0x7F8000u);
    EXPECT_EQ(sum_bytes(ones.data(), ones.data() + ones.size()), 254u);

    std::mt19937 random(42);
    image data(3000);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(random() % 3 == 0 ? 0xFF : random());
    }
    for (std::size_t first = 0; first < 9; ++first) {
        std::uint32_t loop = 0;
        for (std::size_t length = 0; first + length <= data.size(); ++length) {
            const std::uint8_t* q = data.data() + first;
            ASSERT_EQ(sum_bytes(q, q + length), loop) << first << "+" << length;
            loop += first + length < data.size() ? q[length] : 0;
        }
    }
}

TEST(ReadFile, BytesAsTheyAreAndBoundedInLength) {
    ostrel::testing::temp_dir dir;
    ostrel::testing::write_file(dir.file("some"), std::string("\r\n\0\x1a", 4));
    ostrel::testing::write_file(dir.file("empty"), std::string());
    ostrel::testing::write_file(dir.file("long"), std::string(200000, 'x'));
    EXPECT_EQ(ostrel::read_file(dir.file("some")), (ostrel::byte_vector{'\r', '\n', 0, 0x1a}));
    EXPECT_EQ(ostrel::read_file(dir.file("empty")), ostrel::byte_vector{});
    EXPECT_FALSE(ostrel::read_file(dir.file("missing")));
    EXPECT_FALSE(ostrel::read_file(dir.path()));  // a directory opens but cannot be read
    EXPECT_EQ(ostrel::read_file(dir.file("long"), 100000)->size(), 100001u);
    EXPECT_EQ(ostrel::read_file(dir.file("long"), 200000)->size(), 200000u);
}

class Decision : public ::testing::Test {
  protected:
    ostrel::testing::temp_dir dir;
    const image fresh = sim::make_fullrom_image(11, "VXR NEW");
    std::string path = write_image(dir, "new.fullrom", fresh);

    // The plan as "config fw esm" flags, e.g. "-- fw --", with the device's requests.
    std::string decide(sim::inprocess_device& dev, const std::string& file) {
        ostrel::bootloader_thread device;
        EXPECT_TRUE(device.connect_app());
        dev.requests.clear();
        const auto plan = device.check_vxr_update(file);
        return std::string(plan.config ? "config" : "--") + (plan.fw ? " fw" : " --") +
               (plan.esm ? " esm" : " --");
    }
    std::string decide(sim::inprocess_device& dev) { return decide(dev, path); }
};

TEST_F(Decision, AsksTheValidBankOfEachPairBank1WhenBothClaimIt) {
    struct row {
        std::uint8_t status;
        std::vector<std::string> asked;
        std::string plan;
    };
    const row rows[] = {
        {0x05, {"T", "K 0x00000+0x8000", "K 0x08000+0x18000", "K 0x40000+0x40000"}, "-- -- --"},
        {0x0F, {"T", "K 0x20000+0x8000", "K 0x28000+0x18000", "K 0x40000+0x40000"}, "-- -- --"},
        {0x06, {"T", "K 0x20000+0x8000", "K 0x08000+0x18000", "K 0x40000+0x40000"}, "-- -- --"},
        {0x00, {"T", "K 0x40000+0x40000"}, "config fw --"},
        {0xF0, {"T", "K 0x40000+0x40000"}, "config fw --"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(int(r.status));
        auto& dev = device_holding(fresh, r.status);
        dev.state().bank_status |= r.status & 0xF0;
        EXPECT_EQ(decide(dev), r.plan);
        EXPECT_THAT(requests(dev), ElementsAreArray(r.asked));
    }
}

TEST_F(Decision, ValidBank1IsComparedWithTheImagesBank1Copy) {
    image split = fresh;
    split[0x20000] ^= 0x01;  // the image's two config copies differ
    ostrel::testing::write_file(path, split);
    auto& dev = device_holding(fresh, 0x0A);  // bank 1 holds the bank 0 copy
    EXPECT_EQ(decide(dev), "config -- --");
    dev.state().bridge_flash[0x20000] ^= 0x01;
    EXPECT_EQ(decide(dev), "-- -- --");
}

TEST_F(Decision, FailedQueriesCountAsDifferences) {
    auto& dev = device_holding(fresh, 0x05);
    dev.arm("refuse:app/T@1");
    EXPECT_EQ(decide(dev), "config fw --");
    // A refused checksum is a difference even where the image's sum is 0, as a refusal's is.
    image zeros = fresh;
    std::fill(zeros.begin() + 0x40000, zeros.end(), 0x00);
    ostrel::testing::write_file(path, zeros);
    auto& zeroed = device_holding(zeros, 0x05);
    EXPECT_EQ(decide(zeroed), "-- -- --");
    zeroed.arm("noreply:app/K@3");
    EXPECT_EQ(decide(zeroed), "-- -- esm");
}

TEST_F(Decision, NoDeviceOrAFileThatIsNoImageSendsNothing) {
    image longer = fresh;
    longer.resize(0x90000, 0x00);
    const std::string long_file = write_image(dir, "long", longer);
    const std::string short_file = write_image(dir, "short", image(0x7FFFF, 0x00));
    const std::string huge_file = write_image(dir, "huge", image(16 * 1024 * 1024 + 1, 0x00));
    auto& dev = device_holding(fresh, 0x05);
    EXPECT_EQ(decide(dev, long_file), "-- -- --");  // only its first 512 KiB count
    EXPECT_EQ(dev.requests.size(), 4u);
    for (const std::string& file : {dir.file("missing"), short_file, huge_file, dir.path()}) {
        EXPECT_EQ(decide(dev, file), "-- -- --") << file;
        EXPECT_TRUE(dev.requests.empty()) << file;
    }
    ostrel::bootloader_thread unconnected;
    EXPECT_FALSE(unconnected.check_vxr_update(path).config);
    EXPECT_TRUE(dev.requests.empty());
}

}  // namespace
