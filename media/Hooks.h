// What the media layer calls in the viewer's shell and pages, and nothing
// more. Each group names the file that defines it, and that file includes
// this header, so the compiler holds both sides to one declaration; media
// files reach the control layer through this header alone.
#pragma once
#include <atomic>
#include <cstdint>

struct TViewRecord;

// The viewer's form (control/TavlinImpl1.h), reached through gViewerForm:
// the display draws into Image_video and writes Label_time, the stream step
// owns the backup's and the movie's dialogs through it, local playback
// says in Label1 when a file's watermark does not verify.
#include "control/TavlinImpl1.h"

// The speaker (control/Speaker.cpp): 1 once an audio frame was stored
// outside Backup mode, read by both threads; and whether the user switched
// the recorder's audio on (1) or off (0), read by the audio thread too.
extern std::atomic<uint32_t> gAudioAvailable;
uint32_t Speaker_AudioOn();

// The backup files (control/BackupFiles.cpp). The PC's local date and time
// now as recorder time (seconds since 2000-01-01 00:00:00).
uint32_t Clock_NowNumber();
// 1 when the Windows version is 6 or later: the protected-mode path.
int Backup_ProtectedMode();
// Chooses the file of the current part: 1 when one was chosen (and, on the
// protected-mode path, its working file created), 0 otherwise.
int Backup_ChooseFile();
// A part has been closed: hands it to its destination; after the last part
// opens the destination folders. A broken part is reported instead.
void Backup_FinishFiles();
