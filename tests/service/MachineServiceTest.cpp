// arvel-machine with real programs on a private bus: the service started on
// a temporary disk root, driven by its command line as a script would, and
// checked by what the programs it started wrote and by the host's process
// table.
#include "Bus/MessageBus.h"
#include "support/PrivateBus.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Words = std::vector<std::string>;
namespace fs = std::filesystem;

struct Ran {
    int status;
    std::string output;
    bool operator==(const Ran&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Ran& run)
{
    return out << "{" << run.status << ", \"" << run.output << "\"}";
}

bool isRunning(pid_t pid)
{
    return ::kill(pid, 0) == 0;
}

bool isGone(pid_t pid)
{
    return ::kill(pid, 0) == -1 && errno == ESRCH;
}

// Gone within a few seconds: reaped by the service once its parent ended.
bool becomesGone(pid_t pid)
{
    for (int tries = 0; tries < 1000 && !isGone(pid); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return isGone(pid);
}

int parentOf(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 1));
    std::string state;
    int ppid = 0;
    fields >> state >> ppid;
    return ppid;
}

class AMachineService : public ::testing::Test {
protected:
    void SetUp() override
    {
        bus_ = &PrivateBus::shared();
        // Programs that run as a user must reach their executables, and
        // write what they saw where the test can read it.
        root_ = fs::canonical(disk_.path()).string();
        fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read
                | fs::perms::others_exec);
        fs::create_directories(root_ + "/records");
        fs::permissions(root_ + "/records", fs::perms::all);
    }
    void TearDown() override
    {
        if (service_ > 0) {
            bus_->kill(service_, SIGTERM);
            bus_->wait(service_);
        }
    }

    pid_t serve()
    {
        service_ = bus_->start(ARVEL_MACHINE_PROGRAM, {"serve", "--root", root_});
        for (int tries = 0; tries < 1000; ++tries) {
            if (run({"show", "console"}).status == 0)
                return service_;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ADD_FAILURE() << "the service did not come up: " << bus_->output(service_);
        return service_;
    }
    int stopService()
    {
        int status = bus_->wait(service_);
        service_ = -1;
        return status;
    }

    Ran run(const Words& words, const std::vector<std::string>& environment = {})
    {
        pid_t pid = bus_->start(ARVEL_MACHINE_PROGRAM, words, environment);
        int status = bus_->wait(pid);
        return {status, bus_->output(pid)};
    }
    std::string ok(const Words& words)
    {
        Ran result = run(words);
        EXPECT_EQ(result.status, 0) << result.output;
        return result.output;
    }

    void writeFile(const std::string& systemPath, const std::string& contents, bool executable = false)
    {
        fs::path path = root_ + systemPath;
        fs::create_directories(path.parent_path());
        for (fs::path folder = path.parent_path(); folder.string().size() > root_.size(); folder = folder.parent_path())
            fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read
                    | fs::perms::others_exec);
        std::ofstream(path) << contents;
        fs::permissions(path, executable ? fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                    | fs::perms::others_read | fs::perms::others_exec
                                         : fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    }
    void writeStartupItem(const std::string& name, const std::string& script)
    {
        writeFile("/Library/StartupItems/" + name + "/" + name, "#!/bin/sh\n" + script, true);
    }
    void writeLoginItem(const std::string& user, const std::string& bundle, const std::string& executable, const std::string& script)
    {
        writeFile(bundle + "/Contents/Info.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>CFBundleExecutable</key><string>" + executable + "</string>"
            "<key>CFBundleIdentifier</key><string>com.example." + executable + "</string></dict></plist>\n");
        writeFile(bundle + "/Contents/MacOS/" + executable, "#!/bin/sh\n" + script, true);
        writeFile("/Users/" + user + "/Library/Preferences/loginwindow.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>AutoLaunchedApplicationDictionary</key><array><dict>"
            "<key>Hide</key><false/><key>Path</key><string>" + bundle + "</string></dict></array></dict></plist>\n");
    }
    // What a program wrote into records/NAME, once it is there.
    std::string record(const std::string& name)
    {
        const std::string path = root_ + "/records/" + name;
        for (int tries = 0; tries < 1000; ++tries) {
            std::ifstream file(path);
            std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            if (!text.empty() && text.back() == '\n')
                return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ADD_FAILURE() << "no record " << name;
        return {};
    }
    pid_t recordedPid(const std::string& name) { return static_cast<pid_t>(std::stoi(record(name))); }

    PrivateBus* bus_ = nullptr;
    TemporaryFolder disk_;
    std::string root_;
    pid_t service_ = -1;
};

TEST_F(AMachineService, RefusesASecondServiceWithOneLineWhileTheFirstKeepsServing)
{
    serve();
    EXPECT_EQ(run({"serve", "--root", root_}),
        (Ran {1, "arvel-machine: another machine service holds \"org.arvel.Machine\" on the bus\n"}));
    EXPECT_EQ(run({"show", "console"}), (Ran {0, "console: nobody\n"}));
}

TEST_F(AMachineService, BootRunsTheStartupItemAsRootWithNoArgumentsAndAProgramThatEndsIsGone)
{
    writeStartupItem("Arvel", "echo \"$$ arguments=$# uid=$(id -u) machine=$ARVEL_MACHINE pid=$ARVEL_MACHINE_PID "
                              "root=$ARVEL_ROOT bus=$ARVEL_BUS_ADDRESS cwd=$(pwd)\" "
                              "> \"$ARVEL_ROOT/records/startup\"\nexit 3\n");
    serve();
    Ran boot = run({"boot"});
    const std::string seen = record("startup");
    const pid_t host = static_cast<pid_t>(std::stoi(seen));
    const unsigned uid = geteuid() == 0 ? 0 : getuid();
    EXPECT_EQ(seen, std::to_string(host) + " arguments=0 uid=" + std::to_string(uid) + " machine=org.arvel.Machine pid=2 root="
            + root_ + " bus=" + bus_->address() + " cwd=" + root_ + "\n");
    EXPECT_EQ(boot, (Ran {0, "startup item Arvel: pid 2, host pid " + std::to_string(host) + ", UID 0\nlogin window on the console\n"}));

    EXPECT_EQ(run({"wait", "--timeout", "20", "no-process", "Arvel"}), (Ran {0, ""}));
    EXPECT_EQ(ok({"show", "processes"}), "  PID  HOST-PID  SESSION  COMMAND\n"
                                         "    1         -        -  /sbin/launchd\n"
                                         "    3         -        -  /System/Library/CoreServices/loginwindow.app/Contents/MacOS/loginwindow console\n"
                                         "front: none\n");
    EXPECT_EQ(ok({"log", "--since", "2"}),
        "arvel-machine[0] <Notice>: Arvel (pid 2, host pid " + std::to_string(host) + ") exited with status 3\n");
}

TEST_F(AMachineService, LoginStartsTheLoginItemAsTheUserAndLogoutEndsIt)
{
    writeLoginItem("alice", "/Applications/Agent.app", "Agent",
        "sleep 300 &\necho $! > \"$ARVEL_ROOT/records/agent-helper\"\n"
        "echo \"$$ uid=$(id -u) gid=$(id -g) pid=$ARVEL_MACHINE_PID\" > \"$ARVEL_ROOT/records/agent\"\n"
        "exec sleep 300\n");
    serve();
    ok({"boot"});
    ok({"add-user", "alice", "501"});
    Ran login = run({"login", "alice"});
    const std::string seen = record("agent");
    const pid_t host = static_cast<pid_t>(std::stoi(seen));
    const bool root = geteuid() == 0;
    EXPECT_EQ(seen, std::to_string(host) + (root ? " uid=501 gid=20" : " uid=" + std::to_string(getuid()) + " gid=" + std::to_string(getgid()))
            + " pid=3\n");
    EXPECT_EQ(login, (Ran {0, "alice logged in: session 100001 on the console\n"
                              "login item /Applications/Agent.app: pid 3, host pid " + std::to_string(host) + ", UID 501\n"}));
    EXPECT_EQ(ok({"show", "processes"}), "  PID  HOST-PID  SESSION  COMMAND\n"
                                         "    1         -        -  /sbin/launchd\n"
                                         "    2         -        -  /System/Library/CoreServices/loginwindow.app/Contents/MacOS/loginwindow console\n"
                                         "    3  " + std::string(8 - std::to_string(host).size(), ' ') + std::to_string(host)
            + "   100001  /Applications/Agent.app/Contents/MacOS/Agent\n"
              "front: none\n");
    EXPECT_TRUE(isRunning(host));
    const pid_t helper = recordedPid("agent-helper");
    EXPECT_TRUE(isRunning(helper));

    EXPECT_EQ(ok({"logout"}), "alice logged out of session 100001: 1 program(s) told to end\nlogin window on the console\n");
    EXPECT_EQ(run({"wait", "--timeout", "20", "no-process", "Agent"}), (Ran {0, ""}));
    EXPECT_TRUE(isGone(host));
    EXPECT_TRUE(becomesGone(helper)) << "what the program started in its process group ends with it";
    EXPECT_EQ(ok({"log", "--since", "6"}),
        "arvel-machine[0] <Notice>: Agent (pid 3, host pid " + std::to_string(host) + ") ended by signal 15\n");
}

TEST_F(AMachineService, AFirstLoginAsRootGivesTheNewHomeFolderToTheUser)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a folder away";
    serve();
    ok({"boot"});
    ok({"add-user", "bob", "502"});
    EXPECT_EQ(ok({"login", "bob"}), "home folder /Users/bob created\nbob logged in: session 100001 on the console\n");
    for (const char* folder : {"/Users/bob", "/Users/bob/Library", "/Users/bob/Library/Preferences"}) {
        struct stat info {};
        ASSERT_EQ(stat((root_ + folder).c_str(), &info), 0) << folder;
        EXPECT_EQ(info.st_uid, 502u) << folder;
        EXPECT_EQ(info.st_gid, 20u) << folder;
    }
    struct stat users {};
    ASSERT_EQ(stat((root_ + "/Users").c_str(), &users), 0);
    EXPECT_EQ(users.st_uid, 0u);
}

