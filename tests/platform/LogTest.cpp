#include "Log/Log.h"

#include <cstdlib>
#include <gtest/gtest.h>

TEST(ALog, TrimsWhiteSpaceAndNewlinesFromBothEnds)
{
    EXPECT_EQ(trimLogMessage("  \tarveld: Daemon started.\n\n"), "arveld: Daemon started.");
    EXPECT_EQ(trimLogMessage("\n \r\n"), "");
    EXPECT_EQ(trimLogMessage("inner\nnewline"), "inner\nnewline");
}

TEST(ALog, CapturesFormattedLinesWithTheirPriority)
{
    ScopedLogCapture log;
    logError("ArvelDOServer error: Unable to register name \"%@\".\n", std::string("com.tessmoor.Arvel.DaemonDriverAccess"));
    logNotice("ArvelConsoleUser: User \"%@\" UID %u on console.\n", std::string("alice"), 501u);
    ASSERT_EQ(log.sink().entries().size(), 2u);
    EXPECT_EQ(log.sink().entries()[0],
        (CapturingLogSink::Entry {kLogPriorityError, "ArvelDOServer error: Unable to register name \"com.tessmoor.Arvel.DaemonDriverAccess\"."}));
    EXPECT_EQ(log.sink().entries()[1], (CapturingLogSink::Entry {kLogPriorityNotice, "ArvelConsoleUser: User \"alice\" UID 501 on console."}));
}

TEST(ALog, RestoresThePreviousSinkWhenACaptureEnds)
{
    ScopedLogCapture outer;
    {
        ScopedLogCapture inner;
        logNotice("inner\n");
        EXPECT_EQ(inner.lines(), std::vector<std::string> {"inner"});
    }
    logNotice("outer\n");
    EXPECT_EQ(outer.lines(), std::vector<std::string> {"outer"});
}

TEST(ALog, WritesTheConsoleShapeToStandardError)
{
    setLogProcessName("ArvelSessionAgent");
    setLogChannel(LogChannel::Console);
    testing::internal::CaptureStderr();
    ChannelLogSink().write(LogChannel::Console, kLogPriorityNotice, "ArvelSessionAgent: hello");
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(written.ends_with(" ArvelSessionAgent[" + std::to_string(getpid()) + "] ArvelSessionAgent: hello\n")) << written;
    // yyyy-mm-dd hh:mm:ss.mmm
    ASSERT_GE(written.size(), 24u);
    EXPECT_EQ(written[4], '-');
    EXPECT_EQ(written[19], '.');
    EXPECT_EQ(written[23], ' ');
}

TEST(ALog, WritesStandardOutputAsItStands)
{
    testing::internal::CaptureStdout();
    ChannelLogSink().write(LogChannel::StandardOutput, kLogPriorityNotice, "Debug logging on.\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Debug logging on.\n");
}

TEST(ALog, MirrorsEachTrimmedSyslogLineOnceAndOnlySyslogLines)
{
    std::vector<std::pair<int, std::string>> mirrored;
    setSyslogMirror([&](int priority, const std::string& message) {
        mirrored.emplace_back(priority, message);
        // What the mirror itself logs (its own failure) is not mirrored again.
        ChannelLogSink().write(LogChannel::Syslog, kLogPriorityError, "MachineLink error: No answer.\n");
    });
    ChannelLogSink sink;
    sink.write(LogChannel::Syslog, kLogPriorityNotice, "  arveld: Daemon started.\n");
    sink.write(LogChannel::Syslog, kLogPriorityError, "arveld error: Must be run as root.\n");
    testing::internal::CaptureStdout();
    sink.write(LogChannel::StandardOutput, kLogPriorityNotice, "Debug logging on.\n");
    testing::internal::GetCapturedStdout();
    setSyslogMirror({});
    sink.write(LogChannel::Syslog, kLogPriorityNotice, "arveld: Not mirrored.\n");
    EXPECT_EQ(mirrored, (std::vector<std::pair<int, std::string>> {
                            {kLogPriorityNotice, "arveld: Daemon started."}, {kLogPriorityError, "arveld error: Must be run as root."}}));
}

TEST(AVerboseFlag, IsOnOnlyForExactlyYesAndIsReadOnce)
{
    for (const char* value : {"yes", "Yes", "YES ", "1", ""}) {
        resetVerboseLoggingForTesting();
        setenv("ArvelDebug", value, 1);
        initVerboseLoggingFromEnvironment();
        EXPECT_FALSE(verboseLogging()) << '"' << value << '"';
    }
    resetVerboseLoggingForTesting();
    unsetenv("ArvelDebug");
    initVerboseLoggingFromEnvironment();
    EXPECT_FALSE(verboseLogging());

    resetVerboseLoggingForTesting();
    setenv("ArvelDebug", "YES", 1);
    initVerboseLoggingFromEnvironment();
    EXPECT_TRUE(verboseLogging());
    setenv("ArvelDebug", "NO", 1);
    initVerboseLoggingFromEnvironment();
    EXPECT_TRUE(verboseLogging());

    unsetenv("ArvelDebug");
    resetVerboseLoggingForTesting();
}
