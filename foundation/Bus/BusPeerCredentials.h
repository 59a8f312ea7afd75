// BusPeerCredentials: who a program on the bus is, as the bus daemon knows
// it: the unix user and the process that opened its connection. What a
// program says about itself (its environment, its arguments) never enters
// into it, so a server decides who may do what from this alone.
//
// Answers for unique names (":1.42") are remembered until the name leaves
// the bus (unique names are never given out again), at most
// kMaxRememberedPeers of them; a well-known name is asked about each time,
// since its owner may change. A name the bus does not know (its program has
// gone) answers nothing.
//
// A server that keeps things for its callers hears here when one leaves
// the bus (whenLeaving), to end what it kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace sdbus {
class IConnection;
class IProxy;
} // namespace sdbus

class BusPeerCredentials {
public:
    struct Peer {
        std::uint32_t uid = 0;
        int pid = 0;
        bool operator==(const Peer&) const = default;
    };
    static constexpr std::size_t kMaxRememberedPeers = 256;

    // Watches the bus for programs leaving; throws sdbus::Error when the bus
    // refuses the watch.
    explicit BusPeerCredentials(sdbus::IConnection& connection);
    ~BusPeerCredentials();
    BusPeerCredentials(const BusPeerCredentials&) = delete;
    BusPeerCredentials& operator=(const BusPeerCredentials&) = delete;

    std::optional<Peer> peer(const std::string& busName);
    std::size_t rememberedCount() const { return remembered_.size(); }
    // Called with the unique name of every program that leaves the bus.
    void whenLeaving(std::function<void(const std::string& uniqueName)> observer) { leaving_ = std::move(observer); }

private:
    std::optional<Peer> ask(const std::string& busName);

    sdbus::IConnection& connection_;
    std::unique_ptr<sdbus::IProxy> busDaemon_;
    std::shared_ptr<void> leaveWatch_;
    std::map<std::string, Peer> remembered_;
    std::function<void(const std::string&)> leaving_;
};
