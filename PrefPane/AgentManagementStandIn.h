// Stand-in for the agent's login-item management until it lands in
// Common/: the pane makes sure, on every showing, that the agent starts at
// login and runs. Here both do nothing.
#pragma once

void addAgentToLoginItems();
void launchAgent();
