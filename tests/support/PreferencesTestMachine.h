// A freshly booted simulated machine on a temporary disk, for the tests of
// stored settings: users with homes, the identity the process acts as, and
// verbs to seed and inspect the preference files as system paths.
//
// It starts and ends with clean per-process preference state (no standard
// user-defaults object, no pending preference changes) and captures the log.
#pragma once

#include "Foundation/Value.h"
#include "Log/Log.h"
#include "support/TemporaryFolder.h"

#include <cstdint>
#include <string>
#include <vector>

class PreferencesTestMachine {
public:
    PreferencesTestMachine();
    ~PreferencesTestMachine();
    PreferencesTestMachine(const PreferencesTestMachine&) = delete;
    PreferencesTestMachine& operator=(const PreferencesTestMachine&) = delete;

    // Adds a user whose home is "/Users/<name>".
    void addUser(const std::string& name, std::uint32_t uid);
    // The process's effective id from now on (as seteuid would leave it).
    void actAs(std::uint32_t uid);

    bool exists(const std::string& systemPath) const;
    void writeFile(const std::string& systemPath, const std::string& contents) const;
    std::string readFile(const std::string& systemPath) const;
    // Writes a domain file as an earlier version (or another process) left it.
    void writeDomain(const std::string& systemPath, const Value& domain) const;
    // The file's dictionary; nil when it is missing or not a property list.
    Value readDomain(const std::string& systemPath) const;
    // The names in a folder, sorted.
    std::vector<std::string> filesIn(const std::string& systemFolder) const;

    std::vector<std::string> logLines() const { return log_.lines(); }
    const std::vector<CapturingLogSink::Entry>& logEntries() { return log_.sink().entries(); }
    void clearLog() { log_.clear(); }

private:
    TemporaryFolder root_;
    ScopedLogCapture log_;
};
