// The Windows calls the viewer makes, on this machine. Clocks first: the
// process clock (the tick count) behind the stopwatch, the speaker icon,
// the sound device and the No-IP client's waits, and the wall clock behind
// the credential block, recorder time and the No-IP Date line; these are
// the viewer's one clock seam, where tests may replace either. Then the
// milestones a benchmark may listen to.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// Milliseconds of a monotonic process clock (the tick count).
uint32_t GetTickCount();
// Current local time in seconds since 1970 (what time() gives).
int64_t Win_TimeNow();

// Test seams: a null function restores the real clock.
typedef uint32_t (*TTickSource)();
typedef int64_t (*TTimeSource)();
void Win_SetTickSource(TTickSource source);
void Win_SetTimeSource(TTimeSource source);

void Sleep(uint32_t ms);

// Milestones on the way to the first live picture: the viewer marks each
// step a user waits for after the control is created. Nothing is kept or
// written; a program that wants the times (the benchmark) sets a sink, and
// without one a mark is a test of one pointer.
enum TMilestone {
    MILESTONE_FORM_BUILT,      // the form and its components read from the description
    MILESTONE_SKINS_LOADED,    // the key panel's skin and the background picture
    MILESTONE_FONTS_READY,     // the labels' fonts resolved (the first text laid out)
    MILESTONE_CONNECTED,       // a socket of connection 0 connected
    MILESTONE_LOGIN_GRANTED,   // the recorder granted the session
    MILESTONE_HANDSHAKE_DONE,  // the machine record configured the viewer
    MILESTONE_VIDEO_REQUEST,   // a live video request left in a packet
    MILESTONE_FRAME_RECEIVED,  // a video frame block arrived
    MILESTONE_PICTURE_DECODED, // the decoder gave a picture
    MILESTONE_PICTURE_DRAWN,   // a picture written into Image_video and repainted
    MILESTONE_COUNT
};

// Called on the user-interface thread at every mark, first or not.
typedef void (*TMilestoneSink)(int milestone);
void Win_SetMilestoneSink(TMilestoneSink sink);
void Win_Milestone(int milestone);

// Window handles (opaque). The window in the foreground: null, since no
// window manager is asked here; the desktop window: one fixed handle.
void* GetForegroundWindow();
void* GetDesktopWindow();

// Windows Sockets options the link sets on its client sockets.
typedef intptr_t SOCKET;
enum { WIN_SO_SNDBUF = 0x1001, WIN_SO_RCVBUF = 0x1002 };
// setsockopt(s, SOL_SOCKET, option, &value, sizeof value); 0 or -1.
int Win_SetSocketOption(SOCKET s, int option, int value);

// The version record of GetVersionExA; dwOSVersionInfoSize must be 148.
struct OSVERSIONINFOA {
    uint32_t dwOSVersionInfoSize;
    uint32_t dwMajorVersion;
    uint32_t dwMinorVersion;
    uint32_t dwBuildNumber;
    uint32_t dwPlatformId;
    char szCSDVersion[128];
};
// Fills the record as the system this viewer runs on reports itself; the
// version is 6.1 (the save path of version 6 and later applies) unless the
// environment variable TAVLIN_WINVER gives "MAJOR.MINOR". 0 when the size
// field is wrong.
int GetVersionExA(OSVERSIONINFOA* info);

// The value of an environment variable, "" when unset. On this machine the
// user's profile ("USERPROFILE") is the home folder unless it is set.
const char* Win_GetEnv(const char* name);
// A Windows path on this machine: every "\" becomes "/".
std::string Win_MapPath(const char* windowsPath);
// fopen of a Windows path.
FILE* Win_fopen(const char* windowsPath, const char* mode);
// 1 when something (a file, a folder, a link) is there at a Windows path.
int Win_PathExists(const char* windowsPath);
// Writes size bytes as the file at a Windows path: into a new file beside
// it, which takes the old one's place (and its permissions) only once it is
// written and flushed whole. On failure the old file stays as it was and no
// new file is left behind. 0, or -1 with errno telling why.
int Win_WriteFileWhole(const char* windowsPath, const void* data, size_t size);
// What tells one version of a file from another without reading it (the
// attributes GetFileAttributesEx gives): identity, size, last write.
struct TFileStamp {
    uint64_t volume, file; // the file's identity
    uint64_t size;
    int64_t written; // last write and last change, in nanoseconds
    int64_t changed;
};
// 0 with *stamp filled, -1 when the path names no file.
int Win_FileStamp(const char* windowsPath, TFileStamp* stamp);
// Both stamps name the same file, unchanged.
bool Win_SameStamp(const TFileStamp& a, const TFileStamp& b);

// Opens a web address the desktop's way: the opener program (xdg-open, or
// the one TAVLIN_URL_OPENER names) is started with the address as its one
// argument, never through a shell. 0 when it was started, -1 when not.
int Win_OpenUrl(const char* address);
// Opens a folder in the desktop's file manager the same way: the opener
// (xdg-open, or the one TAVLIN_FOLDER_OPENER names) gets the folder as its
// one argument. 0 when it was started, -1 when not.
int Win_OpenFolder(const char* folder);
// Creates a folder and the folders above it that are missing (a path of
// this machine). 0 when the folder exists afterwards, -1 when not.
int Win_ForceDirectories(const char* path);
// Tests see the addresses instead: a non-null opener takes every call.
typedef int (*TUrlOpener)(const char* address);
void Win_SetUrlOpener(TUrlOpener opener);
