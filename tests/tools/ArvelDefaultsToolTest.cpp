// arvel-defaults, run as its own process on a temporary disk.
#include "Foundation/PropertyList.h"
#include "support/TemporaryFolder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kAliceDomain = "/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist";

struct ToolRun {
    int status = -1;
    std::string out, err;
};

Value dict(std::initializer_list<std::pair<const std::string, Value>> entries)
{
    return Value::dictionary(entries);
}

} // namespace

class TheDefaultsTool : public ::testing::Test {
protected:
    TemporaryFolder disk;
    TemporaryFolder output;

    ToolRun run(std::vector<std::string> args)
    {
        args.insert(args.begin(), ARVEL_DEFAULTS_PROGRAM);
        std::string root = "ARVEL_ROOT=" + disk.path();
        pid_t pid = fork();
        if (pid == 0) {
            int out = ::open(output.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = ::open(output.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(err, 2);
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            char* env[] = {root.data(), nullptr};
            execve(argv[0], argv.data(), env);
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output.read("out"), output.read("err")};
    }

    Value file(const std::string& systemPath) { return readPropertyList(disk.path() + systemPath).value; }

    bool exists(const std::string& systemPath) { return access((disk.path() + systemPath).c_str(), F_OK) == 0; }
};

TEST_F(TheDefaultsTool, WritesTypedValuesIntoAUsersDomain)
{
    EXPECT_EQ(run({"--user", "alice", "write", "com.tessmoor.Arvel", "PrefsVersion", "-int", "3"}).status, 0);
    EXPECT_EQ(run({"--user", "alice", "write", "com.tessmoor.Arvel", "VerticalScroll", "-int", "-2"}).status, 0);
    EXPECT_EQ(run({"--user", "alice", "write", "com.tessmoor.Arvel", "IgnoreWhileTyping", "-bool", "YES"}).status, 0);
    EXPECT_EQ(run({"--user", "alice", "write", "com.tessmoor.Arvel", "Speed", "-float", "1.5"}).status, 0);
    EXPECT_EQ(run({"--user", "alice", "write", "com.tessmoor.Arvel", "Name", "-string", "12"}).status, 0);
    EXPECT_EQ(run({"--user", "alice", "write", "com.tessmoor.Arvel", "NWCorner", "-dict", "Action", "-int", "7", "Data",
                      "-int", "65571", "Note", "key"})
                  .status,
        0);
    EXPECT_EQ(run({"--user", "alice", "write", "com.tessmoor.Arvel", "List", "-array", "-int", "1", "two"}).status, 0);
    EXPECT_EQ(file(kAliceDomain),
        dict({{"PrefsVersion", 3}, {"VerticalScroll", -2}, {"IgnoreWhileTyping", true}, {"Speed", 1.5}, {"Name", "12"},
            {"NWCorner", dict({{"Action", 7}, {"Data", 65571}, {"Note", "key"}})},
            {"List", Value::array({1, "two"})}}));
}

TEST_F(TheDefaultsTool, ReplacesAWholeDomainAsAnEarlierVersionLeftIt)
{
    ToolRun r = run({"--user", "alice", "write", "com.tessmoor.Arvel",
        "<dict><key>PrefsVersion</key><integer>2</integer><key>ScrollScale</key><integer>12</integer>"
        "<key>ApplicationSet</key><array/></dict>"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(kAliceDomain), dict({{"PrefsVersion", 2}, {"ScrollScale", 12}, {"ApplicationSet", Value::array()}}));
}

TEST_F(TheDefaultsTool, ReadsADomainOrOneKey)
{
    run({"--user", "alice", "write", "com.tessmoor.Arvel", "Button", "-dict", "Action", "-int", "1"});
    run({"--user", "alice", "write", "com.tessmoor.Arvel", "Name", "Text Edit"});
    ToolRun whole = run({"--user", "alice", "read", "com.tessmoor.Arvel"});
    EXPECT_EQ(whole.status, 0);
    EXPECT_EQ(whole.out, "{Button = {Action = 1; }; Name = \"Text Edit\"; }\n");
    EXPECT_EQ(run({"--user", "alice", "read", "com.tessmoor.Arvel", "Button"}).out, "{Action = 1; }\n");
    EXPECT_EQ(run({"--user", "alice", "read", "com.tessmoor.Arvel", "Name"}).out, "Text Edit\n");

    ToolRun missingKey = run({"--user", "alice", "read", "com.tessmoor.Arvel", "CornerSize"});
    EXPECT_EQ(missingKey.status, 1);
    EXPECT_EQ(
        missingKey.err, "arvel-defaults: The domain/default pair of (com.tessmoor.Arvel, CornerSize) does not exist\n");
    ToolRun missingDomain = run({"--user", "bob", "read", "com.tessmoor.Arvel"});
    EXPECT_EQ(missingDomain.status, 1);
    EXPECT_EQ(missingDomain.err,
        "arvel-defaults: Domain com.tessmoor.Arvel does not exist "
        "(/Users/bob/Library/Preferences/com.tessmoor.Arvel.plist)\n");
}

TEST_F(TheDefaultsTool, AddressesRootTheMachineTheHostAndTheGlobalDomain)
{
    EXPECT_EQ(
        run({"--any-user", "write", "-currentHost", "com.tessmoor.Arvel", "LoginWindowTap", "-bool", "NO"}).status, 0);
    EXPECT_EQ(
        file("/Library/Preferences/ByHost/com.tessmoor.Arvel.001122334455.plist"), dict({{"LoginWindowTap", false}}));
    EXPECT_EQ(run({"--any-user", "write", "com.tessmoor.Arvel", "A", "-int", "1"}).status, 0);
    EXPECT_EQ(file("/Library/Preferences/com.tessmoor.Arvel.plist"), dict({{"A", 1}}));
    EXPECT_EQ(run({"write", "com.tessmoor.Arvel", "B", "-int", "2"}).status, 0);
    EXPECT_EQ(file("/var/root/Library/Preferences/com.tessmoor.Arvel.plist"), dict({{"B", 2}}));
    EXPECT_EQ(run({"--user", "carol", "--home", "/Volumes/Home/carol", "write", "-currentHost", "com.tessmoor.Arvel",
                      "C", "3"})
                  .status,
        0);
    EXPECT_EQ(file("/Volumes/Home/carol/Library/Preferences/ByHost/com.tessmoor.Arvel.001122334455.plist"),
        dict({{"C", "3"}}));
    EXPECT_EQ(run({"--user", "alice", "write", "-g", "com.apple.trackpad.scaling", "-float", "0.75"}).status, 0);
    EXPECT_EQ(file("/Users/alice/Library/Preferences/.GlobalPreferences.plist"),
        dict({{"com.apple.trackpad.scaling", 0.75}}));
    EXPECT_EQ(run({"--user", "alice", "read", "NSGlobalDomain", "com.apple.trackpad.scaling"}).out, "0.75\n");
}

TEST_F(TheDefaultsTool, DeletesKeysAndDomains)
{
    run({"--user", "alice", "write", "com.tessmoor.Arvel", "A", "-int", "1"});
    run({"--user", "alice", "write", "com.tessmoor.Arvel", "B", "-int", "2"});
    EXPECT_EQ(run({"--user", "alice", "delete", "com.tessmoor.Arvel", "A"}).status, 0);
    EXPECT_EQ(file(kAliceDomain), dict({{"B", 2}}));
    ToolRun missingKey = run({"--user", "alice", "delete", "com.tessmoor.Arvel", "A"});
    EXPECT_EQ(missingKey.status, 1);
    EXPECT_EQ(missingKey.err, "arvel-defaults: Key A does not exist in domain com.tessmoor.Arvel\n");
    EXPECT_EQ(run({"--user", "alice", "delete", "com.tessmoor.Arvel"}).status, 0);
    EXPECT_FALSE(exists(kAliceDomain));
    EXPECT_EQ(run({"--user", "alice", "delete", "com.tessmoor.Arvel"}).status, 1);
}

TEST_F(TheDefaultsTool, RefusesWhatItCannotReadWithoutWritingAnything)
{
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--user", "alice", "write", "com.tessmoor.Arvel", "A", "-int", "12abc"},
            "arvel-defaults: \"12abc\" is not an integer\n"},
        {{"--user", "alice", "write", "com.tessmoor.Arvel", "A", "-bool", "maybe"},
            "arvel-defaults: \"maybe\" is not YES or NO\n"},
        {{"--user", "alice", "write", "com.tessmoor.Arvel", "A", "-dict", "Action"},
            "arvel-defaults: -dict key \"Action\" has no value\n"},
        {{"--user", "alice", "write", "com.tessmoor.Arvel", "A", "<dict><key>x"},
            "arvel-defaults: \"<dict><key>x\" is not a property list\n"},
        {{"--user", "alice", "write", "../../../etc/x", "A", "1"},
            "arvel-defaults: \"../../../etc/x\" is not a domain name\n"},
    };
    for (const auto& [args, message] : refused) {
        ToolRun r = run(args);
        EXPECT_EQ(r.status, 1) << args[5];
        EXPECT_EQ(r.err, message);
    }
    EXPECT_FALSE(exists("/Users/alice/Library/Preferences"));
    EXPECT_EQ(run({}).status, 2);
    EXPECT_EQ(run({"--user", "alice", "remove", "com.tessmoor.Arvel"}).status, 2);
    EXPECT_EQ(run({"--any-user", "--user", "alice", "read", "com.tessmoor.Arvel"}).status, 2);
    EXPECT_EQ(run({"--user", "../alice", "read", "com.tessmoor.Arvel"}).status, 2);
    for (const char* uid : {"x", "-1", "", "4294967295"})
        EXPECT_EQ(run({"--user", "alice", "--uid", uid, "read", "com.tessmoor.Arvel"}).err.rfind("arvel-defaults: --uid takes a user id\n", 0), 0u) << uid;
    EXPECT_EQ(run({"--uid", "501", "read", "com.tessmoor.Arvel"}).status, 2);
    ToolRun help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--any-user    the machine-wide domains in /Library/Preferences"), std::string::npos);
}

TEST_F(TheDefaultsTool, SetsAnUnreadableDomainAsideBeforeWritingButOnlyReportsItOnRead)
{
    disk.write("Users/alice/Library/Preferences/com.tessmoor.Arvel.plist", "torn");
    ToolRun read = run({"--user", "alice", "read", "com.tessmoor.Arvel"});
    EXPECT_EQ(read.status, 1);
    EXPECT_EQ(read.err, "arvel-defaults: " + kAliceDomain + " cannot be read: not a property list\n");
    EXPECT_EQ(disk.read("Users/alice/Library/Preferences/com.tessmoor.Arvel.plist"), "torn");

    ToolRun write = run({"--user", "alice", "write", "com.tessmoor.Arvel", "PrefsVersion", "-int", "4"});
    EXPECT_EQ(write.status, 0);
    EXPECT_NE(write.err.find("Preferences error: \"" + kAliceDomain
                  + "\" cannot be read (not a property list); moved it aside to \"" + kAliceDomain + ".unreadable\"."),
        std::string::npos)
        << write.err;
    EXPECT_EQ(disk.read("Users/alice/Library/Preferences/com.tessmoor.Arvel.plist.unreadable"), "torn");
    EXPECT_EQ(file(kAliceDomain), dict({{"PrefsVersion", 4}}));
}
