// The fixture of the daemon's tests: a fresh machine, and no daemon objects
// left over from another test (the harness lets the shared instances go
// before the machine is put back).
#pragma once

#include "Foundation/SharedInstance.h"
#include "support/MachineHarness.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>

class DaemonTest : public ::testing::Test {
protected:
    using Entry = CapturingLogSink::Entry;
    using Entries = std::vector<Entry>;
    using Lines = std::vector<std::string>;

    MachineHarness world;

    static Entry notice(std::string text) { return MachineHarness::notice(std::move(text)); }
    static Entry error(std::string text) { return MachineHarness::error(std::move(text)); }
};

// Sets (or unsets) an environment variable for a scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, std::optional<std::string> value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            previous_ = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnvironment()
    {
        if (previous_)
            setenv(name_, previous_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};
