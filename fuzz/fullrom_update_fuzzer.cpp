// The bridge update (-u) against the virtual device, with the Fullrom image, the device's
// bank status and a fault plan taken from the fuzzer's bytes. The device holds an old image
// with the banks the input names valid; the file is that image with the input's patches, so
// that only the regions the patches touch differ. Every run is cut short by an unplug after
// at most `max_requests` requests: a full update takes some 12,000, far too many for millions
// of runs; the whole update under single faults is the brick-safety sweep's job.
//
// Checked after every run (abort on violation): the run ends within the waits it made;
// every request is one the bridge knows, every erase and write lies in 0x00000 to 0x7FFFF
// and every erase carries the confirmation word; status 0 with "VXR firmware update
// complete!" only when the device runs the new image (the host cannot see an invalidation
// write that is acknowledged but not made; then only the next check holds), with "No update
// to VXR firmware needed" only when the device's sums equal the image's and nothing was
// erased or written; whatever the outcome every valid bank holds a whole old or new copy
// (unless a block erase of the recovery from a contradictory status was acknowledged but not
// made, which the host cannot see either), and a pair that had a valid bank keeps one (unless
// a pair claimed both banks: the update then erases all four).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "sim/bridge_flash.h"
#include "sim/inprocess_device.h"
#include "tests/support/cli_run.h"
#include "vxr/fullrom.h"

