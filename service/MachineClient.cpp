#include "service/MachineClient.h"

#include "Bus/MessageBus.h"
#include "Environment/Environment.h"
#include "service/MachineService.h"

#include <sdbus-c++/sdbus-c++.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

constexpr const char* kNoService = "no machine service on the bus";

int fail(const std::string& message)
{
    std::string text = message;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::fprintf(stderr, "arvel-machine: %s\n", text.c_str());
    return 1;
}

std::string quoted(const std::vector<std::string>& words)
{
    std::string out;
    for (const std::string& word : words) {
        if (!out.empty())
            out += ' ';
        out += (word.empty() || word.find(' ') != std::string::npos) ? "\"" + word + "\"" : word;
    }
    return out;
}

} // namespace

MachineClient::MachineClient(std::unique_ptr<sdbus::IConnection> connection) : connection_(std::move(connection))
{
    proxy_ = sdbus::createProxy(*connection_, kMachineServiceName, kMachineControlPath);
    bus_ = sdbus::createProxy(*connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus");
}

MachineClient::~MachineClient() = default;

std::unique_ptr<MachineClient> MachineClient::connect(std::string* problem)
{
    std::optional<std::string> address = environmentValue(kBusAddressVariable);
    if (!address) {
        *problem = kNoService + std::string(" (") + kBusAddressVariable + " is not set)";
        return nullptr;
    }
    try {
        return std::unique_ptr<MachineClient>(new MachineClient(sdbus::createSessionBusConnectionWithAddress(*address)));
    } catch (const sdbus::Error& error) {
        *problem = kNoService + std::string(" (") + error.getMessage() + ")";
        return nullptr;
    }
}

std::optional<MachineClient::Answer> MachineClient::perform(const std::vector<std::string>& words, std::string* problem)
{
    Answer answer;
    try {
        proxy_->callMethod("Perform").onInterface(kMachineControlInterface).withArguments(words).storeResultsTo(answer.ok, answer.output);
    } catch (const sdbus::Error& error) {
        const std::string& name = error.getName();
        if (name == "org.freedesktop.DBus.Error.ServiceUnknown" || name == "org.freedesktop.DBus.Error.NameHasNoOwner"
            || name == "org.freedesktop.DBus.Error.NoReply")
            *problem = kNoService;
        else
            *problem = "the machine service failed: " + error.getMessage();
        return std::nullopt;
    }
    return answer;
}

bool MachineClient::serviceIsOnTheBus()
{
    bool owned = false;
    try {
        bus_->callMethod("NameHasOwner").onInterface("org.freedesktop.DBus").withArguments(std::string(kMachineServiceName)).storeResultsTo(owned);
    } catch (const sdbus::Error&) {
        return false;
    }
    return owned;
}

int MachineClient::main(const std::vector<std::string>& words)
{
    std::string problem;
    std::unique_ptr<MachineClient> client = connect(&problem);
    if (!client)
        return fail(problem);
    if (!words.empty() && words[0] == "wait")
        return client->waitFor(std::vector<std::string>(words.begin() + 1, words.end()));
    std::optional<Answer> answer = client->perform(words, &problem);
    if (!answer)
        return fail(problem);
    if (!answer->ok)
        return fail(answer->output);
    std::fputs(answer->output.c_str(), stdout);
    std::fflush(stdout);
    if (!words.empty() && (words[0] == "click" || words[0] == "choose" || words[0] == "slide"))
        return client->waitForAnswer(answer->output);
    if (!words.empty() && words[0] == "shutdown")
        return client->shutdown();
    return 0;
}

int MachineClient::waitFor(const std::vector<std::string>& args)
{
    double timeout = 10;
    std::vector<std::string> condition = args;
    if (!condition.empty() && condition[0] == "--timeout") {
        char* end = nullptr;
        timeout = condition.size() > 1 ? std::strtod(condition[1].c_str(), &end) : -1;
        if (condition.size() < 2 || condition[1].empty() || *end || !std::isfinite(timeout) || timeout < 0)
            return fail("--timeout takes a number of seconds");
        condition.erase(condition.begin(), condition.begin() + 2);
    }
    if (condition.empty())
        return fail("usage: wait [--timeout SECONDS] CONDITION");
    std::vector<std::string> check {"check"};
    check.insert(check.end(), condition.begin(), condition.end());
    const auto limit = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    for (;;) {
        // A service still starting is waited for as well: "serve &" and then
        // "wait" is how a script begins.
        std::string problem;
        std::optional<Answer> answer = perform(check, &problem);
        if (!answer && problem != kNoService)
            return fail(problem);
        if (answer && !answer->ok)
            return fail(answer->output);
        if (answer && answer->output == "yes\n")
            return 0;
        if (std::chrono::steady_clock::now() >= limit) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", timeout);
            return fail("timed out after " + std::string(seconds) + " s waiting for: " + quoted(condition)
                + (answer ? "" : " (" + std::string(kNoService) + ")"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// "request N: ..." was sent to a program: what came of it, once it says.
int MachineClient::waitForAnswer(const std::string& sent)
{
    const std::string serial = sent.substr(8, sent.find(':') - 8);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        std::string problem;
        std::optional<Answer> answer = perform({"show", "answer", serial}, &problem);
        if (!answer)
            return fail(problem);
        if (!answer->ok)
            return fail(answer->output);
        if (answer->output != "pending\n") {
            if (answer->output == "done\n")
                return 0;
            std::string why = answer->output;
            while (!why.empty() && why.back() == '\n')
                why.pop_back();
            return fail(why);
        }
        if (std::chrono::steady_clock::now() >= limit)
            return fail("request " + serial + " was not answered within 10 s");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int MachineClient::shutdown()
{
    // The service answers, then ends its programs, then leaves the bus.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (serviceIsOnTheBus()) {
        if (std::chrono::steady_clock::now() >= limit)
            return fail("the machine service is still on the bus after 15 s");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}
