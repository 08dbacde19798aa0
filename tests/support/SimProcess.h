// A dvr-sim child process for the tests: started with arguments, its
// output read line by line, killed on every path by the destructor.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#ifndef DVR_SIM_PATH
#error "DVR_SIM_PATH must name the dvr-sim program"
#endif

// The running program, its stdout lines and its port.
class SimProcess {
public:
    // The ceiling of a wait for a line or for the end: generous, so that a
    // loaded machine never reaches it (tests/support/Wait.h).
    static constexpr int kSimWaitMs = 60000;

    // Reads what the child has printed so far without waiting; true when
    // some line seen so far (or now) starts with prefix.
    bool Seen(const std::string& prefix)
    {
        Collect(0);
        for (const std::string& l : lines_)
            if (l.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    }

    // Number of lines seen so far that start with prefix.
    size_t Count(const std::string& prefix)
    {
        Collect(0);
        size_t n = 0;
        for (const std::string& l : lines_)
            if (l.compare(0, prefix.size(), prefix) == 0) n++;
        return n;
    }

    // Moves every complete line that has arrived within waitMs into lines().
    void Collect(int waitMs)
    {
        std::string line;
        while (out_ >= 0) {
            pollfd p = {out_, POLLIN, 0};
            if (poll(&p, 1, waitMs) <= 0) break;
            char chunk[4096];
            ssize_t n = read(out_, chunk, sizeof chunk);
            if (n == 0) {
                // The program has ended: nothing more comes.
                close(out_);
                out_ = -1;
            }
            if (n <= 0) break;
            buf_.append(chunk, size_t(n));
            waitMs = 0;
        }
        size_t nl;
        while ((nl = buf_.find('\n')) != std::string::npos) {
            lines_.push_back(buf_.substr(0, nl));
            buf_.erase(0, nl + 1);
        }
    }

    ~SimProcess()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }

    // The child's error output goes to /dev/null.
    void QuietErrors() { quiet_ = true; }

    // Starts dvr-sim with these arguments; true once it is listening.
    bool Start(const std::vector<std::string>& args)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            if (quiet_) {
                int null = open("/dev/null", O_WRONLY);
                if (null >= 0) dup2(null, 2);
            }
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(DVR_SIM_PATH));
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(DVR_SIM_PATH, argv.data());
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
        if (pid_ < 0) return false;
        std::string line;
        if (!NextLine(&line)) return false;
        const std::string prefix = "listening on 127.0.0.1:";
        if (line.compare(0, prefix.size(), prefix) != 0) return false;
        port_ = uint16_t(std::stoi(line.substr(prefix.size())));
        return line == prefix + std::to_string(port_);
    }

    uint16_t port() const { return port_; }

    // The next line of output; false at end of output or after kSimWaitMs.
    bool NextLine(std::string* line)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSimWaitMs);
        for (;;) {
            size_t nl = buf_.find('\n');
            if (nl != std::string::npos) {
                *line = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                lines_.push_back(*line);
                return true;
            }
            int left =
                int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                        .count());
            if (left <= 0 || out_ < 0) return false;
            pollfd p = {out_, POLLIN, 0};
            if (poll(&p, 1, left) <= 0) return false;
            char chunk[4096];
            ssize_t n = read(out_, chunk, sizeof chunk);
            if (n <= 0) return false;
            buf_.append(chunk, size_t(n));
        }
    }

    // Reads lines up to and including the first that starts with prefix;
    // the empty text when none comes.
    std::string WaitFor(const std::string& prefix)
    {
        std::string line;
        while (NextLine(&line))
            if (line.compare(0, prefix.size(), prefix) == 0) return line;
        return "";
    }

    // The lines after the next one starting with `from`, up to (without) the
    // next one starting with `to`.
    std::vector<std::string> Between(const std::string& from, const std::string& to)
    {
        std::vector<std::string> got;
        if (WaitFor(from).empty()) return {"<no " + from + ">"};
        std::string line;
        while (NextLine(&line)) {
            if (line.compare(0, to.size(), to) == 0) return got;
            got.push_back(line);
        }
        got.push_back("<no " + to + ">");
        return got;
    }

    // Sends sig and waits for the end; returns the wait status (-1 when it did
    // not end in time and had to be killed). The remaining output is read.
    int Stop(int sig = SIGTERM)
    {
        if (pid_ <= 0) return -1;
        kill(pid_, sig);
        std::string line;
        while (NextLine(&line)) {}
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSimWaitMs);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                pid_ = -1;
                return -1;
            }
            usleep(2000);
        }
        pid_ = -1;
        return status;
    }

    // Sends sig to the running program (SIGSTOP and SIGCONT freeze and thaw
    // it); false when it is not running.
    bool Signal(int sig) { return pid_ > 0 && kill(pid_, sig) == 0; }

    const std::vector<std::string>& lines() const { return lines_; }

    // The lines collected so far that start with prefix, in order.
    std::vector<std::string> LinesStartingWith(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& l : lines_)
            if (l.compare(0, prefix.size(), prefix) == 0) found.push_back(l);
        return found;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool quiet_ = false;
    uint16_t port_ = 0;
    std::string buf_;
    std::vector<std::string> lines_;
};
