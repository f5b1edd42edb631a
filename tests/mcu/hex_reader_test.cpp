#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mcu/hex_reader.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace ostrel;
using namespace ostrel::testing;

using bytes = std::vector<std::uint8_t>;

class HexReader : public ::testing::Test {
  protected:
    // Reads `text` as a file's contents.
    bool read(const std::string& text) {
        write_file(dir.file("image.hex"), text);
        image = {};
        return read_intel_hex(image, dir.file("image.hex"), error);
    }

    // Expects `text` to fail with `defect` on line `line`.
    void expect_defect(const std::string& text, hex_defect defect, std::size_t line) {
        EXPECT_FALSE(read(text)) << text;
        EXPECT_EQ(error.defect, defect) << text << describe(error.defect);
        EXPECT_EQ(error.line, line) << text;
    }

    temp_dir dir;
    hex_image image;
    hex_read_error error;
};

std::string line(std::uint8_t type, std::uint16_t offset,
                 std::initializer_list<std::uint8_t> data) {
    return hex_line(type, offset, data) + "\n";
}

TEST_F(HexReader, EndOfFileRecordMakesTheReadWithOrWithoutFinalLineFeed) {
    const std::string records = line(0, 0x4000, {1, 2, 3});
    ASSERT_TRUE(read(records + hex_eof + "\n"));
    EXPECT_EQ(image.base_address, 0x4000u);
    EXPECT_EQ(image.data, (bytes{1, 2, 3}));
    EXPECT_TRUE(read(records + hex_eof));
    EXPECT_EQ(image.data, (bytes{1, 2, 3}));
}

TEST_F(HexReader, EveryByteReadButNoEndOfFileRecordFails) {
    expect_defect(line(0, 0x4000, {1, 2, 3}), hex_defect::no_end_record, 0);
    expect_defect("", hex_defect::no_end_record, 0);
}

TEST_F(HexReader, BlanksCrLfEmptyAndForeignLinesAreReadAsIfBare) {
    const std::string text = "\r\n# built by hand\r\n  \t" + hex_line(0, 0x10, {0xAA, 0xBB}) +
                             " \t\r\n\n\v\f\r\nxyz:0000\r\n" + hex_eof + "\r\n";
    ASSERT_TRUE(read(text));
    EXPECT_EQ(image.base_address, 0x10u);
    EXPECT_EQ(image.data, (bytes{0xAA, 0xBB}));
}

TEST_F(HexReader, WrongChecksumStopsTheReadEvenBeforeAnEndOfFileRecord) {
    std::string bad = hex_line(0, 0x20, {5});
    bad.back() = bad.back() == '0' ? '1' : '0';
    expect_defect(line(0, 0x10, {4}) + "\n" + bad + "\n" + hex_eof + "\n",
                  hex_defect::checksum_mismatch, 3);
}

TEST_F(HexReader, ForwardGapIsFilledWithZeros) {
    const bytes a(16, 0x11);
    const bytes b(16, 0x22);
    ASSERT_TRUE(read(hex_line(0, 0x4000, a) + "\n" + hex_line(0, 0x4020, b) + "\n" + hex_eof));
    EXPECT_EQ(image.base_address, 0x4000u);
    bytes expected = a;
    expected.resize(32, 0x00);
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(image.data, expected);
}

TEST_F(HexReader, RecordsGoingBackwardsArePlacedAtTheirOwnAddresses) {
    ASSERT_TRUE(read(line(0, 0x4010, {3, 4}) + line(0, 0x4000, {1, 2}) + hex_eof));
    EXPECT_EQ(image.base_address, 0x4000u);
    bytes expected(0x12, 0x00);
    expected[0] = 1;
    expected[1] = 2;
    expected[0x10] = 3;
    expected[0x11] = 4;
    EXPECT_EQ(image.data, expected);

    // A whole image written in shuffled record order reads back as the same image.
    const bytes data = random_bytes(4096, 7);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < data.size(); at += 32) {
        lines.push_back(
            hex_line(0, static_cast<std::uint16_t>(0x8000 + at), std::span(data).subspan(at, 32)));
    }
    std::shuffle(lines.begin(), lines.end(), std::mt19937(3));
    std::string text;
    for (const auto& l : lines) {
        text += l + "\n";
    }
    ASSERT_TRUE(read(text + hex_eof));
    EXPECT_EQ(image.base_address, 0x8000u);
    EXPECT_EQ(image.data, data);
}

