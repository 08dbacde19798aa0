// What the No-IP tests share: the local service (tools/noip-sim) as a
// child process with its request log, the account form reset to its
// opening state, and the message boxes the client shows.
#pragma once
#include "ddns/Noip.h"
#include "ddns/Unit5.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/Vcl.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#ifndef NOIP_SERVER_SCRIPT
#error "NOIP_SERVER_SCRIPT must name tools/noip-sim/noip_server.py"
#endif
#ifndef NOIP_PYTHON
#error "NOIP_PYTHON must name the Python interpreter"
#endif

// The seeded account the golden requests sign with.
constexpr const char* kSeedId = "1000001";
constexpr const char* kSeedKey = "0123456789abcdef0123456789abcd";

// One run of the service; killed by the destructor.
class NoipServer {
public:
    explicit NoipServer(std::vector<std::string> extra = {})
    {
        log_ = ::testing::TempDir() + "noip_log_" + std::to_string(getpid()) + "_" + std::to_string(counter()++) +
               ".jsonl";
        std::remove(log_.c_str());
        std::vector<std::string> args = {
            NOIP_PYTHON, NOIP_SERVER_SCRIPT,
            "--port",    "0",
            "--log",     log_,
            "--account", std::string(kSeedId) + "," + kSeedKey + ",alice01,secret12,alice@example.com"};
        args.insert(args.end(), extra.begin(), extra.end());
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
        std::string line;
        for (int i = 0; i < (int)(kWaitLimitMs / 100) && port_ == 0; i++) {
            pollfd p = {out_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char c;
            while (read(out_, &c, 1) == 1 && c != '\n') line += c;
            if (line.compare(0, 5, "PORT ") == 0) port_ = atoi(line.c_str() + 5);
            line.clear();
        }
    }
    ~NoipServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    int port() const { return port_; }
    // The log's lines (one JSON object per service request).
    std::vector<std::string> log() const
    {
        std::vector<std::string> lines;
        std::ifstream in(log_);
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
    // A raw request to the service's control paths; the reply's body.
    std::string control(const std::string& method, const std::string& path, const std::string& body = "") const;
    // Waits until the log holds at least n lines (at most ms).
    bool waitLog(size_t n, int ms = (int)kWaitLimitMs) const
    {
        for (int i = 0; i < ms / 20; i++) {
            if (log().size() >= n) return true;
            usleep(20000);
        }
        return log().size() >= n;
    }

private:
    static int& counter()
    {
        static int n = 0;
        return n;
    }
    pid_t pid_ = -1;
    int out_ = -1;
    int port_ = 0;
    std::string log_;
};

// The value of "name" in a log line written by json.dumps ("" when absent
// or not a text).
std::string LogField(const std::string& line, const std::string& name);

// Puts the client at a server (or at a port with nobody listening).
void PointClientAt(int port);

// Message boxes shown since the last Take, answered OK.
class MessageBoxes {
public:
    MessageBoxes();
    ~MessageBoxes();
    struct Box {
        std::string caption, text;
    };
    std::vector<Box> Take();
    std::vector<Box> shown;
};

// The form in its opening state with every text and list empty, the client
// idle, Timer3 stopped (tests run its ticks themselves unless they pump the
// message loop with it running).
TForm_noip_setting* ResetForm();

// The account fields of the form as a user fills them in; the password goes
// into both password edits.
struct AccountEntry {
    const char *user, *email, *password, *firstname, *lastname, *postalCode;
};
// The service's seeded account, as its owner would type it.
constexpr AccountEntry kSeedAccount{"alice01", "alice@example.com", "secret12", "Alice", "Smith", "12345"};

void FillAccountFields(TForm_noip_setting* f, const AccountEntry& a);
inline void FillSeedAccountFields(TForm_noip_setting* f) { FillAccountFields(f, kSeedAccount); }

// Runs Timer3Timer once, as a tick of the form's timer does.
void Tick();

// Pumps the message loop with Timer3 running until done or timeoutMs.
bool RunUntil(const std::function<bool()>& done, uint32_t timeoutMs);

// A whole HTTP reply with the body and its Content-Length.
std::string HttpReply(int status, const std::string& body);
