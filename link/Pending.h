// Calls the link's transport makes into modules that are not here yet.
// Each is defined in Pending.cpp as a stand-in that does nothing; the
// module named beside it replaces the definition with its own.
#pragma once
#include <cstdint>

struct TConnection;

// On a session grant: the record's VIDO state forgets the recorder's last
// request word (defined by the frame stream module, media/Vido.cpp).
void Vido_ResetForGrant(TConnection* c);
// Before each poll packet: a logged-in live link asks for the stream status
// (the viewer shell's).
void Session_RequestStream(TConnection* c);
// Connection 0's link icons: connected shows Image_Conn and hides
// Image_Disconn, 0 the other way round.
void Viewer_ShowLinkIcon(uint32_t connected);
