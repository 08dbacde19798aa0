// The UPnP page: one 32-bit word exchanged with the recorder through the
// named shared variables Tavn_Upnp_C_Data_W (the viewer writes it) and
// Tavn_Upnp_C_Data_R (the recorder's value, shown on the page). Owns
// gUpnpWord, the data buffer of both variables.
#pragma once
#include <cstdint>

// Bits of gUpnpWord.
enum : uint32_t {
    UPNP_PORT_MASK = 0xFFFF, // bits 0-15: the port
    UPNP_WRITE = 1u << 29,   // in the word Apply sends
    UPNP_ON = 1u << 30,      // UPnP on
    UPNP_READ = 1u << 31,    // in the word sent when the page is entered
};

// gUpnpWord, Upnp_WriteDone and Upnp_ReadDone, which the link registers:
// link/Hooks.h.

// The page was entered: asks for the recorder's word with the page's
// values in it (the port text as a decimal integer, cut to 16 bits; a
// non-number raises the conversion error and nothing is sent).
void Upnp_RequestSetting();
// Apply: on (0 or 1) and the port; nothing without a session.
void Upnp_SendSetting(uint32_t on, uint32_t port);
