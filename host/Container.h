// tavlin-host as a container: it embeds a control the way a browser does
// and draws it for screenshots. One embedding per process.
//
// The sequence: the object from the class factory; when it offers quick
// activation, IQuickActivate::QuickActivate with the host's site, its
// sinks (view, property notification, the events when asked for) and
// its ambient properties; otherwise IOleObject::SetClientSite (before
// the load when the misc status asks for it, else after) and the events
// through the connection point. Then IPersistPropertyBag::Load from the
// page's PARAM tags (IPersistStreamInit::InitNew for a control without
// a property bag), a host window of the control's extent, and
// IOleObject::DoVerb(OLEIVERB_INPLACEACTIVATE), which puts the control's
// window into it.
#pragma once
#include "platform/com/ComInterfaces.h"
#include <string>
#include <utility>
#include <vector>

struct TEmbedding {
    IUnknown* control = nullptr;
    HWND controlWindow = nullptr; // the control's own window, in hostWindow
    HWND hostWindow = nullptr;    // the host's top-level window
    bool quickActivated = false;
};

// Embeds the control the factory makes. params are the PARAM tags in page
// order; with events, every event of the control is printed
// ("event ID args=N"). False, with the reason in *error, when a step
// fails.
bool Container_Embed(IClassFactory* factory, const std::vector<std::pair<std::string, std::string>>& params,
                     bool events, TEmbedding* out, std::string* error);
// Writes the control's picture as a PNG file through IViewObject::Draw
// into a bitmap of its extent. 0, or -1 (the reason on stderr).
int Container_SaveScreenshot(const TEmbedding& e, const char* path);
// Closes the control, takes the site back and releases it.
void Container_Release(TEmbedding* e);