TEST_F(HexReader, OverlapsMustAgreeByteForByte) {
    ASSERT_TRUE(read(line(0, 0x100, {1, 2, 3, 4}) + line(0, 0x102, {3, 4, 5}) + hex_eof));
    EXPECT_EQ(image.data, (bytes{1, 2, 3, 4, 5}));
    expect_defect(line(0, 0x100, {1, 2, 3, 4}) + line(0, 0x102, {3, 9}) + hex_eof,
                  hex_defect::overlap, 2);
    // Found also when the later record lies lower.
    expect_defect(line(0, 0x102, {3, 9}) + "\n" + line(0, 0x100, {1, 2, 3, 4}) + hex_eof,
                  hex_defect::overlap, 1);
}

TEST_F(HexReader, ExtendedAddressRecordsMoveTheDataThatFollows) {
    ASSERT_TRUE(read(line(4, 0, {0x00, 0x40}) + line(0, 0x4000, {7}) + hex_eof));
    EXPECT_EQ(image.base_address, 0x404000u);
    ASSERT_TRUE(read(line(2, 0, {0x10, 0x00}) + line(0, 0x0010, {7}) + hex_eof));
    EXPECT_EQ(image.base_address, 0x10010u);
}

TEST_F(HexReader, StartAddressRecordsDoNotMoveTheData) {
    ASSERT_TRUE(read(line(4, 0, {0x00, 0x40}) + line(5, 0, {0x12, 0x34, 0x56, 0x78}) +
                     line(3, 0, {0x00, 0x00, 0x12, 0x34}) + line(0, 0x4000, {7}) + hex_eof));
    EXPECT_EQ(image.base_address, 0x404000u);
    EXPECT_EQ(image.data, bytes{7});
}

TEST_F(HexReader, NothingAfterTheEndOfFileRecordIsRead) {
    ASSERT_TRUE(read(line(0, 0, {1}) + hex_eof + "\n" + line(0, 1, {2}) + "garbage :zz\n"));
    EXPECT_EQ(image.data, bytes{1});
}

TEST_F(HexReader, FilesWithoutDataGiveEmptyImages) {
    ASSERT_TRUE(read(hex_eof));
    EXPECT_EQ(image.base_address, 0u);
    EXPECT_TRUE(image.data.empty());
    // An empty data record still says where the image starts.
    ASSERT_TRUE(read(line(4, 0, {0x00, 0x40}) + line(0, 0x4000, {}) + hex_eof));
    EXPECT_EQ(image.base_address, 0x404000u);
    EXPECT_TRUE(image.data.empty());
}

TEST_F(HexReader, MalformedRecordsFailNamingTheirLineAndDefect) {
    const std::string ok = line(0, 0, {1});
    // Byte count 2 with one data byte, checksum right for the bytes present.
    expect_defect(ok + ":0200000001FD\n" + hex_eof, hex_defect::count_mismatch, 2);
    // Byte count 1 with two data bytes.
    expect_defect(ok + ":010000000102FC\n" + hex_eof, hex_defect::count_mismatch, 2);
    expect_defect(ok + ":0100000G01FE\n" + hex_eof, hex_defect::not_hex, 2);
    expect_defect(ok + ":01 00000001FE\n" + hex_eof, hex_defect::not_hex, 2);
    expect_defect(ok + ":00000001F\n" + hex_eof, hex_defect::too_short, 2);
    expect_defect(ok + ":\n" + hex_eof, hex_defect::too_short, 2);
    expect_defect(ok + ":0100000001F\n" + hex_eof, hex_defect::odd_digits, 2);
    expect_defect(ok + line(4, 0, {0x40}) + hex_eof, hex_defect::bad_address_record, 2);
    expect_defect(ok + line(2, 0, {0, 0x40, 0}) + hex_eof, hex_defect::bad_address_record, 2);
    expect_defect(line(4, 0, {0xFF, 0xFF}) + line(0, 0xFFFF, {1, 2}) + hex_eof,
                  hex_defect::past_address_space, 2);
}

