// Skellan against one table of PPPoE records, run two ways:
//  - natively: Skellan_Run on DIR/proc/dvr/pppoe with the client
//    DIR/usr/sbin/pppoecd;
//  - the static MIPS program bin/Skellan-mipsel under qemu-mipsel -L DIR,
//    on a MIPS32 release-1 core without a floating-point unit (4Kc) and on
//    a release-2 core with one (24Kf), which opens the record
//    /proc/dvr/pppoe through qemu's path prefix. qemu does not apply the
//    prefix to execve, so the program's /usr/sbin/pppoecd is made the
//    stand-in by binding DIR/usr/sbin over /usr/sbin in a private user and
//    mount namespace (the real /usr/sbin is never changed).
// The stand-in client writes down the argument vector it got. The MIPS
// program's instructions are checked to be release 1's without floating
// point, so that every 32-bit MIPS core runs it.
#include "recorder/Skellan.h"
#include "tests/support/Scratch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The 68-byte record: i16 flag, two further bytes, user name, password; each
// text zero-filled to 32 bytes (a 32-byte text has no zero).
std::string Record(uint16_t flag, uint8_t byte2, uint8_t byte3, const std::string& user, const std::string& password)
{
    std::string r(SKELLAN_RECORD_SIZE, '\0');
    r[0] = (char)(flag & 0xFF);
    r[1] = (char)(flag >> 8);
    r[2] = (char)byte2;
    r[3] = (char)byte3;
    r.replace(4, user.size(), user);
    r.replace(36, password.size(), password);
    r.resize(SKELLAN_RECORD_SIZE);
    return r;
}

const std::string k32User = "abcdefghijklmnopqrstuvwxyz012345";
const std::string k32Password = "PASSWORD-of-32-characters-long!!";
// Both would run "touch inj" if the texts reached a command interpreter.
const std::string kQuotedPassword = "o'k' x;touch inj;";
const std::string kSubstitutingUser = "u\"$(touch inj)\"";

struct Case {
    const char* name;
    bool present;     // the record file exists
    std::string file; // its content
    int result;       // Skellan_Run's result; the exit status is its low byte
    bool started;     // the client runs once with the two texts below
    std::string user;
    std::string password;
};

std::vector<Case> Cases()
{
    return {
        {"flag 1", true, Record(1, 0, 0, "alice", "secret"), 0, true, "alice", "secret"},
        {"flag 0xFFFF", true, Record(0xFFFF, 0, 0, "bob", "pw"), 0, true, "bob", "pw"},
        {"flag 0x0100", true, Record(0x0100, 0, 0, "carol", "pw"), 0, true, "carol", "pw"},
        {"flag 0, bytes 2 and 3 set", true, Record(0, 0x01, 0xFF, "dave", "pw"), 0, false, "", ""},
        {"32-character user name, no zero", true, Record(1, 0, 0, k32User, "next"), 0, true, k32User, "next"},
        {"32-character password at the record's end", true, Record(1, 0, 0, "erin", k32Password), 0, true, "erin",
         k32Password},
        {"password with blank, semicolon and quote", true, Record(1, 0, 0, "frank", kQuotedPassword), 0, true, "frank",
         kQuotedPassword},
        {"user name with double quotes and $( )", true, Record(1, 0, 0, kSubstitutingUser, "pw"), 0, true,
         kSubstitutingUser, "pw"},
        {"empty fields", true, Record(1, 0, 0, "", ""), 0, true, "", ""},
        {"67-byte file", true, Record(1, 0, 0, "gina", "pw").substr(0, 67), -1, false, "", ""},
        {"69-byte file", true, Record(1, 0, 0, "hank", "pw") + "X", 0, true, "hank", "pw"},
        {"empty file", true, "", -1, false, "", ""},
        {"no file", false, "", -1, false, "", ""},
    };
}

// One client start as the stand-in wrote it down: its argument vector.
using Invocation = std::vector<std::string>;

