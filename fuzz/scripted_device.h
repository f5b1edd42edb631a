#pragma once

#include <cstddef>
#include <cstdint>

// A device whose every answer comes from the fuzzer's bytes: the hidapi stand-in of
// fuzz/scripted_hidapi.cpp takes, for each call, the next bytes of the script (whether an
// open works, whether a write goes out, what a read delivers, of which length, how late),
// and the program's clock is virtual time that moves only with its waits and, by 1 us, with
// every reading. Once the script is used up the device is gone: opens fail, writes fail,
// reads wait out their time-out.
namespace ostrel::fuzz {

// Starts a run on `script` (which must outlive it); drops every handle of the run before.
void start_script(const std::uint8_t* data, std::size_t size);

// What the run did.
struct script_stats {
    std::size_t calls = 0;               // hidapi calls
    std::size_t calls_after_end = 0;     // of them, after the script was used up
    std::int64_t now_ns = 0;             // virtual time since the start of the run
    std::int64_t end_of_script_ns = -1;  // when the script ran out (-1: it did not)
};
const script_stats& stats();

// Called by the stand-in for every request the program sends: `product_id` is that of the
// handle it goes out on. Aborts on a request no device of that identity should get.
void check_request(unsigned short product_id, bool feature, const unsigned char* data,
                   std::size_t length);

}  // namespace ostrel::fuzz
