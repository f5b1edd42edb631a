#pragma once

// Processes, temporary directories and files for the tests.
#include <cstdint>
#include <string>
#include <vector>

namespace ostrel::testing {

// A fresh directory under the system's temporary directory, removed with its contents.
class temp_dir {
  public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

void write_file(const std::string& path, const std::string& bytes);
inline void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    write_file(path, std::string(bytes.begin(), bytes.end()));
}
std::vector<std::uint8_t> read_bytes(const std::string& path);

struct process_result {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
    bool timed_out = false;
};

// Runs `argv` to its end (killing it after `timeout_s` seconds) and collects its output; on
// a pseudo-terminal `terminal_columns` wide (when not 0), all it wrote there is `out`.
process_result run_process(const std::vector<std::string>& argv, int timeout_s = 60,
                           int terminal_columns = 0);

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
                                  int timeout_s = 60, int terminal_columns = 0) {
    args.insert(args.begin(), {sim_path, "run", dir, "--", program_path});
    return run_process(args, timeout_s, terminal_columns);
}
#endif

}  // namespace ostrel::testing
