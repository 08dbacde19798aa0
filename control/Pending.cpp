// Placeholders for modules that are not built yet; each module replaces
// its own entries here when it arrives.
#include "control/Pending.h"

int Backup_OnFrame(TStreamRecord* stream)                                     // the backup controller: drops the frame
{
    if (stream) stream->heldLength = 0;
    return 0;
}
TBackupBlock gBackupBlock;                                                    // the backup controller
void Backup_SetState(TStreamRecord* stream, uint32_t state)
{
    if (stream && stream->backup) stream->backup->state = state;
}
uint32_t gBackupSizeOffset = 0;
uint32_t gBackupPartCount = 0;
int Backup_ChooseFile() { return 0; }                                         // backup files: none chosen
void Backup_FinishFiles() {}
uint32_t Clock_NowNumber() { return 0; }                                    // backup files
