// Placeholders for modules that are not built yet; each module replaces
// its own entries here when it arrives.
#include "control/Pending.h"

TLocalFile gLocalFile;                                                        // local-file playback
void LocalPlay_Feed(TStreamRecord*) {}                                        // local-file playback
void LocalPlay_BuildIndex() {}                                                // local-file playback
void Noip_ShowAccountForm() {}                                                // the No-IP account form
