// MachineClient: the command line's side of the machine service. Each verb
// other than "serve" is sent as words to the service's Perform and its
// answer printed; "wait" asks "check" again every 50 ms until the
// condition holds or the time is up (a service not on the bus yet is
// waited for too), and "shutdown" returns once the
// service has gone from the bus (so its programs are gone too).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sdbus {
class IConnection;
class IProxy;
}

class MachineClient {
public:
    struct Answer {
        bool ok = false;
        std::string output;
    };

    // Connects to the bus the environment names; null, with the message
    // in *problem, when there is none.
    static std::unique_ptr<MachineClient> connect(std::string* problem);
    ~MachineClient();

    // The service's answer, or nullopt with the message in *problem
    // ("no machine service on the bus").
    std::optional<Answer> perform(const std::vector<std::string>& words, std::string* problem);
    // Whether a service holds the machine's name.
    bool serviceIsOnTheBus();

    // What the command line does with its arguments: the exit status.
    static int main(const std::vector<std::string>& words);

private:
    explicit MachineClient(std::unique_ptr<sdbus::IConnection> connection);
    int waitFor(const std::vector<std::string>& args);
    int shutdown();
    int waitForAnswer(const std::string& sent);

    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> proxy_;
    std::unique_ptr<sdbus::IProxy> bus_;
};
