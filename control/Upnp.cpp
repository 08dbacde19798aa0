// The UPnP page through the named shared variables; owns gUpnpWord.
#include "control/Upnp.h"
#include "link/Hooks.h"
#include "control/TavlinImpl1.h"
#include "control/Text.h"
#include "link/Conn.h"
#include "link/Ictl.h"

uint32_t gUpnpWord = 0;

void Upnp_RequestSetting()
{
    if (!gViewerForm) return;
    const uint32_t port = (uint32_t)StrToInt(gViewerForm->LabeledEdit_upnp->Text());
    const uint32_t on = gViewerForm->ComboBox_upnp->ItemIndex() == 1 ? 1 : 0;
    gUpnpWord = 0;
    gUpnpWord = (port & UPNP_PORT_MASK) + (on << 30) + UPNP_READ;
    Ictl_SendVariable(gConnections[0].session, "Tavn_Upnp_C_Data_W", &gUpnpWord, 4, 1);
}

void Upnp_SendSetting(uint32_t on, uint32_t port)
{
    const uint32_t session = gConnections[0].session;
    if (session == 0) return;
    const uint32_t word = ((on & 1) << 30) + (port & UPNP_PORT_MASK);
    gUpnpWord = word | UPNP_WRITE;
    Ictl_SendVariable(session, "Tavn_Upnp_C_Data_W", &gUpnpWord, 4, 1);
    gUpnpWord = word;
}

void Upnp_WriteDone(uint32_t) {}

void Upnp_ReadDone(uint32_t)
{
    if (!gViewerForm) return;
    gViewerForm->ComboBox_upnp->SetItemIndex((gUpnpWord & UPNP_ON) ? 1 : 0);
    gViewerForm->LabeledEdit_upnp->SetText(IntToAnsiString((int32_t)(gUpnpWord & UPNP_PORT_MASK)));
}
