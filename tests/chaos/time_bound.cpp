#include "tests/chaos/time_bound.h"

namespace chaos_test {
namespace {

constexpr std::int64_t ns_per_ms = 1'000'000;
constexpr std::int64_t reopen_pause_ms = 250;
constexpr std::int64_t mode_switch_limit_ms = 15000;
constexpr std::int64_t slack_per_request_ms = 3;

// The longest the program waits after sending `record` before it sends anything else.
std::int64_t reply_limit_ms(const sim::request_record& record) {
    const std::uint8_t command = record.bytes[1];
    if (record.mode == sim::usb_mode::application) {
        switch (command) {
            case 'B':
                return 0;
            case '*':
                return 2000 + 10;  // reads of 10 ms, none begun after 2 s
            case 'N':
                return 2000 + 1000;  // reads of 1 s, none begun after 2 s
            default:
                return 1000;  // 'T', 'K', 'A', 'D'
        }
    }
    switch (command) {
        case 'D':
            return 0;  // a read that does not wait
        case 'P':
            return 1000 + 65;  // the drain before it (64 reads of 1 ms at most), its reply
        case 'e':
            return 1000;
        case 0x22:
            return 10000;
        case '*':
            return 10;
        default:
            return 0;  // 'B'
    }
}

}  // namespace

std::int64_t time_bound_ns(const std::vector<sim::request_record>& requests,
                           const std::vector<sim::open_attempt>& opens) {
    std::int64_t ms = 10;
    for (const sim::request_record& record : requests) {
        ms += reply_limit_ms(record) + slack_per_request_ms;
    }
    ms += static_cast<std::int64_t>(opens.size()) * (reopen_pause_ms + 1);
    return ms * ns_per_ms;
}

std::string wait_error(const std::vector<sim::request_record>& requests,
                       const std::vector<sim::open_attempt>& opens) {
    std::size_t next_request = 0;
    std::size_t first = 0;  // the first attempt of the current wait
    for (std::size_t i = 1; i <= opens.size(); ++i) {
        bool goes_on = false;
        if (i < opens.size()) {
            while (next_request < requests.size() &&
                   requests[next_request].time_ns <= opens[i - 1].time_ns) {
                ++next_request;
            }
            const bool sent_between = next_request < requests.size() &&
                                      requests[next_request].time_ns <= opens[i].time_ns;
            goes_on = !sent_between && opens[i].product_id == opens[first].product_id &&
                      opens[i].time_ns - opens[i - 1].time_ns >= (reopen_pause_ms - 1) * ns_per_ms;
        }
        if (!goes_on) {
            const std::int64_t span_ms = (opens[i - 1].time_ns - opens[first].time_ns) / ns_per_ms;
            if (span_ms > mode_switch_limit_ms + reopen_pause_ms + 1) {
                return "a wait for product id " + std::to_string(opens[first].product_id) +
                       " went on for " + std::to_string(span_ms) + " ms over " +
                       std::to_string(i - first) + " attempts";
            }
            first = i;
        }
    }
    return "";
}

}  // namespace chaos_test
