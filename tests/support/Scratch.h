// The tests' scratch places under /tmp: a new empty folder or file named
// from a prefix, and a folder that goes with everything in it when its
// holder does.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

// A new empty folder "/tmp/PREFIX-XXXXXX"; "/tmp" when it cannot be made.
inline std::string ScratchDir(const char* prefix)
{
    std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
    const char* made = mkdtemp(pattern.data());
    return made ? made : "/tmp";
}

// A new empty file "/tmp/PREFIX-XXXXXX"; "" when it cannot be made.
inline std::string ScratchFile(const char* prefix)
{
    std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) return "";
    close(fd);
    return pattern;
}

// A scratch folder removed with all it holds when this goes (one that
// could not be made is "/tmp", and stays).
struct ScratchFolder {
    std::string path;
    explicit ScratchFolder(const char* prefix) : path(ScratchDir(prefix)) {}
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (path != "/tmp") std::filesystem::remove_all(path, ignored);
    }
    bool Made() const { return path != "/tmp"; }
};
