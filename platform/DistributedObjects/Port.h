// Port: a communication port a connection receives and sends on. In
// process it carries nothing itself; it exists so that the system creates
// its connections as it always has, and so that a failure to get one can
// be tested (the machine failure "Port::port").
#pragma once

#include <memory>

class Port {
public:
    // A new port; null when none can be had.
    static std::shared_ptr<Port> port();

private:
    Port() = default;
};
