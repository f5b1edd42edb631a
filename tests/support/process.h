#pragma once

#include <string>
#include <vector>

namespace ostrel::testing {

struct process_result {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
    bool timed_out = false;
};

// Runs `argv` to its end (killing it after `timeout_s` seconds) and collects its output; on
// a pseudo-terminal (`terminal`), all it wrote there is `out`.
process_result run_process(const std::vector<std::string>& argv, int timeout_s = 60,
                           bool terminal = false);

#if defined(OSTREL_PROGRAM) && defined(OSTREL_SIM)
inline const std::string program_path = OSTREL_PROGRAM;
inline const std::string sim_path = OSTREL_SIM;

// `ostrel_sim ARGS...`
inline process_result sim(std::vector<std::string> args, int timeout_s = 60) {
    args.insert(args.begin(), sim_path);
    return run_process(args, timeout_s);
}

// The shipped program with ARGS, run against the virtual device in DIR.
inline process_result run_program(const std::string& dir, std::vector<std::string> args,
                                  int timeout_s = 60, bool terminal = false) {
    args.insert(args.begin(), {sim_path, "run", dir, "--", program_path});
    return run_process(args, timeout_s, terminal);
}
#endif

}  // namespace ostrel::testing
