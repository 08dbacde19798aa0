// MD5, SHA-1, HMAC-SHA1 and base64 against the openssl command line, over
// messages around the block boundaries. MD5 and SHA-1 are fed in several
// splits; HMAC runs with keys of 0, 20, 64, 65 and 80 bytes.
#include "ddns/Base64.h"
#include "ddns/HmacSha1.h"
#include "ddns/Md5.h"
#include "ddns/Sha1.h"
#include "tests/support/Scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const size_t kLengths[] = {0, 55, 56, 63, 64, 65, 119, 120, 1000};
// HMAC also over texts longer than a 4,096-byte buffer would hold.
const size_t kLongLengths[] = {4032, 4033, 4096, 5000, 70000};
const size_t kKeySizes[] = {0, 20, 64, 65, 80};

// Chunk sizes used in turn until the message is consumed; 0 takes the rest.
const std::vector<std::vector<size_t>> kSplits = {
    {0},     // all at once
    {1},     // byte by byte
    {7},     // small runs across every boundary
    {13, 0}, // starts mid-block, then spans several blocks in one run
    {63, 1, 64, 65},
    {55, 9, 120},
};

std::string Message(size_t length, unsigned seed)
{
    std::string m(length, '\0');
    uint32_t x = 0x9e3779b9u ^ seed;
    for (size_t i = 0; i < length; i++) {
        x = x * 1664525u + 1013904223u;
        m[i] = (char)(x >> 24);
    }
    return m;
}

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

std::string Hex(const unsigned char* bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

std::string Lower(std::string s)
{
    for (char& c : s) c = (char)std::tolower((unsigned char)c);
    return s;
}

std::string Trim(const std::string& s)
{
    size_t end = s.find_last_not_of(" \r\n");
    return end == std::string::npos ? "" : s.substr(0, end + 1);
}

// Runs argv and returns its standard output; fails the test on a bad exit.
std::string RunTool(const std::vector<std::string>& args)
{
    int fds[2];
    if (pipe(fds) != 0) return "";
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char chunk[4096];
    ssize_t n;
    while ((n = read(fds[0], chunk, sizeof chunk)) > 0) out.append(chunk, (size_t)n);
    close(fds[0]);
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << args[0] << " " << args[1] << " failed";
    return out;
}

template <typename Feed> void FeedInSplits(const std::string& m, const std::vector<size_t>& plan, Feed feed)
{
    size_t at = 0;
    for (size_t step = 0; at < m.size(); step++) {
        size_t chunk = plan[step % plan.size()];
        if (chunk == 0 || chunk > m.size() - at) chunk = m.size() - at;
        feed(Bytes(m) + at, (uint32_t)chunk);
        at += chunk;
    }
}

std::string Md5Split(const std::string& m, const std::vector<size_t>& plan)
{
    TMd5Context context;
    Md5_Init(&context);
    FeedInSplits(m, plan, [&](const unsigned char* p, uint32_t n) { Md5_Update(&context, p, n); });
    Md5_Final(&context);
    return Hex(context.digest, 16);
}

std::string Sha1Split(const std::string& m, const std::vector<size_t>& plan)
{
    CSHA1 sha;
    FeedInSplits(m, plan, [&](const unsigned char* p, uint32_t n) { sha.Update(p, n); });
    sha.Final();
    unsigned char digest[20];
    sha.GetHash(digest);
    return Hex(digest, 20);
}

class OpensslCrossCheck : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(access(DDNS_TEST_OPENSSL, X_OK), 0) << "openssl not found: install openssl";
        dir = ScratchDir("ddns");
        ASSERT_NE(dir, "/tmp");
    }
    void TearDown() override
    {
        std::error_code ignored;
        if (!dir.empty()) fs::remove_all(dir, ignored);
    }
    // Writes the message to a file of its own and returns the file's path.
    std::string Put(const std::string& m)
    {
        std::string path = dir + "/m" + std::to_string(files++);
        std::ofstream(path, std::ios::binary) << m;
        return path;
    }
    // One "HEX *path" line per file from openssl dgst -r.
    std::map<std::string, std::string> Dgst(const char* digest, const std::vector<std::string>& paths)
    {
        std::vector<std::string> args = {DDNS_TEST_OPENSSL, "dgst", digest, "-r"};
        args.insert(args.end(), paths.begin(), paths.end());
        std::istringstream lines(RunTool(args));
        std::map<std::string, std::string> byPath;
        std::string line;
        while (std::getline(lines, line)) {
            size_t blank = line.find(" *");
            if (blank != std::string::npos) byPath[line.substr(blank + 2)] = Lower(line.substr(0, blank));
        }
        return byPath;
    }

    std::string dir;
    int files = 0;
};

TEST_F(OpensslCrossCheck, Md5AndSha1InEverySplit)
{
    std::vector<std::string> messages, paths;
    for (size_t length : kLengths) {
        messages.push_back(Message(length, (unsigned)length));
        paths.push_back(Put(messages.back()));
    }
    std::map<std::string, std::string> md5 = Dgst("-md5", paths);
    std::map<std::string, std::string> sha1 = Dgst("-sha1", paths);
    for (size_t i = 0; i < messages.size(); i++) {
        SCOPED_TRACE("length " + std::to_string(messages[i].size()));
        ASSERT_EQ(md5[paths[i]].size(), 32u);
        ASSERT_EQ(sha1[paths[i]].size(), 40u);
        for (size_t s = 0; s < kSplits.size(); s++) {
            SCOPED_TRACE("split " + std::to_string(s));
            EXPECT_EQ(Md5Split(messages[i], kSplits[s]), md5[paths[i]]);
            EXPECT_EQ(Sha1Split(messages[i], kSplits[s]), sha1[paths[i]]);
        }
    }
}

TEST_F(OpensslCrossCheck, HmacSha1WithEveryKeySize)
{
    std::vector<size_t> lengths(std::begin(kLengths), std::end(kLengths));
    lengths.insert(lengths.end(), std::begin(kLongLengths), std::end(kLongLengths));
    CHMAC_SHA1 hmac; // one object throughout, as the No-IP client may use it
    for (size_t keySize : kKeySizes) {
        const std::string key = Message(keySize, 1000u + (unsigned)keySize);
        for (size_t length : lengths) {
            SCOPED_TRACE("key " + std::to_string(keySize) + ", length " + std::to_string(length));
            const std::string text = Message(length, (unsigned)length);
            std::string expected =
                Lower(Trim(RunTool({DDNS_TEST_OPENSSL, "mac", "-digest", "SHA1", "-macopt",
                                    "hexkey:" + Hex(Bytes(key), key.size()), "-in", Put(text), "HMAC"})));
            ASSERT_EQ(expected.size(), 40u);
            unsigned char digest[20];
            hmac.ComputeHmac(Bytes(text), (int)text.size(), Bytes(key), (int)key.size(), digest);
            EXPECT_EQ(Hex(digest, 20), expected);
        }
    }
}

TEST_F(OpensslCrossCheck, Base64)
{
    std::vector<size_t> lengths(std::begin(kLengths), std::end(kLengths));
    lengths.insert(lengths.end(), {1, 2, 3, 4, 16, 20});
    for (size_t length : lengths) {
        SCOPED_TRACE("length " + std::to_string(length));
        const std::string m = Message(length, 7u * (unsigned)length);
        std::string expected = Trim(RunTool({DDNS_TEST_OPENSSL, "base64", "-A", "-in", Put(m)}));
        char* text = Base64_Encode(Bytes(m), (int)m.size());
        EXPECT_EQ(std::string(text), expected);
        free(text);
    }
}

} // namespace
