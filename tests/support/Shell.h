// Running the tools a test checks against (tavlin-host, the ffmpeg tool,
// openssl) through the shell, and reading the files they write.
#pragma once
#include <sys/wait.h>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Runs a shell command line; its standard output and exit status (-1 when
// it did not exit normally).
inline int Shell(const std::string& command, std::string* out = nullptr)
{
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int status = pclose(p);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The whole file; false when it cannot be opened.
inline bool ReadFile(const std::string& path, std::vector<uint8_t>* out)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    out->clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
    fclose(f);
    return true;
}
