// Stand-ins for later modules' functions that the transport calls; each
// does nothing until its module replaces it. Owns no state.
#include "link/Pending.h"

void Handshake_Send(uint32_t session, uint32_t code) {}  // filled by the handshake module
void Handshake_ClearClientKind(TConnection* c) {}        // filled by the handshake module
void Vido_ResetForGrant(TConnection* c) {}               // filled by the frame stream module
void Viewer_ShowLinkIcon(uint32_t connected) {}          // filled by the viewer form
