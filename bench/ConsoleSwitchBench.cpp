// What fast user switching costs with eight users logged in, each with an
// agent of their own, the whole system running as real processes on one
// private bus: for each switch of the console to the next user in turn, the
// machine-link calls the machine service served, the news it sent and the
// per-application dictionaries the driver got, until nothing more came.
// Needs root: the agents run with their users' ids.
//
//   console_switch_bench [switches]   (default 16)
#include "SystemRig.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

int main(int argc, char** argv)
{
    const int switches = argc > 1 ? std::max(2, std::atoi(argv[1])) : 16;
    if (geteuid() != 0) {
        std::printf("console_switch_bench: needs root (the agents run with their users' ids); nothing measured\n");
        return 0;
    }
    std::vector<std::pair<std::string, unsigned>> others;
    std::vector<std::string> users {"alice"};
    for (unsigned i = 0; i < 7; ++i) {
        std::string name = std::string("user") + static_cast<char>('b' + i);
        others.emplace_back(name, 502 + i);
        users.push_back(name);
    }
    rig::Rig system(others);
    if (!system.start(false))
        return 1;
    std::vector<rig::Rig::Cost> costs;
    for (int i = 0; i < switches; ++i) {
        auto cost = system.switchConsoleTo(users[static_cast<std::size_t>(i) % users.size()]);
        if (!cost) {
            std::fprintf(stderr, "console_switch_bench: switch %d did not settle\n", i);
            return 1;
        }
        costs.push_back(*cost);
    }
    system.stop();
    auto most = [&](auto member) {
        unsigned long long m = 0;
        for (const auto& c : costs)
            m = std::max(m, c.*member);
        return m;
    };
    auto mean = [&](auto member) {
        double sum = 0;
        for (const auto& c : costs)
            sum += static_cast<double>(c.*member);
        return sum / static_cast<double>(costs.size());
    };
    std::printf("%zu console switches among %zu logged-in users, each with an agent\n", costs.size(), users.size());
    std::printf("machine-link calls per switch:           mean %6.1f   max %4llu\n", mean(&rig::Rig::Cost::calls), most(&rig::Rig::Cost::calls));
    std::printf("news sent per switch:                    mean %6.1f   max %4llu\n", mean(&rig::Rig::Cost::news), most(&rig::Rig::Cost::news));
    std::printf("per-application dictionaries per switch: mean %6.1f   max %4llu\n", mean(&rig::Rig::Cost::dictionaries),
        most(&rig::Rig::Cost::dictionaries));
    return 0;
}
