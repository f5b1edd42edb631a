// The program's entry point on Windows (app/main.cpp elsewhere). It makes the run behave
// as on Linux: the same bytes on standard output and standard error, file names in any
// script, and waits of a millisecond that last a millisecond.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// windows.h first: timeapi.h needs its types.
#include <timeapi.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/stop_signals.h"
#include "app/tasks.h"

namespace {

// A command-line argument as UTF-8, the encoding the program's file names have on Windows
// (base/file_access.h); the ANSI code page would lose names in other scripts.
std::string utf8(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) {
        return {};
    }
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), length, nullptr, nullptr);
    result.pop_back();  // the terminating NUL
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Binary streams: "\n" stays "\n" (text mode writes "\r\n", also inside a version text).
    static_cast<void>(_setmode(_fileno(stdout), _O_BINARY));
    static_cast<void>(_setmode(_fileno(stderr), _O_BINARY));
    // The system timer at 1 ms for the run: Sleep and the read time-outs otherwise last a
    // whole default period (about 15.6 ms), and a load waits 1 ms about a thousand times.
    const bool fine_timer = timeBeginPeriod(1) == TIMERR_NOERROR;

    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        args.push_back(utf8(argv[i]));
    }
    const int status = ostrel::run_cli(args, std::cout, std::cerr, _isatty(_fileno(stdout)) != 0);
    if (fine_timer) {
        timeEndPeriod(1);
    }
    ostrel::end_if_stopped();
    return status;
}