TEST_F(AMachineService, ReapsADetachedProgramAndLeavesNoProcessBehindAtShutdown)
{
    // One that detaches as daemon() does, one that ignores SIGTERM, one that
    // simply runs.
    writeStartupItem("Detaching", "( sleep 300 & echo $! > \"$ARVEL_ROOT/records/detached\" )\nexit 0\n");
    writeStartupItem("Stubborn", "trap '' TERM\necho $$ > \"$ARVEL_ROOT/records/stubborn\"\nwhile :; do sleep 0.1; done\n");
    writeStartupItem("Waiting", "echo $$ > \"$ARVEL_ROOT/records/waiting\"\nexec sleep 300\n");
    pid_t service = serve();
    ok({"boot"});
    const pid_t detached = recordedPid("detached");
    const pid_t stubborn = recordedPid("stubborn");
    const pid_t waiting = recordedPid("waiting");
    EXPECT_EQ(run({"wait", "--timeout", "20", "no-process", "Detaching"}), (Ran {0, ""}));
    EXPECT_TRUE(isRunning(detached));
    EXPECT_EQ(parentOf(detached), service) << "the service is the subreaper of what its programs leave";
    EXPECT_TRUE(isRunning(stubborn));
    EXPECT_TRUE(isRunning(waiting));

    EXPECT_EQ(run({"shutdown"}), (Ran {0, "shutting down\n"}));
    EXPECT_EQ(stopService(), 0);
    EXPECT_TRUE(isGone(detached));
    EXPECT_TRUE(isGone(stubborn));
    EXPECT_TRUE(isGone(waiting));
}

