// Clocks and small system calls. Owns the two replaceable clock sources
// and the milestone sink.
#include "platform/win/Win.h"
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

extern char** environ;

// Read on the audio thread too (the null sound device, the alarm's clock).
static std::atomic<TTickSource> gTickSource{nullptr};
static std::atomic<TTimeSource> gTimeSource{nullptr};

uint32_t GetTickCount()
{
    if (TTickSource source = gTickSource.load()) return source();
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    return (uint32_t)duration_cast<milliseconds>(steady_clock::now() - start).count();
}

int64_t Win_TimeNow()
{
    if (TTimeSource source = gTimeSource.load()) return source();
    return (int64_t)time(nullptr);
}

void Win_SetTickSource(TTickSource source) { gTickSource.store(source); }
void Win_SetTimeSource(TTimeSource source) { gTimeSource.store(source); }

void Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void* GetForegroundWindow() { return nullptr; }

void* GetDesktopWindow()
{
    static int desktop;
    return &desktop;
}

int GetVersionExA(OSVERSIONINFOA* info)
{
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) return 0;
    unsigned major = 6, minor = 1;
    const char* v = getenv("TAVLIN_WINVER");
    if (v) sscanf(v, "%u.%u", &major, &minor);
    info->dwMajorVersion = major;
    info->dwMinorVersion = minor;
    info->dwBuildNumber = 7601;
    info->dwPlatformId = 2; // the NT family
    snprintf(info->szCSDVersion, sizeof info->szCSDVersion, "%s", "");
    return 1;
}

const char* Win_GetEnv(const char* name)
{
    const char* v = name ? getenv(name) : nullptr;
    if (!v && name && strcmp(name, "USERPROFILE") == 0) v = getenv("HOME");
    return v ? v : "";
}

std::string Win_MapPath(const char* windowsPath)
{
    std::string p = windowsPath ? windowsPath : "";
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

FILE* Win_fopen(const char* windowsPath, const char* mode) { return fopen(Win_MapPath(windowsPath).c_str(), mode); }

int Win_PathExists(const char* windowsPath) { return access(Win_MapPath(windowsPath).c_str(), F_OK) == 0 ? 1 : 0; }

int Win_WriteFileWhole(const char* windowsPath, const void* data, size_t size)
{
    std::string path = Win_MapPath(windowsPath);
    // A link stays a link: the file it names is the one replaced.
    struct stat old;
    bool existed = stat(path.c_str(), &old) == 0;
    if (existed) {
        if (char* real = realpath(path.c_str(), nullptr)) {
            path = real;
            free(real);
        }
    }
    static unsigned counter = 0;
    std::string temp = path + ".new-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    bool ok = !existed || fchmod(fd, old.st_mode & 07777) == 0;
    const char* p = (const char*)data;
    for (size_t done = 0; ok && done < size;) {
        ssize_t n = write(fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            ok = false;
            break;
        }
        done += (size_t)n;
    }
    ok = ok && fsync(fd) == 0;
    int saved = errno;
    if (close(fd) != 0 && ok) ok = false, saved = errno;
    if (ok && rename(temp.c_str(), path.c_str()) != 0) ok = false, saved = errno;
    if (!ok) {
        unlink(temp.c_str());
        errno = saved;
        return -1;
    }
    return 0;
}

int Win_FileStamp(const char* windowsPath, TFileStamp* stamp)
{
    struct stat st;
    if (!stamp || stat(Win_MapPath(windowsPath).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    stamp->volume = (uint64_t)st.st_dev;
    stamp->file = (uint64_t)st.st_ino;
    stamp->size = (uint64_t)st.st_size;
    stamp->written = (int64_t)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec;
    stamp->changed = (int64_t)st.st_ctim.tv_sec * 1000000000 + st.st_ctim.tv_nsec;
    return 0;
}

bool Win_SameStamp(const TFileStamp& a, const TFileStamp& b)
{
    return a.volume == b.volume && a.file == b.file && a.size == b.size && a.written == b.written &&
           a.changed == b.changed;
}

static TUrlOpener gUrlOpener = nullptr;

void Win_SetUrlOpener(TUrlOpener opener) { gUrlOpener = opener; }

// Starts opener with one argument, never through a shell.
static int Spawn(const char* opener, const char* argument)
{
    char* argv[] = {const_cast<char*>(opener), const_cast<char*>(argument), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, opener, nullptr, nullptr, argv, environ) != 0) return -1;
    // The opener hands the address to the browser and ends; reap it so no
    // zombie stays behind, without holding up the caller.
    std::thread([pid] {
        int status;
        waitpid(pid, &status, 0);
    }).detach();
    return 0;
}

int Win_OpenUrl(const char* address)
{
    if (!address || !*address) return -1;
    if (gUrlOpener) return gUrlOpener(address);
    const char* opener = Win_GetEnv("TAVLIN_URL_OPENER");
    return Spawn(*opener ? opener : "xdg-open", address);
}

int Win_OpenFolder(const char* folder)
{
    if (!folder || !*folder) return -1;
    const char* opener = Win_GetEnv("TAVLIN_FOLDER_OPENER");
    return Spawn(*opener ? opener : "xdg-open", folder);
}

int Win_ForceDirectories(const char* path)
{
    if (!path || !*path) return -1;
    std::string p = path;
    for (size_t i = 1; i <= p.size(); ++i) {
        if (i < p.size() && p[i] != '/') continue;
        std::string head = p.substr(0, i);
        if (mkdir(head.c_str(), 0777) != 0 && errno != EEXIST) return -1;
    }
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? 0 : -1;
}

static TMilestoneSink gMilestoneSink = nullptr;

void Win_SetMilestoneSink(TMilestoneSink sink) { gMilestoneSink = sink; }

void Win_Milestone(int milestone)
{
    if (gMilestoneSink) gMilestoneSink(milestone);
}
