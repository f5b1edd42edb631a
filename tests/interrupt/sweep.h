#pragma once

// One driver for every interruption of a load (-f) or an update (-u). A row of a table says
// what to fault; the driver makes a reference run, takes the fault points from its
// requests, and for each fault at each point: a fresh device, the faulted run and its
// checks, every other time a second fault in the run after, then a repair run that must
// finish the job. A row of successive interruptions draws its sequences instead: each
// fault at a request of the run it interrupts, found by running that run undisturbed first.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "sim/inprocess_device.h"
#include "sim/state_file.h"
#include "tests/mcu/hex_writer.h"
#include "tests/support/bridge_oracle.h"
#include "tests/support/cli_run.h"
#include "tests/support/process.h"

namespace interrupt_test {

using namespace ostrel::testing;
using request_log = std::vector<sim::request_record>;

// A fresh virtual device and the program run against it: in process on the virtual clock,
// or the shipped program under `ostrel_sim run` (the only way to a `kill` fault), its
// device in a state file that the test makes and reads.
class device {
  public:
    explicit device(bool shipped) : shipped_(shipped) {}
    sim::device_state& state() { return *state_; }
    const std::string& path() const { return dir_.path(); }  // also for the inputs

    void reset(const sim::device_options& options) {
        std::string error;
        if (!shipped_) {
            state_ = &sim::inprocess_device::reset(options).state();
        } else if (file_.create(path(), error)) {
            state_ = file_.get();
            sim::init_state(state(), options);
        } else {
            throw std::runtime_error(error);
        }
    }

    process_result run(const std::vector<std::string>& args) const {
        if (shipped_) {
            return run_program(path(), args, 60);
        }
        auto [status, out, err] = run_cli(args);
        return {status, std::move(out), std::move(err)};
    }

    request_log log() const {
        if (!shipped_) {
            return sim::inprocess_device::current().requests;
        }
        std::ifstream in(sim::state_file::log_path(path()), std::ios::binary);
        request_log records;
        for (sim::request_record r{}; in.read(reinterpret_cast<char*>(&r), sizeof r);) {
            records.push_back(r);
        }
        return records;
    }

    // Forgets the requests after the first `count`.
    void truncate_log(std::size_t count) {
        if (!shipped_) {
            sim::inprocess_device::current().requests.resize(count);
        } else if (count < log().size()) {
            std::filesystem::resize_file(sim::state_file::log_path(path()),
                                         count * sizeof(sim::request_record));
        }
    }

