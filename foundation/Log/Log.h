// Logging: one process-wide channel, chosen at start-up.
//
//   Syslog          arveld and the syslog tools: the message is trimmed of
//                   surrounding white space and newlines and written with
//                   syslog(3), errors at LOG_ERR, information at LOG_NOTICE.
//   Console         the pane, the agent and the installer: the NSLog shape
//                   "2026-12-08 10:11:12.345 Name[pid] message" on stderr.
//   StandardOutput  Verbosa: the message as it stands on stdout.
//
// Every line goes through one sink, so tests swap in a CapturingLogSink and
// assert on the exact (trimmed) lines and their priorities.
#pragma once

#include "Foundation/Format.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int kLogPriorityError = 3;  // LOG_ERR
inline constexpr int kLogPriorityNotice = 5; // LOG_NOTICE

enum class LogChannel { Syslog, Console, StandardOutput };

class LogSink {
public:
    virtual ~LogSink() = default;
    // message is the formatted text as the system wrote it, trailing "\n"
    // included; the sink decides how its channel trims and frames it.
    virtual void write(LogChannel channel, int priority, const std::string& message) = 0;
};

// The sink that writes to the real channel (syslog, stderr, stdout).
class ChannelLogSink final : public LogSink {
public:
    void write(LogChannel channel, int priority, const std::string& message) override;
};

// Records every line, trimmed, with its priority; what tests assert on.
class CapturingLogSink final : public LogSink {
public:
    struct Entry {
        int priority;
        std::string text;
        bool operator==(const Entry&) const = default;
    };
    void write(LogChannel channel, int priority, const std::string& message) override;
    const std::vector<Entry>& entries() const { return entries_; }
    std::vector<std::string> lines() const;
    void clear() { entries_.clear(); }

private:
    std::vector<Entry> entries_;
};

void setLogChannel(LogChannel channel);
LogChannel logChannel();
// The process name used by the console shape ("ArvelSessionAgent").
void setLogProcessName(std::string name);
// Replaces the process-wide sink; nullptr restores the channel sink.
void setLogSink(std::shared_ptr<LogSink> sink);

// Where each syslog line also goes once the real syslog(3) write is done
// (the message trimmed, with its priority): the machine's system log, when
// the program runs on a machine service. Empty: nowhere.
using SyslogMirror = std::function<void(int priority, const std::string& message)>;
void setSyslogMirror(SyslogMirror mirror);

// Leading and trailing spaces, tabs, carriage returns and newlines removed.
std::string trimLogMessage(std::string_view message);

void logMessage(int priority, const std::string& message);

template <class... Args>
void logError(std::string_view format, const Args&... args)
{
    logMessage(kLogPriorityError, stringWithFormat(format, args...));
}

template <class... Args>
void logNotice(std::string_view format, const Args&... args)
{
    logMessage(kLogPriorityNotice, stringWithFormat(format, args...));
}

// The process-wide verbose flag: set once, from ArvelDebug being exactly
// "YES". Later calls of initVerboseLoggingFromEnvironment change nothing.
void initVerboseLoggingFromEnvironment();
bool verboseLogging();
void setVerboseLoggingForTesting(bool on);

// A line written only when verbose logging is on.
template <class... Args>
void verboseNotice(std::string_view format, const Args&... args)
{
    if (verboseLogging())
        logNotice(format, args...);
}

template <class... Args>
void verboseError(std::string_view format, const Args&... args)
{
    if (verboseLogging())
        logError(format, args...);
}
// Forgets the flag so that the next initVerboseLoggingFromEnvironment reads again.
void resetVerboseLoggingForTesting();

// Installs a capturing sink for a scope (a test) and restores the previous one.
class ScopedLogCapture {
public:
    ScopedLogCapture();
    ~ScopedLogCapture();
    ScopedLogCapture(const ScopedLogCapture&) = delete;
    ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;
    CapturingLogSink& sink() { return *sink_; }
    std::vector<std::string> lines() const { return sink_->lines(); }
    void clear() { sink_->clear(); }

private:
    std::shared_ptr<CapturingLogSink> sink_;
    std::shared_ptr<LogSink> previous_;
};
