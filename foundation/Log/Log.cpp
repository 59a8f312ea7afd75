#include "Log/Log.h"

#include "Environment/Environment.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <syslog.h>
#include <unistd.h>

namespace {

struct LogState {
    std::mutex mutex;
    LogChannel channel = LogChannel::Console;
    std::string processName = "Arvel";
    std::shared_ptr<LogSink> sink = std::make_shared<ChannelLogSink>();
    bool verbose = false;
    bool verboseInitialised = false;
    SyslogMirror syslogMirror;
};

LogState& state()
{
    static LogState s;
    return s;
}

std::string consoleLine(const std::string& message)
{
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t t = system_clock::to_time_t(now);
    auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm {};
    localtime_r(&t, &tm);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    std::string name;
    {
        std::lock_guard lock(state().mutex);
        name = state().processName;
    }
    std::string line = stringWithFormat("%s.%03d %s[%d] ", stamp, static_cast<int>(ms), name, static_cast<int>(getpid()));
    line += message;
    // NSLog ends every line with exactly one newline of its own.
    if (line.empty() || line.back() != '\n')
        line += '\n';
    return line;
}

} // namespace

std::string trimLogMessage(std::string_view message)
{
    const char* blanks = " \t\r\n";
    auto first = message.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    auto last = message.find_last_not_of(blanks);
    return std::string(message.substr(first, last - first + 1));
}

void ChannelLogSink::write(LogChannel channel, int priority, const std::string& message)
{
    switch (channel) {
    case LogChannel::Syslog: {
        std::string line = trimLogMessage(message);
        syslog(priority, "%s", line.c_str());
        SyslogMirror mirror;
        {
            std::lock_guard lock(state().mutex);
            mirror = state().syslogMirror;
        }
        // A line the mirror itself writes (its own failure) goes no further.
        static thread_local bool mirroring = false;
        if (mirror && !mirroring) {
            mirroring = true;
            mirror(priority, line);
            mirroring = false;
        }
        break;
    }
    case LogChannel::Console: {
        std::string line = consoleLine(message);
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        break;
    }
    case LogChannel::StandardOutput:
        std::fwrite(message.data(), 1, message.size(), stdout);
        std::fflush(stdout);
        break;
    }
}

void CapturingLogSink::write(LogChannel, int priority, const std::string& message)
{
    entries_.push_back({priority, trimLogMessage(message)});
}

std::vector<std::string> CapturingLogSink::lines() const
{
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const auto& e : entries_)
        out.push_back(e.text);
    return out;
}

void setLogChannel(LogChannel channel)
{
    std::lock_guard lock(state().mutex);
    state().channel = channel;
}

LogChannel logChannel()
{
    std::lock_guard lock(state().mutex);
    return state().channel;
}

void setLogProcessName(std::string name)
{
    std::lock_guard lock(state().mutex);
    state().processName = std::move(name);
}

void setLogSink(std::shared_ptr<LogSink> sink)
{
    std::lock_guard lock(state().mutex);
    state().sink = sink ? std::move(sink) : std::make_shared<ChannelLogSink>();
}

void setSyslogMirror(SyslogMirror mirror)
{
    std::lock_guard lock(state().mutex);
    state().syslogMirror = std::move(mirror);
}

void logMessage(int priority, const std::string& message)
{
    std::shared_ptr<LogSink> sink;
    LogChannel channel;
    {
        std::lock_guard lock(state().mutex);
        sink = state().sink;
        channel = state().channel;
    }
    sink->write(channel, priority, message);
}

void initVerboseLoggingFromEnvironment()
{
    std::lock_guard lock(state().mutex);
    if (state().verboseInitialised)
        return;
    state().verboseInitialised = true;
    state().verbose = environmentValue(kDebugVariable) == "YES";
}

bool verboseLogging()
{
    std::lock_guard lock(state().mutex);
    return state().verbose;
}

void setVerboseLoggingForTesting(bool on)
{
    std::lock_guard lock(state().mutex);
    state().verbose = on;
    state().verboseInitialised = true;
}

void resetVerboseLoggingForTesting()
{
    std::lock_guard lock(state().mutex);
    state().verbose = false;
    state().verboseInitialised = false;
}

ScopedLogCapture::ScopedLogCapture() : sink_(std::make_shared<CapturingLogSink>())
{
    {
        std::lock_guard lock(state().mutex);
        previous_ = state().sink;
    }
    setLogSink(sink_);
}

ScopedLogCapture::~ScopedLogCapture()
{
    setLogSink(previous_);
}
