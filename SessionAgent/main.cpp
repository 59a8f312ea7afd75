// ArvelSessionAgent: one per login session, started as a login item.
//
// The application object is made after its class-load hook, then the
// controller the main interface file holds is woken; the application's run
// loop does the rest until the session ends.
#include "ArvelDefaultButton.h"
#include "ArvelFrontApplication.h"
#include "ArvelSessionAgent.h"
#include "ArvelSessionAgentApp.h"
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
    ArvelDefaultButton::releaseSharedInstance();
    ArvelFrontApplication::releaseSharedInstance();
    return 0;
}
