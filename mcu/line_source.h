#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Reads a text file line by line through a fixed buffer, so that no line, however long,
// makes it hold more than a set number of characters.
namespace ostrel {

class line_source {
  public:
    // Reads from `file` (not closed here). Of each line, leading blanks are skipped and at
    // most `limit` characters of the rest are kept.
    line_source(std::FILE* file, std::size_t limit);

    enum class status { line, end, error };

    // The next line without its line feed, valid until the next call. `overlong` tells
    // that characters other than blanks were dropped beyond the limit.
    status next(std::string_view& line, bool& overlong);

  private:
    bool refill();

    std::FILE* file_;
    std::size_t limit_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::string carry_;  // a line that straddles two buffer fills
    bool error_ = false;
};

}  // namespace ostrel
