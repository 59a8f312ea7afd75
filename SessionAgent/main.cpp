// ArvelSessionAgent: one per login session, started as a login item.
//
// The application object is made after its class-load hook, then the
// controller the main interface file holds is woken; the application's run
// loop does the rest until the session ends.
#include "ArvelSessionAgent.h"
#include "ArvelSessionAgentApp.h"
#include "Foundation/SharedInstance.h"
#include "Log/Log.h"

int main()
{
    setLogChannel(LogChannel::Console);
    setLogProcessName("ArvelSessionAgent");
    ArvelSessionAgentApp::load();
    {
        ArvelSessionAgentApp application;
        ArvelSessionAgent agent;
        agent.awakeFromNib();
        if (!application.isTerminated())
            application.run();
    }
    // The handlers go while the run loop and the notification centres they
    // are registered with still stand.
    releaseSharedInstances();
    return 0;
}