namespace {

using image = std::vector<std::uint8_t>;

constexpr std::uint32_t flash_size = sim::bridge_flash_size;
constexpr std::uint32_t max_requests = 160;
constexpr std::uint32_t max_delay_ms = 1500;

struct area {
    std::uint32_t start;
    std::uint32_t size;
};
constexpr area config_bank[2] = {{0x00000, 0x8000}, {0x20000, 0x8000}};
constexpr area fw_bank[2] = {{0x08000, 0x18000}, {0x28000, 0x18000}};
constexpr area esm = {0x40000, 0x40000};

[[noreturn]] void violation(const char* what) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

std::uint32_t u32_at(const sim::request_bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

std::uint32_t sum_of(const image& bytes, std::uint32_t at, std::uint32_t size) {
    return ostrel::sum_bytes(bytes.data() + at, bytes.data() + at + size);
}

// The old image on the device and on disk, made once; the file is patched and restored
// around every run.
struct fixture {
    image old_image = sim::make_fullrom_image(41, "VXR OLD");
    std::string path;
    int fd = -1;
    sim::device_state pristine{};  // a fresh device before its flash and banks are set

    fixture() {
        char name[] = "/tmp/fuzz-fullrom-XXXXXX";
        fd = mkstemp(name);
        if (fd < 0 || write(fd, old_image.data(), old_image.size()) !=
                          static_cast<ssize_t>(old_image.size())) {
            std::abort();
        }
        path = name;
        sim::init_state(pristine, {});
    }
    ~fixture() {
        close(fd);
        unlink(path.c_str());
    }

    void put(std::uint32_t at, const std::uint8_t* bytes, std::size_t size) const {
        if (pwrite(fd, bytes, size, at) != static_cast<ssize_t>(size)) {
            std::abort();
        }
    }
    void resize(std::size_t size) const {
        if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
            std::abort();
        }
    }
};

fixture& shared() {
    static fixture f;
    return f;
}

// The device as it is before the run: old image, the banks not named valid invalidated
// as the program does it (first and last byte of the trailer 0x00).
void prepare_device(sim::inprocess_device& dev, std::uint8_t bank_status) {
    fixture& f = shared();
    sim::device_state& state = dev.state();
    const auto generation = state.generation;
    std::memcpy(&state, &f.pristine, offsetof(sim::device_state, mcu_flash));
    state.generation = generation + 1;  // handles of earlier runs are dead
    state.bank_status = bank_status;
    std::memcpy(state.bridge_flash, f.old_image.data(), flash_size);
    const area banks[4] = {config_bank[0], config_bank[1], fw_bank[0], fw_bank[1]};
    for (std::size_t i = 0; i < 4; ++i) {
        if ((bank_status & (1u << i)) == 0) {
            state.bridge_flash[banks[i].start + banks[i].size - 16] = 0x00;
            state.bridge_flash[banks[i].start + banks[i].size - 1] = 0x00;
        }
    }
    sim::refresh_bridge(state);
    dev.requests.clear();
    dev.opens.clear();
}

bool valid(const sim::device_state& state, area bank) {
    const std::uint8_t* trailer = state.bridge_flash + bank.start + bank.size - 16;
    const auto usable = [](std::uint8_t b) { return b != 0x00 && b != 0xFF; };
    return usable(trailer[0]) && usable(trailer[15]);
}

bool holds(const sim::device_state& state, area where, const image& bytes, area source) {
    return std::equal(state.bridge_flash + where.start,
                      state.bridge_flash + where.start + where.size, bytes.begin() + source.start);
}

// Whether `bank` holds a copy of the image: the one the update writes (the image's bank-0
// copy) or the image's own copy for that bank, which the decision compares a valid bank
// with (the two differ only in an image that carries two different copies).
bool holds_copy(const sim::device_state& state, area bank, const image& bytes, const area& bank0) {
    return holds(state, bank, bytes, bank0) || holds(state, bank, bytes, bank);
}

// The bank of each pair the bridge starts from (bank 1 when valid) is valid and holds a copy
// of the image, and the esm region holds the image's bytes.
bool runs(const sim::device_state& state, const image& bytes) {
    const auto good = [&](const area(&pair)[2]) {
        const area& bank = pair[valid(state, pair[1]) ? 1 : 0];
        return valid(state, bank) && holds_copy(state, bank, bytes, pair[0]);
    };
    return good(config_bank) && good(fw_bank) && holds(state, esm, bytes, esm);
}

// Every valid bank of the pair holds a whole copy, the one it held before or the new one;
// and a pair that had a valid bank still has one, unless a pair claimed both of its banks:
// there is then no telling which copy is good, and the update erases all four banks.
bool pair_safe(const sim::device_state& state, const area (&pair)[2], const image& before,
               const image& new_image, std::uint8_t status_before, std::uint8_t pair_bits) {
    for (const area& bank : pair) {
        if (valid(state, bank) && !holds(state, bank, before, bank) &&
            !holds_copy(state, bank, new_image, pair[0])) {
            return false;
        }
    }
    const bool contradictory = (status_before & 0x03) == 0x03 || (status_before & 0x0C) == 0x0C;
    if ((status_before & pair_bits) != 0 && !contradictory) {
        return valid(state, pair[0]) || valid(state, pair[1]);
    }
    return true;
}

void check_requests(const std::vector<sim::request_record>& requests) {
    for (const sim::request_record& record : requests) {
        const sim::request_bytes& b = record.bytes;
        if (b[0] != 0x00) {
            violation("request with a report number other than 0");
        }
        switch (b[1]) {
            case 'T':
            case '*':
            case 'N':
                break;
            case 'K':
                if (std::uint64_t{u32_at(b, 2)} + u32_at(b, 6) > flash_size) {
                    violation("checksum range outside the bridge's flash");
                }
                break;
            case 'A':
                if (b[2] == 0 || b[2] > 32 || std::uint64_t{u32_at(b, 3)} + b[2] > flash_size) {
                    violation("write outside the bridge's flash or of a bad size");
                }
                break;
            case 'D': {
                const std::uint32_t at =
                    b[2] == 0x80 ? std::uint32_t{b[3]} << 12 : std::uint32_t{b[2]} << 16;
                if ((b[2] != 0x80 && b[3] != 0) || at >= flash_size) {
                    violation("erase outside the bridge's flash");
                }
                if (std::memcmp(b.data() + 4, "KQWIPEZON", 9) != 0) {
                    violation("erase without the confirmation word");
                }
                break;
            }
            default:
                violation("request the bridge update has no business sending");
        }
    }
}

// A fault rule in the syntax of `ostrel_sim fault`, from the input.
std::string fault_rule(FuzzedDataProvider& in) {
    static const char* const kinds[] = {"refuse", "noreply",   "acknowrite", "delay",
                                        "stray",  "badstatus", "stream",     "denied"};
    static const char* const commands[] = {"", ":T", ":K", ":A", ":D", ":app/A", ":0x44"};
    const std::string kind = kinds[in.ConsumeIntegralInRange<std::size_t>(0, 7)];
    std::string rule = kind;
    if (kind == "stream" || kind == "denied") {
        return rule;
    }
    const std::size_t command = in.ConsumeIntegralInRange<std::size_t>(0, 6);
    rule += commands[command];
    // A run sends a few 'T' and 'K', and up to max_requests of the others. acknowrite always
    // on one request, so that the request it hit can be told.
    const std::uint32_t most = command == 1 ? 4 : command == 2 ? 10 : max_requests;
    const auto nth = in.ConsumeIntegralInRange<std::uint32_t>(kind == "acknowrite" ? 1 : 0, most);
    if (nth != 0) {
        rule += "@" + std::to_string(nth);
    }
    if (kind == "delay") {
        rule += "=" + std::to_string(in.ConsumeIntegralInRange<std::uint32_t>(0, max_delay_ms));
    } else if (kind == "stray") {
        rule += "=" + std::to_string(in.ConsumeIntegralInRange<std::uint32_t>(1, 70));
    }
    return rule;
}

// The requests that an acknowledged-but-not-made fault hit.
std::vector<const sim::request_bytes*> unmade(const std::vector<sim::request_record>& requests,
                                              const std::vector<std::string>& rules) {
    std::vector<const sim::request_bytes*> hit;
    for (const std::string& rule : rules) {
        if (rule.rfind("acknowrite", 0) != 0) {
            continue;
        }
        const auto at = rule.find('@');
        const std::uint32_t nth = static_cast<std::uint32_t>(std::stoul(rule.substr(at + 1)));
        std::uint8_t command = 0;
        if (rule.find(":0x44") != std::string::npos) {
            command = 'D';
        } else if (const auto colon = rule.find(':'); colon != std::string::npos) {
            command = static_cast<std::uint8_t>(rule[at - 1]);
        }
        std::uint32_t seen = 0;
        for (const sim::request_record& record : requests) {
            if ((command == 0 || record.bytes[1] == command) && ++seen == nth) {
                hit.push_back(&record.bytes);
                break;
            }
        }
    }
    return hit;
}

// The host cannot see these fail: a one-byte write that invalidates a bank, and a block
// erase of the recovery from a contradictory status (nothing reads the flash back there).
bool invalidation_unmade(const std::vector<const sim::request_bytes*>& hit) {
    return std::any_of(hit.begin(), hit.end(),
                       [](const sim::request_bytes* b) { return (*b)[1] == 'A' && (*b)[2] == 1; });
}
bool bank_erase_unmade(const std::vector<const sim::request_bytes*>& hit) {
    return std::any_of(hit.begin(), hit.end(), [](const sim::request_bytes* b) {
        return (*b)[1] == 'D' && (*b)[2] != 0x80 && (*b)[2] < 4;
    });
}

struct patch {
    std::uint32_t at;
    std::size_t size;
};

// What a run was given and did, for reproducing a finding (OSTREL_FUZZ_VERBOSE set).
void describe_run(std::uint8_t bank_status, std::size_t length,
                  const std::vector<std::string>& rules, const std::vector<patch>& patches,
                  const std::vector<sim::request_record>& requests,
                  const ostrel::testing::cli_result& result) {
    std::fprintf(stderr, "bank status 0x%02X, file of %zu bytes, faults:", bank_status, length);
    for (const std::string& rule : rules) {
        std::fprintf(stderr, " %s", rule.c_str());
    }
    std::fprintf(stderr, "\npatches:");
    for (const patch& p : patches) {
        std::fprintf(stderr, " 0x%05X+%zu", p.at, p.size);
    }
    std::fprintf(stderr, "\nrequests:\n");
    for (const sim::request_record& r : requests) {
        const auto& b = r.bytes;
        std::fprintf(stderr, "  %c %02X %02X addr 0x%X len 0x%X\n", b[1], b[2], b[3],
                     b[1] == 'K' ? u32_at(b, 2) : u32_at(b, 3), b[1] == 'K' ? u32_at(b, 6) : b[2]);
    }
    std::fprintf(stderr, "status %d\nout:\n%serr:\n%s", result.status, result.out.c_str(),
                 result.err.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    fixture& f = shared();
    static sim::inprocess_device& dev = sim::inprocess_device::reset();

    // Buffers kept from run to run: a fresh half megabyte each time costs more than the run.
    static image before(flash_size);
    static image new_image = f.old_image;

    const auto bank_status = in.ConsumeIntegral<std::uint8_t>();
    prepare_device(dev, bank_status);
    std::copy_n(dev.state().bridge_flash, flash_size, before.begin());

    // The file: the old image with patches, sometimes of the wrong length.
    std::size_t length = flash_size;
    if (const auto choice = in.ConsumeIntegral<std::uint8_t>(); choice >= 248) {
        length = flash_size - 1 - in.ConsumeIntegralInRange<std::uint32_t>(0, 0x7FFFF);
    } else if (choice >= 240) {
        length = flash_size + 1 + in.ConsumeIntegralInRange<std::uint32_t>(0, 0xFFFF);
    }
    std::vector<std::string> rules;
    const auto rule_count = in.ConsumeIntegralInRange<std::size_t>(0, 4);
    for (std::size_t i = 0; i < rule_count; ++i) {
        rules.push_back(fault_rule(in));
    }
    rules.push_back("unplug=" +
                    std::to_string(in.ConsumeIntegralInRange<std::uint32_t>(1, max_requests)));
    std::vector<patch> patches;
    while (in.remaining_bytes() > 0 && patches.size() < 8) {
        const auto at = in.ConsumeIntegralInRange<std::uint32_t>(0, flash_size - 1);
        const auto bytes = in.ConsumeBytes<std::uint8_t>(
            std::min<std::size_t>(in.ConsumeIntegralInRange<std::size_t>(1, 16), flash_size - at));
        if (bytes.empty()) {
            break;
        }
        std::copy(bytes.begin(), bytes.end(), new_image.begin() + at);
        f.put(at, bytes.data(), bytes.size());
        patches.push_back({at, bytes.size()});
    }
    if (length != flash_size) {
        f.resize(length);
    }

    for (const std::string& rule : rules) {
        dev.arm(rule);
    }
    const std::int64_t start_ns = dev.now_ns();
    const auto result = ostrel::testing::run_cli({"-u", f.path});
    const std::int64_t elapsed_ms = (dev.now_ns() - start_ns) / 1'000'000;

    // Restore the file for the next run.
    if (length != flash_size) {
        f.resize(flash_size);
        if (length < flash_size) {
            f.put(static_cast<std::uint32_t>(length), f.old_image.data() + length,
                  flash_size - length);
        }
    }
    for (const patch& p : patches) {
        f.put(p.at, f.old_image.data() + p.at, p.size);
    }
    // new_image is put back once the checks below are done.
    struct restore_image {
        const std::vector<patch>& patches;
        const image& old_image;
        ~restore_image() {
            for (const patch& p : patches) {
                std::copy_n(old_image.begin() + p.at, p.size, new_image.begin() + p.at);
            }
        }
    } restore{patches, f.old_image};

    const sim::device_state& state = dev.state();
    const auto& requests = dev.requests;
    if (std::getenv("OSTREL_FUZZ_VERBOSE") != nullptr) {
        describe_run(bank_status, length, rules, patches, requests, result);
    }
    if (requests.size() > max_requests) {
        violation("requests to a device that has left");
    }
    // A mode switch and 15 s of waiting for the device, then at most one command wait
    // (1 s, or the longest delay, plus a millisecond of polling) per request sent and a
    // few for requests the departed device never took.
    const std::int64_t bound_ms =
        16'000 + (std::int64_t(requests.size()) + 8) * (1'000 + max_delay_ms + 2);
    if (elapsed_ms > bound_ms) {
        violation("the run waited longer than its requests allow");
    }
    check_requests(requests);

    const bool changed_flash = std::any_of(requests.begin(), requests.end(), [](const auto& r) {
        return r.bytes[1] == 'A' || r.bytes[1] == 'D';
    });
    const auto hit = unmade(requests, rules);
    if (result.status == 0) {
        if (result.out.ends_with("VXR firmware update complete!\n")) {
            if (!runs(state, new_image) && !invalidation_unmade(hit)) {
                violation("success reported, but the device does not run the new image");
            }
        } else if (result.out.ends_with("No update to VXR firmware needed\n")) {
            // The decision compared the bank the device named valid in each pair.
            const std::uint8_t s = bank_status;
            const auto same = [&](std::uint32_t at, std::uint32_t n) {
                return sum_of(before, at, n) == sum_of(new_image, at, n);
            };
            const bool config_same =
                (s & 0x03) != 0 && same((s & 0x02) ? 0x20000 : 0x00000, 0x8000);
            const bool fw_same = (s & 0x0C) != 0 && same((s & 0x08) ? 0x28000 : 0x08000, 0x18000);
            if (!config_same || !fw_same || !same(0x40000, 0x40000) || changed_flash) {
                violation("nothing to update reported for a device that differs");
            }
        } else {
            violation("status 0 without a success message");
        }
    } else if (result.status != 1 || result.err.empty()) {
        violation("a failure without status 1 and a message");
    }
    // Whatever the outcome: no valid bank holds a torn copy.
    if (!bank_erase_unmade(hit) &&
        (!pair_safe(state, config_bank, before, new_image, bank_status, 0x03) ||
         !pair_safe(state, fw_bank, before, new_image, bank_status, 0x0C))) {
        violation("a valid bank holds neither a whole old nor a whole new copy");
    }
    return 0;
}
