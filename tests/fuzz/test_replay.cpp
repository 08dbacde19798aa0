// One fuzz target's kept inputs, each run once through the target as
// libFuzzer would run it: none may crash, and (in the sanitized build) none
// may touch memory it does not own.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdint>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::string> CorpusFiles()
{
    std::vector<std::string> names;
    if (DIR* d = opendir(FUZZ_CORPUS)) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(std::string(FUZZ_CORPUS) + "/" + e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FuzzCorpus, EveryKeptInputRunsThrough)
{
    int argc = 0;
    char** argv = nullptr;
    ASSERT_EQ(LLVMFuzzerInitialize(&argc, &argv), 0);
    std::vector<std::string> files = CorpusFiles();
    ASSERT_FALSE(files.empty()) << "no inputs in " << FUZZ_CORPUS;
    for (const std::string& name : files) {
        std::ifstream in(name, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0) << name;
    }
    // The empty input and a lone setup byte are inputs too.
    EXPECT_EQ(LLVMFuzzerTestOneInput(nullptr, 0), 0);
    const uint8_t one = 0xFF;
    EXPECT_EQ(LLVMFuzzerTestOneInput(&one, 1), 0);
}

} // namespace
