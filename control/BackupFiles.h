// Backup files: the name of each part's file, the user's choice of where it
// goes (the save dialog below Windows 6; from 6 on the browser's
// protected-mode dialog, with the file written into the profile's
// "LocalLow" folder first and moved when the part is finished), and at the
// end the destination folders opened in the file manager. Owns
// gBackupBaseName, gBackupDestDirs and gIeSaveState.
#pragma once
#include <cstdint>
#include "platform/com/WinTypes.h"

enum {
    BACKUP_BASE_NAME_SIZE = 128,
    BACKUP_DEST_DIRS = 10, // folders remembered for parts 0 .. 9; later parts share the last
    BACKUP_PATH_SIZE = 1100,
    BACKUP_WIDE_NAME = 260, // the dialog's name buffer, in wide characters
};

extern char gBackupBaseName[BACKUP_BASE_NAME_SIZE];
extern char gBackupDestDirs[BACKUP_DEST_DIRS][BACKUP_PATH_SIZE];
extern HANDLE gIeSaveState;

// Clock_NowNumber, Backup_ProtectedMode, Backup_ChooseFile and
// Backup_FinishFiles, which the backup controller calls: media/Hooks.h.

// The part-0 name for a 1-based channel and a recorder time into out
// (BACKUP_BASE_NAME_SIZE bytes): "chCC_YYYYMMDD_HHMMSS_NNNNNNNNN.mov".
void Backup_MakeFileName(uint32_t channel, uint32_t time, char* out);

// Where the folders go: null restores the platform's file manager.
typedef int (*TFolderOpener)(const char* folder);
void Backup_SetFolderOpener(TFolderOpener opener);
