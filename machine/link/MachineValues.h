// The plain values the machine answers with: the model keeps them, the
// machine link carries them as they are (in process) or encoded
// (LinkCodec.h, over the bus). Nothing here includes the model, so
// the platform's link sees them without seeing the machine.
//
// A structure lists its fields once, with the names they travel under
// (fields()); the coding reads that list, so a field added here travels.
#pragma once

#include "Foundation/Value.h"

#include <array>
#include <cstdint>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

namespace machine {

// One field of a structure that crosses the link.
template <class S, class T>
struct Field {
    const char* name;
    T S::*member;
};
template <class S, class T>
Field(const char*, T S::*) -> Field<S, T>;

// ---- users and login sessions

struct User {
    std::string name;
    std::uint32_t uid = 0;
    std::uint32_t gid = 20;
    std::string home; // system path
    bool operator==(const User&) const = default;
    static constexpr auto fields()
    {
        return std::tuple {Field {"name", &User::name}, Field {"uid", &User::uid}, Field {"gid", &User::gid},
            Field {"home", &User::home}};
    }
};

struct LoginSession {
    std::uint32_t id = 0;
    std::string userName;
    std::uint32_t uid = 0;
    bool onConsole = false;
    bool operator==(const LoginSession&) const = default;
    static constexpr auto fields()
    {
        return std::tuple {Field {"id", &LoginSession::id}, Field {"userName", &LoginSession::userName},
            Field {"uid", &LoginSession::uid}, Field {"onConsole", &LoginSession::onConsole}};
    }
};

// ---- processes

struct ProcessSerial {
    std::uint32_t high = 0;
    std::uint32_t low = 0;
    bool operator==(const ProcessSerial&) const = default;
    static constexpr auto fields() { return std::tuple {Field {"high", &ProcessSerial::high}, Field {"low", &ProcessSerial::low}}; }
};

// What any program may learn of a process; the machine's own bookkeeping
// (Processes.h: its command, its real process, its user) stays with it.
struct ProcessInfo {
    int pid = 0;
    ProcessSerial serial;          // {0, 0} for a Unix process
    bool application = false;      // known to the Process Manager
    bool enumerated = false;       // one of the Process Manager's enumeration
    std::string name;              // the Process Manager's name; the command name otherwise
    std::string bundleIdentifier;  // empty: none
    std::string bundlePath;        // system path; empty: none
    std::string creator;           // four characters; empty: none
    std::uint32_t session = 0;     // the login session it runs in
    bool operator==(const ProcessInfo&) const = default;
    static constexpr auto fields()
    {
        return std::tuple {Field {"pid", &ProcessInfo::pid}, Field {"serial", &ProcessInfo::serial},
            Field {"application", &ProcessInfo::application}, Field {"enumerated", &ProcessInfo::enumerated},
            Field {"name", &ProcessInfo::name}, Field {"bundleIdentifier", &ProcessInfo::bundleIdentifier},
            Field {"bundlePath", &ProcessInfo::bundlePath}, Field {"creator", &ProcessInfo::creator},
            Field {"session", &ProcessInfo::session}};
    }
};

enum class ApplicationEventKind { Launched, Terminated, FrontSwitched };
constexpr std::array<const char*, 3> linkNames(ApplicationEventKind) { return {"launched", "terminated", "front"}; }

// An application event says what the application is (as it was when it
// quit), and where it stands in the machine's count of application events,
// so that a program that keeps its own table of the applications
// (ProcessManager/ProcessTable.h) never applies news older than what it
// asked for.
struct ApplicationEvent {
    ApplicationEventKind kind = ApplicationEventKind::Launched;
    ProcessSerial serial;
    ProcessInfo process;
    std::uint64_t sequence = 0;
    bool operator==(const ApplicationEvent&) const = default;
    static constexpr auto fields()
    {
        return std::tuple {Field {"kind", &ApplicationEvent::kind}, Field {"serial", &ApplicationEvent::serial},
            Field {"process", &ApplicationEvent::process}, Field {"sequence", &ApplicationEvent::sequence}};
    }
};

// The applications of the Process Manager's enumeration in launch order,
// the one in front (pid 0: none), as of the sequence number of the last
// application event.
struct ApplicationSnapshot {
    std::vector<ProcessInfo> applications;
    ProcessInfo front;
    std::uint64_t sequence = 0;
    bool operator==(const ApplicationSnapshot&) const = default;
    static constexpr auto fields()
    {
        return std::tuple {Field {"applications", &ApplicationSnapshot::applications},
            Field {"front", &ApplicationSnapshot::front}, Field {"sequence", &ApplicationSnapshot::sequence}};
    }
};

// ---- the I/O registry

enum class RegistryEvent { Matched, Terminated };
constexpr std::array<const char*, 2> linkNames(RegistryEvent) { return {"matched", "terminated"}; }

// ---- accessibility, in the global coordinates of the accessibility
// interface: origin at the top left of the main screen, y growing downwards.

struct ScreenPoint {
    double x = 0;
    double y = 0;
    bool operator==(const ScreenPoint&) const = default;
    static constexpr auto fields() { return std::tuple {Field {"x", &ScreenPoint::x}, Field {"y", &ScreenPoint::y}}; }
};

struct ScreenSize {
    double width = 0;
    double height = 0;
    bool operator==(const ScreenSize&) const = default;
    static constexpr auto fields() { return std::tuple {Field {"width", &ScreenSize::width}, Field {"height", &ScreenSize::height}}; }
};

// One element of one process's tree; element 0 is the application.
struct ElementRef {
    int pid = 0;
    std::uint64_t element = 0;
    bool operator==(const ElementRef&) const = default;
    static constexpr auto fields() { return std::tuple {Field {"pid", &ElementRef::pid}, Field {"element", &ElementRef::element}}; }
};

// An attribute's value: a property-list value (a role, a boolean), another
// element, a position or a size.
using Attribute = std::variant<Value, ElementRef, ScreenPoint, ScreenSize>;

// ---- result codes

// An I/O Kit or accessibility result code; default-made, it is the answer a
// call that could not be made gives (kIOReturnNoDevice, kAXErrorCannotComplete).
template <int Neutral>
struct ResultCode {
    int value = Neutral;
    constexpr ResultCode() = default;
    constexpr ResultCode(int code) : value(code) {}
    constexpr operator int() const { return value; }
};

// A result code and what the call produced besides.
template <class Code, class T>
struct Outcome {
    Code code;
    T value {};
    bool operator==(const Outcome&) const = default;
    static constexpr auto fields() { return std::tuple {Field {"code", &Outcome::code}, Field {"value", &Outcome::value}}; }
};

// ---- the running program

// Who the program running on the machine is: a thing of each program. In
// process the model keeps it (the tests set it); a program on the bus keeps
// its own.
struct ProgramIdentity {
    int pid = 0; // its process on the machine; 0: none
    std::uint32_t realUid = 0;
    std::uint32_t effectiveUid = 0;
    std::uint32_t effectiveGid = 0;
    std::vector<std::uint32_t> groups {0};
    bool hostProcess = false; // a real process on the host, not code inside a test
    bool detached = false;    // it has gone daemon
};

} // namespace machine