    // Lets a re-enumeration under way end: the stand-in ends it on its next call once its
    // time is up; the virtual clock is moved on.
    void settle() {
        if (shipped_) {
            usleep(50'000);
        } else {
            sim::inprocess_device::current().advance_ns(1'000'000'000);
            sim::settle(state(), sim::inprocess_device::current().now_ns());
        }
    }

  private:
    bool shipped_;
    temp_dir dir_;
    sim::state_file file_;
    sim::device_state* state_ = nullptr;
};

struct sweep_row {
    const char* name;
    std::size_t hex = 0;  // -f with a HEX image of so many bytes; 0: -u
    // Fault rules; '#' stands for each fault point (a request count, 1 for the first). The
    // shipped program runs for `kill` faults, the program in process for the others.
    std::vector<std::string> faults;
    // The points: the request before, at and after each request whose command is in
    // `around` ("": each request but the data chunks), and each `data_step`-th chunk of a
    // run of data chunks.
    std::string around{};
    std::size_t data_step = 0;
    std::string setup{};     // a rule armed for the reference run and each faulted run
    std::string advice{};    // the exact line after the failure line
    std::string printed{};   // what a run killed outright has printed last (a pipe's reader saw)
    int banks_after = -1;    // the bank status the fault leaves (-1: any safe one)
    std::uint8_t banks = 5;  // -u: the banks the old image holds valid (bank status)
    bool from_app = false;   // -f: the device starts in its application, else its bootloader
    // Successive interruptions: `chain` faulted runs in a row, each by a fault drawn from
    // `faults` at a request drawn from those the run makes undisturbed (a telling one every
    // other time), then a plain run; `samples` such sequences, drawn from a fixed seed.
    std::size_t chain = 1;
    std::size_t samples = 0;
    friend void PrintTo(const sweep_row& row, std::ostream* out) { *out << row.name; }
};

class sweeper {
  public:
    explicit sweeper(const sweep_row& row)
        : row_(row), dev_(row.faults.front().starts_with("kill")) {
        const std::string path = dev_.path() + "/image";
        if (row.hex != 0) {
            old_ = random_bytes(row.hex, 1);
            image_ = random_bytes(row.hex, 2);
            write_file(path, hex_file(0x404000, image_, 32));
        } else {
            old_ = sim::make_fullrom_image(41, "VXR OLD");
            invalidate_banks(old_, row.banks);
            image_ = sim::make_fullrom_image(42, "VXR NEW");
            write_file(path, image_);
        }
        args_ = {row.hex != 0 ? "-f" : "-u", path};
    }

    void run() {
        if (row_.chain > 1) {
            run_chains();
            return;
        }
        fresh("");
        ASSERT_TRUE(completed(dev_.run(args_))) << "the reference run";
        const request_log reference = dev_.log();
        const std::vector<std::size_t> points = points_of(reference);
        int failures = 0;
        std::size_t runs = 1;
        for (const std::string& fault : row_.faults) {
            const bool swept = fault.find('#') != std::string::npos;
            for (std::size_t k = 0; k < (swept ? points.size() : 1); ++k, runs += 2) {
                const std::string rule = at(fault, swept ? points[k] : 0);
                SCOPED_TRACE(rule);
                fresh(rule);
                log_start_ = 0;
                bool good = after_fault(dev_.run(args_), rule, true);
                if (swept && k % 2 == 1) {
                    const std::string again =
                        at(fault, points[(k + points.size() / 2) % points.size()]);
                    repair(k, again);
                    log_start_ = dev_.log().size();
                    good = after_fault(dev_.run(args_), again, false) && good;
                    ++runs;
                }
                repair(k, "");
                good = completed(dev_.run(args_)) && good;
                ASSERT_LT(failures += good ? 0 : 1, 5) << "giving up";
            }
        }
        std::cout << row_.name << ": " << runs << " runs, the reference run of " << reference.size()
                  << " requests\n";
    }

  private:
    const sweep_row& row_;
    device dev_;
    bytes old_;
    bytes image_;
    std::vector<std::string> args_;
    std::size_t log_start_ = 0;  // the requests before the run under check

    void run_chains() {
        std::mt19937 draw(static_cast<unsigned>(row_.chain << 8 | row_.banks));
        std::map<std::string, std::size_t> kinds;
        std::size_t runs = 0;
        int failures = 0;
        for (std::size_t n = 0; n < row_.samples; ++n) {
            fresh("");
            std::string sequence;
            bool good = true;
            for (std::size_t step = 0; step < row_.chain; ++step, runs += 2) {
                const std::string& fault = row_.faults[draw() % row_.faults.size()];
                const std::optional<std::size_t> point = pick(fault, draw);
                if (!point) {
                    break;  // nothing left to interrupt
                }
                const std::string rule = at(fault, *point);
                sequence += " " + rule;
                SCOPED_TRACE(sequence);
                arm(rule);
                log_start_ = dev_.log().size();
                good = after_fault(dev_.run(args_), rule, true) && good;
                ++kinds[fault];
                repair(step, "");
            }
            SCOPED_TRACE(sequence);
            good = completed(dev_.run(args_)) && good;
            ++runs;
            ASSERT_LT(failures += good ? 0 : 1, 5) << "giving up";
        }
        std::cout << row_.name << ": " << row_.samples << " sequences of " << row_.chain
                  << " interruptions, " << runs << " runs;";
        for (const auto& [kind, count] : kinds) {
            std::cout << " " << kind << " " << count;
        }
        std::cout << "\n";
    }

    // A point for `fault` in the run about to start, counted as its rule counts: one of the
    // requests the run makes undisturbed (a dry run, after which the device is put back as
    // it was), every other time one of its telling points.
    std::optional<std::size_t> pick(const std::string& fault, std::mt19937& draw) {
        const auto saved = std::make_unique<sim::device_state>(dev_.state());
        const std::size_t start = dev_.log().size();
        static_cast<void>(dev_.run(args_));
        request_log undisturbed = dev_.log();
        undisturbed.erase(undisturbed.begin(), undisturbed.begin() + static_cast<long>(start));
        dev_.state() = *saved;
        dev_.truncate_log(start);
        const sim::fault_rule shape = parse(at(fault, 1));
        const std::vector<std::size_t> telling = points_of(undisturbed);
        std::vector<std::size_t> all;  // the requests the rule counts, as its counts
        std::vector<std::size_t> told;
        for (std::size_t i = 0; i < undisturbed.size(); ++i) {
            if (matches(shape, undisturbed[i])) {
                all.push_back(all.size() + 1);
                if (std::binary_search(telling.begin(), telling.end(), i + 1)) {
                    told.push_back(all.size());
                }
            }
        }
        const std::vector<std::size_t>& from = !told.empty() && draw() % 2 == 0 ? told : all;
        if (from.empty()) {
            return std::nullopt;
        }
        return from[draw() % from.size()];
    }

    static std::string at(std::string rule, std::size_t point) {
        const std::size_t hash = rule.find('#');
        return hash == std::string::npos ? rule : rule.replace(hash, 1, std::to_string(point));
    }
    static sim::fault_rule parse(const std::string& text) {
        std::string error;
        return sim::parse_fault_rule(text, error).value();  // throws on a bad rule
    }
    void arm(const std::string& rule) {
        if (!rule.empty()) {
            sim::arm_fault(dev_.state(), parse(rule));
        }
    }

    // A fresh device holding the old image, with the row's setup rule and `rule` armed.
    void fresh(const std::string& rule) {
        dev_.reset({.mode = row_.hex != 0 && !row_.from_app ? sim::usb_mode::bootloader
                                                            : sim::usb_mode::application,
                    .reenumeration_ms = 20});
        if (row_.hex != 0) {
            std::copy(old_.begin(), old_.end(), dev_.state().mcu_flash);
        } else {
            sim::load_bridge_flash(dev_.state(), old_);
        }
        arm(row_.setup);
        arm(rule);
    }

    // The faults gone and the device back on USB (for -f plugged back in by turns in its
    // bootloader and its application), then `rule` armed.
    void repair(std::size_t k, const std::string& rule) {
        sim::device_state& s = dev_.state();
        s.fault_count = 0;
        if (s.mode == sim::usb_mode::absent && s.return_mode != sim::usb_mode::absent) {
            dev_.settle();
        } else if (s.mode == sim::usb_mode::absent) {
            sim::replug(s, row_.hex != 0 && k % 2 == 0 ? sim::usb_mode::bootloader
                                                       : sim::usb_mode::application);
        }
        arm(rule);
    }

    std::vector<std::size_t> points_of(const request_log& reference) const {
        std::set<std::size_t> chosen;  // 1-based, as fault rules count requests
        for (std::size_t i = 0, run = 0; i < reference.size(); ++i) {
            const sim::request_record& r = reference[i];
            const char command = static_cast<char>(r.bytes[1]);
            const bool data = r.mode == sim::usb_mode::bootloader
                                  ? command == 'D'
                                  : command == 'A' && r.bytes[2] == 32;
            run = data ? run + 1 : 0;
            if (row_.around.empty() ? !data : row_.around.find(command) != std::string::npos) {
                chosen.insert({i, i + 1, i + 2});
            } else if (data && row_.data_step != 0 && run % row_.data_step == 0) {
                chosen.insert(i + 1);
            }
        }
        chosen.erase(0);
        chosen.erase(reference.size() + 1);
        return {chosen.begin(), chosen.end()};
    }

    static bool matches(const sim::fault_rule& rule, const sim::request_record& r) {
        return (rule.mode == sim::usb_mode::absent || r.mode == rule.mode) &&
               (rule.command == 0 || r.bytes[1] == rule.command);
    }

    // Whether the device's last request is the one `rule` fired on, its nth match in the
    // run; or, for a stop that came while a bridge bank's trailer held stops, the
    // invalidation of the old bank that ends the hold, at most three requests later.
    bool ends_at(const sim::fault_rule& rule, int signal) const {
        const request_log log = dev_.log();
        std::size_t seen = 0;
        for (std::size_t i = log_start_; i < log.size(); ++i) {
            if (matches(rule, log[i]) && ++seen == rule.nth) {
                const std::size_t after = log.size() - 1 - i;
                const auto& last = log.back().bytes;
                return after == 0 || (signal != 9 && after <= 3 && last[1] == 'A' && last[2] == 1);
            }
        }
        return false;
    }

    // A faulted run: a success must be whole, a failure must say so (status 1, its failure
    // line and at most the advice, or the row's advice exactly); a kill ends the program by
    // its signal right after the request it fired on. No valid bridge bank may then hold a
    // partial copy, and each pair keeps a valid bank.
    bool after_fault(const process_result& r, const std::string& text, bool first) {
        const sim::fault_rule rule = parse(text);
        const bool kill = rule.kind == sim::fault_kind::kill;
        const int signal = rule.value != 0 ? static_cast<int>(rule.value) : 9;
        if (kill && (signal == SIGHUP || signal == SIGPIPE)) {
            // The user or the reader of the output gone: the job goes on to its end all the
            // same, and a run whose output was lost ends with status 1 and says so. A run
            // after the job is done may end before the rule's request.
            if (signal == SIGHUP) {
                return first || r.status != 0 ? job_done(r, 128 + SIGHUP, "") : completed(r);
            }
            return r.status == 0 ? completed(r) : job_done(r, 1, output_lost);
        }
        const std::string line =
            row_.hex != 0 ? "Firmware load failed." : "VXR firmware update failed.";
        const bool told =
            (ends_with_failure(r.err, line) ||
             (row_.hex != 0 && (ends_with_failure(r.err, no_bootloader) ||
                                ends_with_failure(r.err, not_started)))) &&
            (row_.advice.empty() || r.err.ends_with(line + "\n" + row_.advice + "\n"));
        bool honest = r.status == 1 && !kill && told;
        if (r.status == 0) {
            honest = !(kill && first) && completed(r);
        } else if (kill) {
            // A stop that came after the update's last request that could be stopped (in the
            // hold of its last trailer, or its last checksum query) ends it after its success.
            const bool finished = row_.hex == 0 && r.err.empty() &&
                                  (r.out.ends_with("VXR firmware update complete!\n") ||
                                   r.out.ends_with("No update to VXR firmware needed\n")) &&
                                  update_finished(dev_.state(), image_, written);
            honest = r.status == 128 + signal && (signal == 9 || told || finished) &&
                     (!first || ends_at(rule, signal)) && (!first || r.out.ends_with(row_.printed));
        }
        const sim::device_state& s = dev_.state();
        const bool safe = row_.hex != 0 || interruption_safe(s, row_.banks, old_, image_, written);
        const bool banks = row_.banks_after < 0 || s.bank_status == row_.banks_after;
        EXPECT_TRUE(honest && safe && banks)
            << "status " << r.status << ", bank status " << int(s.bank_status) << ": " << r.err;
        return honest && safe && banks;
    }

    // The job done: the load or the update complete, the device holding the image.
    bool completed(const process_result& r) { return job_done(r, 0, ""); }

    // The job done, the run ending with `status` and `err`; its output whole unless lost.
    bool job_done(const process_result& r, int status, const std::string& err) {
        const sim::device_state& s = dev_.state();
        const bool lost = !err.empty();
        const bool done =
            r.status == status && r.err == err &&
            (row_.hex != 0
                 ? (lost || r.out.ends_with("Firmware load complete!\n")) &&
                       std::equal(image_.begin(), image_.end(), s.mcu_flash) &&
                       std::all_of(s.mcu_flash + image_.size(), s.mcu_flash + sim::mcu_flash_size,
                                   [](std::uint8_t b) { return b == 0xFF; })
                 : (lost || r.out.ends_with("VXR firmware update complete!\n") ||
                    r.out.ends_with("No update to VXR firmware needed\n")) &&
                       update_finished(s, image_, written) &&
                       std::string(s.bridge_version) == "VXR NEW");
        EXPECT_TRUE(done) << "status " << r.status << ", bank status " << int(s.bank_status) << ": "
                          << r.err;
        return done;
    }

    static constexpr auto written = copy_match::written;
    static constexpr const char* no_bootloader =
        "Could not connect to bootloader. Firmware load aborted.";
    static constexpr const char* not_started = "The application did not start after the load.";
    static constexpr const char* output_lost =
        "Output was lost: standard output could not be written to its end. The tasks ran to "
        "their end; the status is 1 because their messages are incomplete.\n";
};

}  // namespace interrupt_test
