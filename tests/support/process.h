// Child processes for end-to-end tests: start a program with given arguments,
// environment and working directory, read its stdout and stderr while it runs,
// send it signals, and collect its exit status with a timeout after which it is
// killed.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvn_test {

struct ProcessOptions {
    std::string program;                // path of the file to execute
    std::vector<std::string> args;      // argv; args[0] may differ from program
    std::vector<std::pair<std::string, std::string>> env;  // set on top of the current environment; the last value of a name wins
    std::vector<std::string> unset_env; // removed from the child's environment, env included
    std::string cwd;                    // empty: the current directory
};

struct ProcessResult {
    int exit_status = -1;  // -1 when the child did not exit normally
    int term_signal = 0;   // the signal that ended it, if one did
    bool timed_out = false;
    std::string out;
    std::string err;
};

class Process {
public:
    explicit Process(const ProcessOptions &options);
    ~Process();  // kills a child that is still running
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Reads output until text has appeared on stdout (that many times), the
    // child ended or the time is up; true when it was seen.
    bool wait_for_output(std::string_view text, int timeout_ms, size_t occurrences = 1);
    void send_signal(int signal);
    // Waits for the child to end, killing it when the time is up.
    ProcessResult wait(int timeout_ms);

    const std::string &out() const { return out_; }
    const std::string &err() const { return err_; }

private:
    // Reads what is available within timeout_ms; false once both pipes closed.
    bool pump(int timeout_ms);

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::string out_;
    std::string err_;
    bool reaped_ = false;
    int status_ = 0;
};

// Starts the program and waits for it to end.
ProcessResult run_process(const ProcessOptions &options, int timeout_ms);

// How many times needle occurs in text (non-overlapping).
size_t count_occurrences(std::string_view text, std::string_view needle);
// True when every needle occurs in text, each after the previous one.
bool contains_in_order(std::string_view text, const std::vector<std::string> &needles);

} // namespace kvn_test
