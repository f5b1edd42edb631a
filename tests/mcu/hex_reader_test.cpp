#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/file_kind.h"
#include "mcu/hex_reader.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/process.h"

namespace {

using namespace ostrel;
using namespace ostrel::testing;

class HexReader : public ::testing::Test {
  protected:
    // Reads `text` as a file's contents, and checks that the same text read from memory
    // gives the same result, image and error.
    bool read(const std::string& text) {
        write_file(dir.file("image.hex"), text);
        const bool ok = read_intel_hex(image = {}, dir.file("image.hex"), error);
        hex_image from_memory;
        hex_read_error memory_error;
        EXPECT_EQ(read_intel_hex_text(from_memory, text, memory_error), ok);
        EXPECT_EQ(from_memory.base_address, image.base_address);
        EXPECT_EQ(from_memory.data, image.data);
        EXPECT_EQ(memory_error.defect, error.defect);
        EXPECT_EQ(memory_error.line, error.line);
        return ok;
    }

    temp_dir dir;
    hex_image image;
    hex_read_error error;
};

std::string line(std::uint8_t type, std::uint16_t offset, const bytes& data) {
    return hex_line(type, offset, data) + "\n";
}

TEST_F(HexReader, ReadsEachByteToItsAddress) {
    const std::string abc = line(0, 0x4000, {1, 2, 3});
    const std::string ext = line(4, 0, {0x00, 0x40});
    const struct {
        std::uint32_t base;
        bytes data;
        std::string text;
    } cases[] = {
        {0x4000, {1, 2, 3}, abc + hex_eof + "\n"},
        {0x4000, {1, 2, 3}, abc + hex_eof},  // no line feed after the end record
        {0x10,
         {0xAA, 0xBB},
         "\r\n  \t" + hex_line(0, 0x10, {0xAA, 0xBB}) + " \t\r\n\n\v\f\r\n" + hex_eof + "\r\n"},
        // A byte-order mark first, CR alone as line end, Ctrl-Z last.
        {0x4000,
         {1, 2, 3},
         "\xEF\xBB\xBF" + hex_line(0, 0x4000, {1, 2, 3}) + "\r\r" + hex_eof + "\x1A"},
        {0x4000, {1, 2, 3}, abc + hex_eof + "\r\n\x1A"},
        {0x4000, {1, 0, 0, 2}, line(0, 0x4000, {1}) + line(0, 0x4003, {2}) + hex_eof},  // gap 0x00
        // Backwards records land at their own addresses, the gap between them 0x00.
        {0x4000,
         {1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 4},
         line(0, 0x4010, {3, 4}) + line(0, 0x4000, {1, 2}) + hex_eof},
        {0x100,
         {1, 2, 3, 4, 5},
         line(0, 0x100, {1, 2, 3, 4}) + line(0, 0x102, {3, 4, 5}) + hex_eof},
        {0x404000, {7}, ext + line(0, 0x4000, {7}) + hex_eof},
        {0x10010, {7}, line(2, 0, {0x10, 0x00}) + line(0, 0x0010, {7}) + hex_eof},
        // Start addresses (05, 03) do not move the data.
        {0x404000,
         {7},
         ext + line(5, 0, {0x12, 0x34, 0x56, 0x78}) + line(3, 0, {0, 0, 0x12, 0x34}) +
             line(0, 0x4000, {7}) + hex_eof},
        {0, {1}, line(0, 0, {1}) + hex_eof + "\n" + line(0, 1, {2}) + "garbage :zz\n"},
        // Long blank lines are skipped; trailing blanks do not make a record long; a file of
        // the size limit is read.
        {0,
         {1},
         std::string(100000, ' ') + "\n" + hex_line(0, 0, {1}) + std::string(5000, ' ') + "\n" +
             hex_eof},
        {0, {}, std::string(hex_file_limit - hex_eof.size(), ' ') + hex_eof},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(read(c.text)) << c.text << describe(error.defect);
        EXPECT_EQ(image.base_address, c.base) << c.text;
        EXPECT_EQ(image.data, c.data) << c.text;
    }
}

TEST_F(HexReader, DefectsFailNamingTheirLine) {
    const std::string ok = line(0, 0, {1});
    std::string bad_sum = hex_line(0, 0x20, {5});
    bad_sum.back() = bad_sum.back() == '0' ? '1' : '0';
    // The same 255 bytes again and again: agreeing overlaps, but data without end.
    std::string endless;
    for (std::size_t i = 0; i * 255 <= hex_image_limit; ++i) {
        endless += line(0, 0, bytes(255, 0x5A));
    }
    const std::string png = std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16);
    const bytes fullrom = random_bytes(fullrom_size, 9);
    using enum hex_defect;
    const struct {
        hex_defect defect;
        std::size_t line;
        std::string text;
    } cases[] = {
        {no_end_record, 0, ok},
        {checksum_mismatch, 3, ok + "\n" + bad_sum + "\n" + hex_eof},
        {count_mismatch, 2, ok + ":0200000001FD\n" + hex_eof},  // the sum right for what is there
        {count_mismatch, 2, ok + ":010000000102FC\n" + hex_eof},
        {not_hex, 2, ok + ":01 00000001FE\n" + hex_eof},
        {too_short, 2, ok + ":\n" + hex_eof},
        {odd_digits, 2, ok + ":0100000001F\n" + hex_eof},
        {bad_address_record, 2, ok + line(4, 0, {0x40}) + hex_eof},
        {bad_address_record, 2, ok + line(2, 0, {0, 0x40, 0}) + hex_eof},
        {past_address_space, 2, line(4, 0, {0xFF, 0xFF}) + line(0, 0xFFFF, {1, 2}) + hex_eof},
        {line_too_long, 1, hex_line(0, 0, {1}) + std::string(5000, '0') + "\n" + hex_eof},
        // A record that lost its ':', a comment, after lines that end in CR LF and CR.
        {not_record, 2, ok + hex_line(0, 0x10, {1}).substr(1) + "\n" + hex_eof},
        {not_record, 5, ok + hex_line(0, 1, {2}) + "\r\n\r\r\n# comment\r\n" + hex_eof},
        // Binary bytes, on whatever line: not text; a large binary file is a Fullrom image.
        {binary, 0, png},
        {binary, 0, ok + ":01\x01\n" + hex_eof},
        {binary, 0, ok + "\x1A\n" + hex_eof},  // a Ctrl-Z not at the end
        {fullrom_like, 0, std::string(fullrom.begin(), fullrom.end())},
        {file_too_large, 0, std::string(hex_file_limit + 1, ' ')},
        {overlap, 2, line(0, 0x100, {1, 2, 3, 4}) + line(0, 0x102, {3, 9}) + hex_eof},
        // Line 3 overwrites the start of line 2, which is placed after it.
        {overlap, 2,
         line(0, 0x100, {1, 2}) + line(0, 0x102, {3, 4}) + line(0, 0x101, {2, 9}) + hex_eof},
        // Found also when the later record lies lower.
        {overlap, 1, line(0, 0x102, {3, 9}) + "\n" + line(0, 0x100, {1, 2, 3, 4}) + hex_eof},
        // Two bytes 16 MiB apart: refused without allocating the gap.
        {image_too_large, 3, ok + line(4, 0, {0x01, 0x00}) + line(0, 0, {2}) + hex_eof},
        {image_too_large, hex_image_limit / 255 + 1, endless + hex_eof},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(read(c.text)) << c.text.substr(0, 100);
        EXPECT_EQ(error.defect, c.defect) << c.text.substr(0, 100) << describe(error.defect);
        EXPECT_EQ(error.line, c.line) << c.text.substr(0, 100);
    }
}

}  // namespace