TEST_F(HexReader, LongLinesAreBoundedButOnlyRecordsFailOnThem) {
    const std::string record = hex_line(0, 0, {1});
    // A long comment and a long run of blanks are skipped; a record with long trailing
    // blanks is still a record.
    ASSERT_TRUE(read(std::string(100000, '#') + "\n" + std::string(100000, ' ') + "\n" + record +
                     std::string(5000, ' ') + "\n" + hex_eof));
    EXPECT_EQ(image.data, bytes{1});
    expect_defect(record + std::string(5000, '0') + "\n" + hex_eof, hex_defect::line_too_long, 1);
}

TEST_F(HexReader, ImagesBeyondTheLimitAreRefusedWithoutHoldingThem) {
    // Two bytes 16 MiB apart: the gap is not allocated.
    expect_defect(line(0, 0, {1}) + line(4, 0, {0x01, 0x00}) + line(0, 0, {2}) + hex_eof,
                  hex_defect::image_too_large, 3);
    // The same 255 bytes again and again: agreeing overlaps, but data without end.
    const std::string repeated = hex_line(0, 0, bytes(255, 0x5A)) + "\n";
    std::string text;
    for (std::size_t i = 0; i * 255 <= hex_image_limit; ++i) {
        text += repeated;
    }
    expect_defect(text + hex_eof, hex_defect::image_too_large, hex_image_limit / 255 + 1);
}

TEST_F(HexReader, MissingFileCannotBeOpened) {
    image.base_address = 0x55;
    EXPECT_FALSE(read_intel_hex(image, dir.file("absent.hex"), error));
    EXPECT_EQ(error.defect, hex_defect::cannot_open);
    EXPECT_EQ(image.base_address, 0x55u);
    EXPECT_FALSE(read_intel_hex(image, dir.file("absent.hex")));
}

// objcopy's output is a peer's view of Intel HEX: random data at the application start,
// large enough that lines straddle the reader's buffer, reads back byte for byte.
TEST_F(HexReader, RoundTripOfObjcopyOutput) {
    for (const std::size_t size : {std::size_t{1}, std::size_t{4097}, std::size_t{0x7C000}}) {
        const bytes data = random_bytes(size, static_cast<std::uint32_t>(size));
        write_file(dir.file("image.bin"), data);
        const auto converted =
            run_process({"objcopy", "-I", "binary", "-O", "ihex", "--change-addresses", "0x404000",
                         dir.file("image.bin"), dir.file("image.hex")});
        if (converted.status == 127) {
            GTEST_SKIP() << "objcopy is not installed";
        }
        ASSERT_EQ(converted.status, 0) << converted.err;
        ASSERT_TRUE(read_intel_hex(image, dir.file("image.hex"), error))
            << describe(error.defect) << " at line " << error.line;
        EXPECT_EQ(image.base_address, 0x404000u);
        EXPECT_EQ(image.data, data) << size;
    }
}

TEST(HexText, TrimRemovesTheSixBlanksAtBothEndsOnly) {
    std::string text = " \t\n\v\f\r:00 00\r\n";
    trim_whitespace(text);
    EXPECT_EQ(text, ":00 00");
    std::string blank = " \r\n";
    trim_whitespace(blank);
    EXPECT_EQ(blank, "");
}

TEST(HexText, ChecksumIsTheTwosComplementOfThePairSum) {
    EXPECT_EQ(hex_checksum("00000001"), 0xFF);
    EXPECT_EQ(hex_checksum("0300300002337A"), 0x1E);
    EXPECT_EQ(hex_checksum("012"), 0xFD);  // 0x01 + 0x2, the lone digit a pair of its own
    EXPECT_TRUE(verify_hex_line(":0300300002337A1E"));
    EXPECT_FALSE(verify_hex_line(":00000001FE"));
    EXPECT_FALSE(verify_hex_line(":0"));
    EXPECT_FALSE(verify_hex_line(":00000001G1"));
}

}  // namespace
