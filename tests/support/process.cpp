#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace kvn_test {

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Runs in the child between fork and exec: only async-signal-safe work after
// the environment has been prepared.
[[noreturn]] void exec_child(const ProcessOptions &options, int out_write, int err_write,
                             const std::vector<char *> &argv, const std::vector<char *> &envp)
{
    // A test runner may have inherited ignored or blocked signals (a shell's
    // background job ignores SIGINT); the child gets the defaults back.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGINT, SIGTERM, SIGPIPE, SIGQUIT, SIGHUP}) {
        signal(sig, SIG_DFL);
    }
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) {
        dup2(devnull, STDIN_FILENO);
    }
    dup2(out_write, STDOUT_FILENO);
    dup2(err_write, STDERR_FILENO);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) {
        _exit(127);
    }
    execve(options.program.c_str(), argv.data(), envp.data());
    _exit(127);
}

} // namespace

Process::Process(const ProcessOptions &options)
{
    // The child's environment: ours, minus the removed names, plus the overrides.
    std::vector<std::string> environment;
    for (char **entry = environ; *entry; entry++) {
        std::string_view text(*entry);
        std::string_view name = text.substr(0, text.find('='));
        bool drop = false;
        for (const auto &unset : options.unset_env) {
            drop = drop || name == unset;
        }
        for (const auto &[key, value] : options.env) {
            drop = drop || name == key;
        }
        if (!drop) {
            environment.emplace_back(text);
        }
    }
    // A name given twice takes its last value.
    for (size_t i = 0; i < options.env.size(); i++) {
        bool overridden = false;
        for (size_t j = i + 1; j < options.env.size(); j++) {
            overridden = overridden || options.env[j].first == options.env[i].first;
        }
        for (const auto &unset : options.unset_env) {
            overridden = overridden || options.env[i].first == unset;
        }
        if (!overridden) {
            environment.push_back(options.env[i].first + "=" + options.env[i].second);
        }
    }
    std::vector<std::string> args = options.args.empty() ? std::vector<std::string>{options.program} : options.args;
    std::vector<char *> argv;
    for (auto &arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (auto &entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        return;
    }
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        exec_child(options, out_pipe[1], err_pipe[1], argv, envp);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (pid_ < 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        return;
    }
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
}

Process::~Process()
{
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
    if (out_fd_ >= 0) {
        close(out_fd_);
    }
    if (err_fd_ >= 0) {
        close(err_fd_);
    }
}

bool Process::pump(int timeout_ms)
{
    pollfd fds[2];
    int count = 0;
    if (out_fd_ >= 0) {
        fds[count++] = {out_fd_, POLLIN, 0};
    }
    if (err_fd_ >= 0) {
        fds[count++] = {err_fd_, POLLIN, 0};
    }
    if (count == 0) {
        return false;
    }
    if (poll(fds, static_cast<nfds_t>(count), timeout_ms) <= 0) {
        return true;
    }
    for (int i = 0; i < count; i++) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
            continue;
        }
        char buffer[4096];
        ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        bool is_out = fds[i].fd == out_fd_;
        if (n > 0) {
            (is_out ? out_ : err_).append(buffer, static_cast<size_t>(n));
        } else {
            close(fds[i].fd);
            (is_out ? out_fd_ : err_fd_) = -1;
        }
    }
    return out_fd_ >= 0 || err_fd_ >= 0;
}

bool Process::wait_for_output(std::string_view text, int timeout_ms, size_t occurrences)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (count_occurrences(out_, text) < occurrences) {
        int left = remaining_ms(deadline);
        if (left == 0 || !pump(left)) {
            return count_occurrences(out_, text) >= occurrences;
        }
    }
    return true;
}

void Process::send_signal(int signal)
{
    if (pid_ > 0 && !reaped_) {
        kill(pid_, signal);
    }
}

ProcessResult Process::wait(int timeout_ms)
{
    ProcessResult result;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (pid_ > 0 && !reaped_) {
        if (waitpid(pid_, &status_, WNOHANG) == pid_) {
            reaped_ = true;
            break;
        }
        int left = remaining_ms(deadline);
        if (left == 0) {
            result.timed_out = true;
            kill(pid_, SIGKILL);
            waitpid(pid_, &status_, 0);
            reaped_ = true;
            break;
        }
        if (!pump(left < 20 ? left : 20)) {
            usleep(1000);  // both pipes closed; the child is exiting
        }
    }
    // Whatever is still buffered in the pipes; bounded in case a grandchild
    // keeps them open.
    for (int i = 0; i < 1000 && pump(0); i++) {
    }
    if (reaped_) {
        if (WIFEXITED(status_)) {
            result.exit_status = WEXITSTATUS(status_);
        } else if (WIFSIGNALED(status_)) {
            result.term_signal = WTERMSIG(status_);
        }
    }
    result.out = out_;
    result.err = err_;
    return result;
}

ProcessResult run_process(const ProcessOptions &options, int timeout_ms)
{
    Process process(options);
    return process.wait(timeout_ms);
}

size_t count_occurrences(std::string_view text, std::string_view needle)
{
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + needle.size())) {
        count++;
    }
    return count;
}

bool contains_in_order(std::string_view text, const std::vector<std::string> &needles)
{
    size_t at = 0;
    for (const auto &needle : needles) {
        at = text.find(needle, at);
        if (at == std::string_view::npos) {
            return false;
        }
        at += needle.size();
    }
    return true;
}

} // namespace kvn_test
