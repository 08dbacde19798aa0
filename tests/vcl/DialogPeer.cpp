// A module with its own copy of the class library, as the COM server has:
// its message boxes must reach the hook that the program loading it set.
#include "platform/vcl/Dialogs.h"

extern "C" __attribute__((visibility("default"))) int DialogPeer_Ask(const char* text)
{
    return Application_MessageBox(text, "Peer", MB_YESNO);
}
