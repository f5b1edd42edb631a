#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Reads a text file line by line through a fixed buffer, so that no line, however long,
// makes it hold more than a set number of characters. A line ends at LF, CR LF or CR alone;
// a UTF-8 byte-order mark at the start of the text and Ctrl-Z (0x1A) at its end are not
// part of it.
namespace ostrel {

class line_source {
  public:
    // Reads from `file` (not closed here). Of each line, leading blanks are skipped and at
    // most `limit` characters of the rest are kept.
    line_source(std::FILE* file, std::size_t limit);
    // Reads from `text` (which must outlive the source), through the same buffer, so that
    // text in memory is split into lines exactly as the same bytes in a file would be.
    line_source(std::string_view text, std::size_t limit);

    enum class status { line, end, error };

    // The next line without its line end, valid until the next call. `overlong` tells
    // that characters other than blanks were dropped beyond the limit.
    status next(std::string_view& line, bool& overlong);

    // The next line when it looks like a whole record line that lies in the buffer: ':',
    // as many characters as the byte count in its first two announces, then its line end
    // (a CR last in the buffer does not count: a LF may follow it). Consumes nothing: `size` is
    // what skip() takes to move past it. The caller must check that the record holds only digits;
    // the line is then the one next() would give, trimmed.
    bool peek_record(std::string_view& record, std::size_t& size) const;
    void skip(std::size_t size) { pos_ += size; }

  private:
    // The next piece of the text into the buffer, past a byte-order mark at its start.
    bool refill();
    // The usual line: whole in the buffer, no leading blank, within the limit.
    bool next_in_buffer(std::string_view& line);
    // Moves past the line end at `at`, a CR LF whole.
    void end_line(std::size_t at);

    std::FILE* file_ = nullptr;
    std::string_view text_;  // what is left of the text when reading from memory
    std::size_t limit_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::string carry_;  // a line that straddles two buffer fills
    bool error_ = false;
    bool at_start_ = true;   // nothing has been read yet
    bool after_cr_ = false;  // the last line ended with a CR last in the buffer
};

}  // namespace ostrel
