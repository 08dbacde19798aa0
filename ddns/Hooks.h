// What the DDNS account form calls in the viewer's setup pages, and nothing
// more. The file that defines them (control/Setup.cpp) includes this
// header, so the compiler holds both sides to one declaration; ddns files
// reach the control layer through this header alone.
#pragma once

// The account form's hand-over: fills the DDNS user, password and host
// and applies the DDNS page.
void Ddns_ApplyAccount(const char* user, const char* password, const char* host);
// Opens a web address in the user's browser.
void Web_OpenUrl(const char* address);