TEST_F(AMachineService, StopsOnSigtermAndOnSigintAndEndsItsPrograms)
{
    writeStartupItem("Waiting", "echo $$ > \"$ARVEL_ROOT/records/waiting\"\nexec sleep 300\n");
    for (int signal : {SIGTERM, SIGINT}) {
        fs::remove(root_ + "/records/waiting");
        serve();
        ok({"boot"});
        const pid_t waiting = recordedPid("waiting");
        EXPECT_TRUE(isRunning(waiting));
        bus_->kill(service_, signal);
        EXPECT_EQ(stopService(), 0);
        EXPECT_TRUE(isGone(waiting)) << "after signal " << signal;
        EXPECT_EQ(run({"show", "console"}), (Ran {1, "arvel-machine: no machine service on the bus\n"}));
    }
}

TEST_F(AMachineService, AWaitThatTimesOutExitsNonZeroSayingWhatItWaitedFor)
{
    serve();
    EXPECT_EQ(run({"wait", "--timeout", "0.2", "log", "never seen"}),
        (Ran {1, "arvel-machine: timed out after 0.2 s waiting for: log \"never seen\"\n"}));
    EXPECT_EQ(run({"wait", "--timeout", "0.2", "driver-app-writes", "1"}),
        (Ran {1, "arvel-machine: timed out after 0.2 s waiting for: driver-app-writes 1\n"}));
    EXPECT_EQ(run({"wait", "process", "launchd"}), (Ran {0, ""}));
    EXPECT_EQ(run({"wait", "--timeout", "soon", "process", "launchd"}), (Ran {1, "arvel-machine: --timeout takes a number of seconds\n"}));
    EXPECT_EQ(run({"wait", "weather"}),
        (Ran {1, "arvel-machine: usage: check log TEXT | process NAME | no-process NAME | window TITLE | driver-app-writes N | pointer-warps N | power-acknowledged\n"}));
}