std::vector<Invocation> ReadLog(const std::string& path)
{
    std::vector<Invocation> runs;
    std::ifstream in(path, std::ios::binary);
    if (!in) return runs;
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string s = buffer.str();
    size_t at = 0;
    auto token = [&](char end) {
        size_t stop = s.find(end, at);
        if (stop == std::string::npos) throw std::runtime_error("log cut short");
        std::string t = s.substr(at, stop - at);
        at = stop + 1;
        return t;
    };
    while (at < s.size()) {
        if (token(' ') != "argc") throw std::runtime_error("log out of step");
        int argc = std::stoi(token('\n'));
        Invocation run;
        for (int i = 0; i < argc; i++) {
            size_t length = std::stoul(token(' '));
            if (at + length >= s.size() || s[at + length] != '\n') throw std::runtime_error("bad argument length");
            run.push_back(s.substr(at, length));
            at += length + 1;
        }
        runs.push_back(run);
    }
    return runs;
}

// A scratch root DIR with DIR/proc/dvr/pppoe (when the case has one), the
// stand-in at DIR/usr/sbin/pppoecd and its log at DIR/args.log.
class Scratch {
public:
    explicit Scratch(const Case& c)
    {
        const std::string made = ScratchDir("skellan");
        if (made == "/tmp") throw std::runtime_error("mkdtemp failed");
        root = fs::canonical(made).string();
        fs::create_directories(root + "/proc/dvr");
        fs::create_directories(root + "/usr/sbin");
        if (c.present) std::ofstream(RecordPath(), std::ios::binary) << c.file;
        fs::copy_file(SKELLAN_TEST_STANDIN, ClientPath());
        fs::permissions(ClientPath(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                          fs::perms::others_read | fs::perms::others_exec);
    }
    ~Scratch()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    std::string RecordPath() const { return root + "/proc/dvr/pppoe"; }
    std::string ClientPath() const { return root + "/usr/sbin/pppoecd"; }
    std::string LogPath() const { return root + "/args.log"; }
    std::string InjectedPath() const { return root + "/inj"; }

    std::string root;
};

// Runs argv with the working directory dir and the stand-in's log set;
// returns the wait status and, when out is given, the standard output.
int Spawn(const std::vector<std::string>& args, const std::string& dir, const std::string& log,
          std::string* out = nullptr)
{
    int pipeFds[2] = {-1, -1};
    if (out && pipe(pipeFds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        if (out) {
            dup2(pipeFds[1], 1);
            close(pipeFds[0]);
            close(pipeFds[1]);
        }
        if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
        if (!log.empty()) setenv("SKELLAN_STANDIN_LOG", log.c_str(), 1);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (out) {
        close(pipeFds[1]);
        char chunk[4096];
        ssize_t n;
        while ((n = read(pipeFds[0], chunk, sizeof chunk)) > 0) out->append(chunk, (size_t)n);
        close(pipeFds[0]);
    }
    int status = -1;
    if (pid < 0 || waitpid(pid, &status, 0) < 0) return -1;
    return status;
}

bool Executable(const char* path) { return path[0] == '/' && access(path, X_OK) == 0; }

// The checks common to both runs, once the program has finished.
void ExpectClientRuns(const Case& c, const Scratch& dir, const std::string& clientPath)
{
    std::vector<Invocation> runs = ReadLog(dir.LogPath());
    if (c.started) {
        ASSERT_EQ(runs.size(), 1u) << "the client must start exactly once";
        Invocation expected = {clientPath, "adm0", "-u", c.user, "-p", c.password, "-k"};
        EXPECT_EQ(runs[0], expected);
    } else {
        EXPECT_TRUE(runs.empty()) << "nothing may be started";
    }
    EXPECT_FALSE(fs::exists(dir.InjectedPath())) << "a text was run as a command";
}

TEST(Skellan, NativeRunsEveryRecord)
{
    const std::string home = fs::current_path().string();
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        Scratch dir(c);
        setenv("SKELLAN_STANDIN_LOG", dir.LogPath().c_str(), 1);
        // Relative to the scratch root, where an injected command would leave its file.
        ASSERT_EQ(chdir(dir.root.c_str()), 0);
        int result = Skellan_Run(dir.RecordPath().c_str(), dir.ClientPath().c_str());
        ASSERT_EQ(chdir(home.c_str()), 0);
        unsetenv("SKELLAN_STANDIN_LOG");
        EXPECT_EQ(result, c.result);
        ExpectClientRuns(c, dir, dir.ClientPath());
    }
}

// The cores the program must run on: every 32-bit MIPS core takes the
// release-1 instruction set.
const char* const kCores[] = {"4Kc", "24Kf"}; // release 1 without FPU, release 2 with FPU

TEST(Skellan, MipsProgramUnderQemuRunsEveryRecordOnReleaseOneAndReleaseTwoCores)
{
    ASSERT_TRUE(Executable(SKELLAN_TEST_QEMU)) << "qemu-mipsel not found: install qemu-user";
    ASSERT_TRUE(Executable(SKELLAN_TEST_MIPSEL))
        << SKELLAN_TEST_MIPSEL << " not built: install gcc-mipsel-linux-gnu and rebuild";
    ASSERT_TRUE(Executable(SKELLAN_TEST_UNSHARE)) << "unshare not found (util-linux)";
    ASSERT_TRUE(Executable(SKELLAN_TEST_MOUNT)) << "mount not found (mount)";
    // With no DIR/proc/dvr/pppoe qemu falls back to the host's path, which
    // must not exist for "no file" to mean what it says.
    ASSERT_FALSE(fs::exists(SKELLAN_RECORD_PATH));

    const std::string script =
        "\"$5\" --bind \"$1\" /usr/sbin || { echo 'cannot bind the stand-in over /usr/sbin' >&2; exit 200; }\n"
        "exec \"$2\" -cpu \"$6\" -L \"$3\" \"$4\"\n";
    for (const char* core : kCores) {
        for (const Case& c : Cases()) {
            SCOPED_TRACE(std::string(core) + ": " + c.name);
            Scratch dir(c);
            int status = Spawn({SKELLAN_TEST_UNSHARE, "--user", "--map-root-user", "--mount", "--", "/bin/sh", "-c",
                                script, "sh", dir.root + "/usr/sbin", SKELLAN_TEST_QEMU, dir.root, SKELLAN_TEST_MIPSEL,
                                SKELLAN_TEST_MOUNT, core},
                               dir.root, dir.LogPath());
            ASSERT_TRUE(WIFEXITED(status))
                << "wait status " << status
                << (WIFSIGNALED(status) && WTERMSIG(status) == SIGILL ? " (illegal instruction)" : "");
            ASSERT_NE(WEXITSTATUS(status), 200) << "no private mount namespace for the stand-in";
            EXPECT_EQ(WEXITSTATUS(status), c.result & 0xFF);
            ExpectClientRuns(c, dir, SKELLAN_CLIENT_PATH);
        }
    }
}

// The value after "Name:" on its line of readelf's output.
std::string Field(const std::string& text, const std::string& name)
{
    size_t at = text.find(name);
    if (at == std::string::npos) return "";
    at = text.find_first_not_of(' ', at + name.size());
    size_t end = text.find('\n', at);
    return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

TEST(Skellan, MipsProgramIsStaticLittleEndianMips32)
{
    ASSERT_TRUE(Executable(SKELLAN_TEST_READELF)) << "readelf not found (binutils)";
    ASSERT_TRUE(Executable(SKELLAN_TEST_MIPSEL)) << SKELLAN_TEST_MIPSEL << " not built";
    std::string header, segments;
    ASSERT_EQ(Spawn({SKELLAN_TEST_READELF, "-h", SKELLAN_TEST_MIPSEL}, "", "", &header), 0);
    EXPECT_EQ(Field(header, "Class:"), "ELF32") << header;
    EXPECT_NE(Field(header, "Data:").find("little endian"), std::string::npos) << header;
    EXPECT_EQ(Field(header, "Machine:").rfind("MIPS", 0), 0u) << header;
    EXPECT_EQ(Field(header, "Type:").rfind("EXEC", 0), 0u) << header;
    ASSERT_EQ(Spawn({SKELLAN_TEST_READELF, "-l", SKELLAN_TEST_MIPSEL}, "", "", &segments), 0);
    EXPECT_EQ(segments.find("INTERP"), std::string::npos) << "not linked statically:\n" << segments;
}

// Mnemonics a MIPS32 release-1 core without a floating-point unit does not
// have: release 2's additions, and anything of coprocessor 1 (the
// floating-point unit) or with a format suffix (add.s, cvt.d.w, jr.hb).
bool BeyondReleaseOne(const std::string& m)
{
    static const char* const release2[] = {"seb",    "seh",    "wsbh",  "ext", "ins",   "rotr",
                                           "rotrv",  "ror",    "rorv",  "di",  "ei",    "rdhwr",
                                           "rdpgpr", "wrpgpr", "synci", "ehb", "mfhc0", "mthc0"};
    for (const char* r : release2)
        if (m == r) return true;
    return m.find('.') != std::string::npos || m.find("c1") != std::string::npos;
}

TEST(Skellan, MipsProgramHoldsOnlyReleaseOneInstructionsWithoutFloatingPoint)
{
    ASSERT_TRUE(Executable(SKELLAN_TEST_READELF)) << "readelf not found (binutils)";
    ASSERT_TRUE(Executable(SKELLAN_TEST_OBJDUMP)) << "mipsel-linux-gnu-objdump not found (binutils-mipsel-linux-gnu)";
    ASSERT_TRUE(Executable(SKELLAN_TEST_MIPSEL)) << SKELLAN_TEST_MIPSEL << " not built";
    std::string header, flags;
    ASSERT_EQ(Spawn({SKELLAN_TEST_READELF, "-h", "-A", SKELLAN_TEST_MIPSEL}, "", "", &header), 0);
    EXPECT_EQ(Field(header, "ISA:"), "MIPS32") << header;
    EXPECT_EQ(Field(header, "FP ABI:"), "Soft float") << header;
    flags = Field(header, "Flags:");
    EXPECT_NE(flags.find(", mips32"), std::string::npos) << flags;
    EXPECT_EQ(flags.find("mips32r"), std::string::npos) << flags;

    // Disassembled as release 2 with its floating-point unit, so that an
    // instruction of either is named rather than shown as a word.
    std::string listing;
    ASSERT_EQ(Spawn({SKELLAN_TEST_OBJDUMP, "-d", "--no-show-raw-insn", "-m", "mips:isa32r2", SKELLAN_TEST_MIPSEL}, "",
                    "", &listing),
              0);
    std::istringstream lines(listing);
    std::string line, beyond;
    size_t instructions = 0;
    while (std::getline(lines, line)) {
        // "  400150:\tlui\ta1,0x40": the mnemonic follows the first tab.
        size_t tab = line.find('\t');
        if (tab == std::string::npos || line.find(':') > tab) continue;
        std::string mnemonic = line.substr(tab + 1, line.find_first_of("\t ", tab + 1) - tab - 1);
        if (mnemonic.empty() || mnemonic == "...") continue;
        ++instructions;
        if (BeyondReleaseOne(mnemonic)) beyond += line + "\n";
    }
    EXPECT_GT(instructions, 100u) << listing;
    EXPECT_EQ(beyond, "") << "instructions a release-1 core without FPU does not have";
}

} // namespace
