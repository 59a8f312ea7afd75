// ArvelSessionAgentApp: the agent's application object.
//
// load() runs before the application starts: it installs the Carbon handler
// that lets the application events (launch, quit, front switch) reach the
// application, and reads the verbose flag once. sendEvent: turns each of
// those events into an in-process notification on the default centre,
// "com.tessmoor.Arvel.AppSwitch", "...AppLaunched" or "...AppTerminated",
// whose object is {"psnhigh", "psnlow"}: the serial number of the
// application concerned. Every event then goes on to NSApplication.
#pragma once

#include "AppKit/NSApplication.h"

class ArvelSessionAgentApp : public NSApplication {
public:
    static void load();
    void sendEvent(const NSEvent& event) override;
};
