#include "PrefPane/AgentManagementStandIn.h"

void addAgentToLoginItems() {}
void launchAgent() {}
