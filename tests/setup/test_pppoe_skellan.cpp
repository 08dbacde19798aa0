// The PPPoE record as the recorder keeps it: the PPPoE page's fields are
// applied in the control's form, the 68 bytes the viewer sends are written
// to DIR/proc/dvr/pppoe, and the MIPS Skellan runs on them under
// qemu-mipsel, with the stand-in client bound over /usr/sbin in a private
// user and mount namespace; the stand-in writes down its argument vector.
#include "../link/ModuleFixture.h"
#include "control/Setup.h"
#include "control/TavlinImpl1.h"
#include "tests/support/Scratch.h"
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

int Spawn(const std::vector<std::string>& args, const std::string& dir, const std::string& log)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        setenv("SKELLAN_STANDIN_LOG", log.c_str(), 1);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = -1;
    if (pid < 0 || waitpid(pid, &status, 0) < 0) return -1;
    return status;
}

// The stand-in's log: "argc N", then "LENGTH TEXT" per argument.
std::vector<std::string> ReadArguments(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream b;
    b << in.rdbuf();
    const std::string s = b.str();
    std::vector<std::string> args;
    size_t at = s.find('\n');
    if (s.rfind("argc ", 0) != 0 || at == std::string::npos) return args;
    const int argc = std::stoi(s.substr(5, at - 5));
    at++;
    for (int i = 0; i < argc && at < s.size(); ++i) {
        size_t space = s.find(' ', at);
        if (space == std::string::npos) break;
        size_t length = std::stoul(s.substr(at, space - at));
        args.push_back(s.substr(space + 1, length));
        at = space + 1 + length + 1;
    }
    return args;
}

bool Executable(const char* path) { return path[0] == '/' && access(path, X_OK) == 0; }

class PppoeToSkellan : public ModuleTest {
protected:
    static TTavlinX* form;
    static void SetUpTestSuite()
    {
        form = TavlinX_CreateForm();
        form->Timer1->SetEnabled(false);
    }
    void SetUp() override
    {
        ModuleTest::SetUp();
        gHandshakeRecords[0].machine = TMachineRecord{};
        Setup_FillForMachine(&gHandshakeRecords[0]);
    }
};
TTavlinX* PppoeToSkellan::form = nullptr;

TEST_F(PppoeToSkellan, TheRecordAppliedOnThePageStartsTheClientWithItsTexts)
{
    ASSERT_TRUE(Executable(SKELLAN_TEST_QEMU)) << "qemu-mipsel not found: install qemu-user";
    ASSERT_TRUE(Executable(SKELLAN_TEST_MIPSEL)) << SKELLAN_TEST_MIPSEL << " not built";
    ASSERT_TRUE(Executable(SKELLAN_TEST_UNSHARE)) << "unshare not found (util-linux)";
    ASSERT_TRUE(Executable(SKELLAN_TEST_MOUNT)) << "mount not found (mount)";
    ASSERT_FALSE(fs::exists("/proc/dvr/pppoe"));

    const struct {
        const char* name;
        int status;
        std::string user, password;
        bool started;
    } cases[] = {
        {"on, plain texts", 1, "alice@isp", "s3cret", true},
        {"on, 31 characters each", 1, std::string(31, 'u'), std::string(31, 'p'), true},
        {"on, quotes and a command", 1, "u\"$(touch inj)\"", "o'k' x;touch inj;", true},
        {"off", 0, "bob", "pw", false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        form->ComboBox_pppoe1->SetItemIndex(k.status);
        form->LabeledEdit_pppoe2->SetText(k.user);
        form->LabeledEdit_pppoe3->SetText(k.password);
        Queued(0);
        Setup_ApplyPage(2);
        std::vector<Bytes> sent = Queued(0);
        ASSERT_EQ(sent.size(), 1u);
        ASSERT_EQ(sent[0].size(), 64u + 72 + 68);
        const Bytes record(sent[0].begin() + 64 + 72, sent[0].end());

        const std::string made = ScratchDir("pppoe-skellan");
        ASSERT_NE(made, "/tmp");
        const std::string root = fs::canonical(made).string();
        fs::create_directories(root + "/proc/dvr");
        fs::create_directories(root + "/usr/sbin");
        std::ofstream(root + "/proc/dvr/pppoe", std::ios::binary)
            .write((const char*)record.data(), (std::streamsize)record.size());
        fs::copy_file(SKELLAN_TEST_STANDIN, root + "/usr/sbin/pppoecd");
        const std::string script = "\"$5\" --bind \"$1\" /usr/sbin || exit 200\n"
                                   "exec \"$2\" -L \"$3\" \"$4\"\n";
        const int status =
            Spawn({SKELLAN_TEST_UNSHARE, "--user", "--map-root-user", "--mount", "--", "/bin/sh", "-c", script, "sh",
                   root + "/usr/sbin", SKELLAN_TEST_QEMU, root, SKELLAN_TEST_MIPSEL, SKELLAN_TEST_MOUNT},
                  root, root + "/args.log");
        ASSERT_TRUE(WIFEXITED(status)) << status;
        ASSERT_NE(WEXITSTATUS(status), 200) << "no private mount namespace for the stand-in";
        EXPECT_EQ(WEXITSTATUS(status), 0);
        const std::vector<std::string> args = ReadArguments(root + "/args.log");
        if (k.started)
            EXPECT_EQ(args,
                      std::vector<std::string>({"/usr/sbin/pppoecd", "adm0", "-u", k.user, "-p", k.password, "-k"}));
        else EXPECT_TRUE(args.empty());
        EXPECT_FALSE(fs::exists(root + "/inj"));
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
}

} // namespace
