#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

// Opening the files named on the command line. The names are UTF-8 on Windows (the wide
// entry point makes them so, whatever the code page) and the bytes as given elsewhere.
// Inline, so that a reader's sources build on their own (the fuzz targets compile them so).
namespace ostrel {

// `name` as a path that the system's file functions take: converted from UTF-8 to the
// system's wide names on Windows, taken as it is elsewhere.
inline std::filesystem::path file_path(const std::string& name) {
    return {std::u8string(name.begin(), name.end())};
}

// Opens `name` for reading its bytes as they are: no line-end translation, and a Ctrl-Z
// (0x1A) is a byte like any other. Null when it cannot be opened.
inline std::FILE* open_for_reading(const std::string& name) {
#ifdef _WIN32
    return _wfopen(file_path(name).c_str(), L"rb");  // names outside the ANSI code page too
#else
    return std::fopen(name.c_str(), "rb");
#endif
}

}  // namespace ostrel
