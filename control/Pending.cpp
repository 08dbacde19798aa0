// Placeholders for modules that are not built yet; each module replaces
// its own entries here when it arrives.
#include "control/Pending.h"
#include "control/TavlinImpl1.h"
#include "link/Tavn.h"
#include "panel/SkinVars.h"
#include "platform/win/Win.h"
#include <ctime>

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
TLocalFile gLocalFile;                                                        // local-file playback
void LocalPlay_Feed(TStreamRecord*) {}                                        // local-file playback
void LocalPlay_BuildIndex() {}                                                // local-file playback
void Setup_RefreshPages() {}
void Setup_ClearEdits(uint32_t) {}
void Setup_ApplyPage(int page)
{
    if (page == 5) Title_StartUpload(0);
}
// Until the DDNS page is wired its edits are filled and the page applied.
void Setup_FillDdnsAccount(const char* user, const char* password, const char* host)
{
    if (gViewerForm && gViewerForm->LabeledEdit_ddns2) {
        gViewerForm->LabeledEdit_ddns2->SetText(user);
        gViewerForm->LabeledEdit_ddns3->SetText(password);
        gViewerForm->LabeledEdit_ddns4->SetText(host);
    }
    Setup_ApplyPage(3);
}
void Web_OpenUrl(const char*) {}
void Watermark_InitKeys() {}
uint32_t gWatermarkRequest = 0;
uint8_t gWatermarkRecord[160];
void Watermark_OnReply(uint32_t) {}
uint32_t gUpnpWord = 0;
void Upnp_WriteDone(uint32_t) {}
void Upnp_ReadDone(uint32_t) {}
void Setup_FillForMachine(THandshakeRecord* handshake)
{
    if (handshake) Title_ShowEdits(handshake->machine.channelCount);
}
// Until the form is wired the tab's visibility is only remembered.
void Setup_BitrateToPage(TViewRecord*) {}
void Setup_PppoeToPage(TViewRecord*) {}
void Setup_DdnsToPage(TViewRecord*) {}
void Setup_MailToPage(TViewRecord*) {}
void Setup_MailIntervalToPage(TViewRecord*) {}
void Setup_EnableBitratePage(TViewRecord*, int) {}
void Setup_EnablePppoePage(TViewRecord*, int) {}
void Setup_EnableDdnsPage(TViewRecord*, int) {}
void Setup_EnableMailPage(TViewRecord*, int) {}
uint32_t Clock_NowNumber() { return 0; }                                    // backup files
void Setup_PageEntered(uint32_t connection, int page)
{
    if (page == 5) Title_PageEntered(connection);
}