TEST_F(AMachineService, AWaitStartedBeforeTheServiceWaitsForItToComeUp)
{
    pid_t waiting = bus_->start(ARVEL_MACHINE_PROGRAM, {"wait", "--timeout", "10", "process", "launchd"});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    serve();
    EXPECT_EQ(bus_->wait(waiting), 0);
    EXPECT_EQ(bus_->output(waiting), "");
}

TEST_F(AMachineService, AnswersBadWordsWithTheirMessageAndANonZeroExit)
{
    serve();
    EXPECT_EQ(run({"login"}), (Ran {1, "arvel-machine: usage: login USER\n"}));
    EXPECT_EQ(run({"login", "alice"}), (Ran {1, "arvel-machine: the machine has not booted (boot first)\n"}));
    EXPECT_EQ(run({"frobnicate"}), (Ran {1, "arvel-machine: unknown verb \"frobnicate\" (see arvel-machine --help)\n"}));
    EXPECT_EQ(run({"show", "sessions"}), (Ran {0, "sessions: none\n"}));
}

TEST_F(AMachineService, WithoutAServiceTheCommandLineSaysThereIsNone)
{
    EXPECT_EQ(run({"show", "console"}), (Ran {1, "arvel-machine: no machine service on the bus\n"}));
    EXPECT_EQ(run({"wait", "--timeout", "0.1", "process", "launchd"}),
        (Ran {1, "arvel-machine: timed out after 0.1 s waiting for: process launchd (no machine service on the bus)\n"}));
    EXPECT_EQ(run({"show", "console"}, {"ARVEL_BUS_ADDRESS="}),
        (Ran {1, "arvel-machine: no machine service on the bus (ARVEL_BUS_ADDRESS is not set)\n"}));
    EXPECT_EQ(run({"serve", "--root", root_}, {"ARVEL_BUS_ADDRESS="}),
        (Ran {1, "arvel-machine: no bus to serve on (ARVEL_BUS_ADDRESS is not set)\n"}));
}

TEST_F(AMachineService, AnswersMalformedCallsWithAnErrorAndKeepsServing)
{
    serve();
    auto proxy = sdbus::createProxy(MessageBus::shared()->connection(), "org.arvel.Machine", "/org/arvel/Machine");
    auto errorOf = [&](const std::function<void()>& call) {
        try {
            call();
        } catch (const sdbus::Error& error) {
            return error.getName();
        }
        return std::string("no error");
    };
    EXPECT_EQ(errorOf([&] { proxy->callMethod("Perform").onInterface("org.arvel.MachineControl").withArguments(std::string("boot")); }),
        "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_EQ(errorOf([&] { proxy->callMethod("Perform").onInterface("org.arvel.MachineControl"); }),
        "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_EQ(errorOf([&] {
        proxy->callMethod("Perform").onInterface("org.arvel.MachineControl").withArguments(std::vector<std::string> {"boot"}, 7);
    }),
        "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_EQ(errorOf([&] { proxy->callMethod("Explode").onInterface("org.arvel.MachineControl"); }),
        "org.freedesktop.DBus.Error.UnknownMethod");

    bool ok = false;
    std::string output;
    proxy->callMethod("Perform").onInterface("org.arvel.MachineControl").withArguments(std::vector<std::string> {"show", "console"})
        .storeResultsTo(ok, output);
    EXPECT_TRUE(ok);
    EXPECT_EQ(output, "console: nobody\n");
    EXPECT_EQ(run({"show", "sessions"}), (Ran {0, "sessions: none\n"}));
}

TEST_F(AMachineService, DocumentsEveryVerbInItsHelp)
{
    Ran help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* verb : {"serve [--root DIR]", "add-user NAME UID", "boot", "start SYSTEM-PATH", "login USER", "logout [USER]", "switch USER|loginwindow",
             "launch NAME [BUNDLE-ID [BUNDLE-PATH [CREATOR]]]", "quit NAME|PID", "front NAME|PID", "window APP [--button X Y W H [--disabled | --no-enabled]] [--sheet-of WINDOW] [--unfocused]",
             "close APP ELEMENT", "press WINDOW|PROGRAM TITLE", "press | release", "pointer X Y", "finger X Y", "sleep | wake | can-sleep",
             "load-driver | unload-driver", "show driver|hid|pointer|processes|sessions|console|alerts|power|windows", "show driver-writes",
             "show link", "show console PROGRAM", "log [--since N] [--time]", "fail CALL [N|always|never]", "check CONDITION", "wait [--timeout SECONDS] CONDITION", "shutdown"})
        EXPECT_NE(help.output.find(verb), std::string::npos) << verb;
    EXPECT_EQ(run({}).status, 2);
}

} // namespace
