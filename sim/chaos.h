#pragma once

// The chaos mode of the virtual Ostrel, armed with the fault rule chaos=SEED (optionally
// chaos:COMMAND=SEED, chaos:boot/P=SEED... to limit it to some requests). From the seed it
// decides, for every request it sees, whether the device answers as it should or does one
// of the things below. Each decision follows from the seed and the number of the request
// alone, so a seed replays exactly, also across processes sharing the mapped state file.
//
// How often the device misbehaves is itself drawn from the seed: one request in 2, 4, 16,
// 64, 512 or 4096, so that some seeds break a run at once and others let it get deep into
// a load or an update before something goes wrong.
//
// Every decision is recorded in device_state::chaos (counts per behaviour). So is every
// blind spot: an acceptance the host cannot tell from a real one ('$' in the application,
// status 0x00 in the bootloader) or a bank status ('T') that no request of the moment
// earned (the command was not carried out, the report is a copy, an invention or late),
// and a bootloader 'D' dropped without a refusal, since the host takes silence for
// acceptance there.
#include <cstdint>

#include "sim/model.h"

namespace sim {

enum class chaos_act : std::uint8_t {
    normal = 0,    // answered as the device should
    wrong_id,      // the reply carries another reply code; the command done or not
    short_reply,   // a read of the reply delivers only its first 1 to 63 bytes
    random_reply,  // 64 random bytes instead of the reply; the command done or not
    refuse,        // refused ('E', or a status other than 0x00), not done
    flood,         // 1 to 62 unrelated reports ahead of the reply
    silence,       // no reply; the command done or not
    late,          // the reply comes 1 ms to 3 s late
    unsolicited,   // the reply, then 1 to 3 reports nobody asked for within 2 s: copies of
                   // it, acceptances, replies of other commands
    ack_only,      // acknowledged as done, not done
    vanish,        // the device leaves USB, the command done or not, and comes back after
                   // up to 20 s as the application or the bootloader, whatever was asked;
                   // one time in eight it does not come back
    storm,         // the reply, then unrelated reports one a millisecond for up to 3 s
    count
};

// What the chaos mode decided for one request, before the device handles it.
struct chaos_turn {
    chaos_act act = chaos_act::normal;
    bool apply = true;    // the command is carried out
    bool ignore = false;  // the device does nothing at all with it (a mode switch ignored)
    std::uint64_t key = 0;
};

// Decides on a request; act normal when the chaos mode is not armed for it.
chaos_turn chaos_begin(device_state& state, usb_mode mode, const request_bytes& request);
// Sends what the turn makes of the command's outcome, in place of the normal reply.
void chaos_finish(device_state& state, std::int64_t now_ns, usb_mode mode,
                  const request_bytes& request, const chaos_turn& turn,
                  const command_outcome& outcome);

// Lets the reports of a storm arrive; when the next one is due.
void chaos_settle(device_state& state, std::int64_t now_ns);
std::int64_t chaos_next_event_ns(const device_state& state);

}  // namespace sim
