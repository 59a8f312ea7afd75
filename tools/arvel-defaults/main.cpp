// arvel-defaults: reads, writes and deletes stored settings on the simulated
// machine's disk, in the manner of the defaults command.
//
// The user whose domains it addresses is named on the command line: --user
// NAME (root without it), --any-user for the machine-wide domains in
// "/Library/Preferences". Who the user is, his ids and his home, the
// machine's user table says, as for every other program. The tool also
// serves before any machine runs (an install lays out the disk first), and
// then nothing knows the user: his home is "/Users/NAME" ("/var/root" for
// root) and his ids are --uid ID with the group staff (20), or else those of
// his home folder's owner, who the install or his first login made him.
// --home PATH gives another home. The files are those the system itself
// reads and writes (see Defaults/CFPreferences.h), on the same terms:
// written atomically under the domain's lock; a domain file that cannot be
// read is moved aside before a write, never overwritten.
//
// Run as root for a user, the tool takes his ids for good (his group, then
// his user id) before it touches a file, so that it reads only what he may
// read and what it writes is his. A user whose ids nothing tells (no
// machine knows him, no --uid, a home that is nobody's yet or root's)
// leaves the tool with the ids it was started with.
#include "Defaults/CFPreferences.h"
#include "Defaults/PreferenceDomainFile.h"
#include "Foundation/FileManager.h"
#include "Foundation/PropertyList.h"
#include "Log/Log.h"
#include "Paths/DiskRoot.h"
#include "Unix/Identity.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <optional>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kUsage
    = "usage: arvel-defaults [--user NAME [--uid ID] | --any-user] [--home PATH] VERB [-currentHost] DOMAIN ...\n"
      "\n"
      "  read   DOMAIN [KEY]           print the domain, or one key, as an old-style description\n"
      "  write  DOMAIN KEY VALUE       set one key\n"
      "  write  DOMAIN '<dict>...</dict>'  replace the whole domain\n"
      "  delete DOMAIN [KEY]           remove one key, or the whole domain\n"
      "\n"
      "VALUE is a string, or one of\n"
      "  -int N   -bool YES|NO   -float F   -string S\n"
      "  -dict KEY VALUE [KEY VALUE ...]   -array VALUE [VALUE ...]\n"
      "  (inside -dict and -array a VALUE may carry its own -int, -bool, -float or -string)\n"
      "  or a property-list fragment such as '<dict><key>Action</key><integer>7</integer></dict>'.\n"
      "\n"
      "DOMAIN is a domain name (com.tessmoor.Arvel), or NSGlobalDomain (-g) for the global preferences.\n"
      "\n"
      "Whose domains:\n"
      "  --user NAME   the user's domains in his home, as the machine knows it, else in /Users/NAME\n"
      "                (root: /var/root)\n"
      "  --uid ID      his id where no machine knows him (group 20); else the owner of his home's\n"
      "  --home PATH   the home folder, when it is not /Users/NAME (or root's /var/root)\n"
      "  --any-user    the machine-wide domains in /Library/Preferences\n"
      "  (neither: root's domains)\n"
      "  -currentHost  the domain of this host only: .../Preferences/ByHost/DOMAIN.<host id>.plist\n"
      "\n"
      "The machine's disk is the folder $ARVEL_ROOT (default %s).\n";

void printUsage(FILE* out)
{
    std::fprintf(out, kUsage, kDefaultDiskRoot);
}

int usage(const char* why = nullptr)
{
    if (why)
        std::fprintf(stderr, "arvel-defaults: %s\n", why);
    printUsage(stderr);
    return 2;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "arvel-defaults: %s\n", message.c_str());
    return 1;
}

std::optional<Value> propertyListFragment(const std::string& text)
{
    if (text.rfind("<?xml", 0) == 0 || text.rfind("<plist", 0) == 0)
        return propertyListFromData(text);
    return propertyListFromData(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">" + text + "</plist>");
}

// One value from args[i] on: a type flag and its text, a fragment, or a
// plain string. Advances i past what it used; nullopt (with a message) when
// the text does not read as its type.
std::optional<Value> scalarValue(const std::vector<std::string>& args, std::size_t& i, std::string& error)
{
    const std::string& first = args[i++];
    bool typed = first == "-int" || first == "-integer" || first == "-bool" || first == "-boolean" || first == "-float"
        || first == "-string";
    if (!typed) {
        if (!first.empty() && first[0] == '<') {
            auto fragment = propertyListFragment(first);
            if (!fragment)
                error = "\"" + first + "\" is not a property list";
            return fragment;
        }
        return Value(first);
    }
    if (i >= args.size()) {
        error = first + " needs a value";
        return std::nullopt;
    }
    const std::string& text = args[i++];
    if (first == "-string")
        return Value(text);
    if (first == "-int" || first == "-integer") {
        errno = 0;
        char* end = nullptr;
        long long n = std::strtoll(text.c_str(), &end, 10);
        if (text.empty() || *end || errno == ERANGE) {
            error = "\"" + text + "\" is not an integer";
            return std::nullopt;
        }
        return Value(n);
    }
    if (first == "-float") {
        char* end = nullptr;
        double d = std::strtod(text.c_str(), &end);
        if (text.empty() || *end || !std::isfinite(d)) {
            error = "\"" + text + "\" is not a number";
            return std::nullopt;
        }
        return Value(d);
    }
    for (const char* yes : {"YES", "TRUE", "1"})
        if (strcasecmp(text.c_str(), yes) == 0)
            return Value(true);
    for (const char* no : {"NO", "FALSE", "0"})
        if (strcasecmp(text.c_str(), no) == 0)
            return Value(false);
    error = "\"" + text + "\" is not YES or NO";
    return std::nullopt;
}

// The value of a write: everything from args[i] to the end.
std::optional<Value> writtenValue(const std::vector<std::string>& args, std::size_t i, std::string& error)
{
    const std::string& flag = args[i];
    if (flag == "-dict" || flag == "-array") {
        Value result = flag == "-dict" ? Value::dictionary() : Value::array();
        ++i;
        while (i < args.size()) {
            std::string key;
            if (flag == "-dict") {
                key = args[i++];
                if (i >= args.size()) {
                    error = "-dict key \"" + key + "\" has no value";
                    return std::nullopt;
                }
            }
            auto item = scalarValue(args, i, error);
            if (!item)
                return std::nullopt;
            if (flag == "-dict")
                result.set(key, std::move(*item));
            else
                result.arrayValue()->push_back(std::move(*item));
        }
        return result;
    }
    auto value = scalarValue(args, i, error);
    if (value && i != args.size()) {
        error = "unexpected \"" + args[i] + "\" after the value";
        return std::nullopt;
    }
    return value;
}

void printValue(const Value& value)
{
    // As the defaults command does: a string as it stands, the rest as a description.
    std::printf("%s\n", value.isString() ? value.string()->c_str() : value.description().c_str());
}

struct Target {
    std::string domainName;
    std::string path; // system path of the domain file
};

int readDomain(const Target& target, const std::vector<std::string>& rest)
{
    if (rest.size() > 1)
        return usage("read takes DOMAIN [KEY]");
    auto result = readPreferenceDomainFile(target.path);
    if (result.status == PropertyListStatus::Missing)
        return fail("Domain " + target.domainName + " does not exist (" + target.path + ")");
    if (!result.ok())
        return fail(target.path + " cannot be read: " + result.reason);
    if (rest.empty()) {
        printValue(result.value);
        return 0;
    }
    if (!result.value.contains(rest[0]))
        return fail("The domain/default pair of (" + target.domainName + ", " + rest[0] + ") does not exist");
    printValue(result.value[rest[0]]);
    return 0;
}

int writeDomain(const Target& target, const std::vector<std::string>& rest)
{
    if (rest.empty())
        return usage("write takes DOMAIN KEY VALUE, or DOMAIN followed by a dictionary");
    std::string error;
    if (rest.size() == 1) {
        auto whole = rest[0].empty() || rest[0][0] != '<' ? std::nullopt : propertyListFragment(rest[0]);
        if (!whole || !whole->isDictionary())
            return usage("a whole domain is written as a dictionary ('<dict>...</dict>')");
        return storePreferenceDomain(target.path, *whole) ? 0 : fail("nothing written to " + target.path);
    }
    auto value = writtenValue(rest, 1, error);
    if (!value)
        return fail(error);
    // One key changes, over the domain as it stands under its lock.
    bool written = updatePreferenceDomain(target.path, [&](Value domain) {
        if (!domain.isDictionary())
            domain = Value::dictionary();
        domain.set(rest[0], *value);
        return domain;
    });
    return written ? 0 : fail("nothing written to " + target.path);
}

int deleteFromDomain(const Target& target, const std::vector<std::string>& rest)
{
    if (rest.size() > 1)
        return usage("delete takes DOMAIN [KEY]");
    if (!fileExistsAtPath(target.path))
        return fail("Domain " + target.domainName + " not found (" + target.path + ")");
    if (rest.empty())
        return removePreferenceDomain(target.path) ? 0 : fail("cannot remove " + target.path);
    bool found = false;
    bool written = updatePreferenceDomain(target.path, [&](Value domain) {
        found = domain.remove(rest[0]);
        return domain;
    });
    if (!found && written)
        return fail("Key " + rest[0] + " does not exist in domain " + target.domainName);
    return written ? 0 : fail("nothing written to " + target.path);
}

// Whose domains, and with whose ids they are touched.
struct Account {
    std::string home;                 // system path
    std::optional<posix::uid_t> uid;  // none: the ids the tool was started with
    posix::gid_t gid = 20;            // staff, every user's group on the machine
};

// The owner of a home folder, when it is a folder given to a user.
std::optional<Account> homeOwner(const std::string& home)
{
    struct stat info {};
    if (::lstat(hostPath(home).c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid == 0)
        return std::nullopt;
    return Account {home, info.st_uid, info.st_gid};
}

// The user as the machine's user table has him; else as the command line
// names him, with --uid or his home folder's owner for his ids.
std::optional<Account> accountOf(const std::string& name, const std::optional<std::string>& home,
    const std::optional<posix::uid_t>& uid, std::string& why)
{
    if (std::optional<posix::Passwd> known = posix::getpwnam(name)) {
        if (uid && *uid != known->pw_uid) {
            why = name + " is UID " + std::to_string(known->pw_uid) + " on the machine, not " + std::to_string(*uid);
            return std::nullopt;
        }
        return Account {home.value_or(known->pw_dir), known->pw_uid, known->pw_gid};
    }
    Account account;
    account.home = home.value_or(name == "root" ? "/var/root" : "/Users/" + name);
    if (name == "root")
        account.uid = 0;
    else if (uid)
        account.uid = uid;
    else if (std::optional<Account> owner = homeOwner(account.home))
        account = *owner;
    return account;
}

// Gives up root for good: the user's group as the only group, then his id.
bool becomeUser(const Account& account, std::string& why)
{
    const gid_t gid = account.gid;
    if (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(*account.uid) != 0) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    setLogChannel(LogChannel::Console);
    setLogProcessName("arvel-defaults");
    std::vector<std::string> args(argv + 1, argv + argc);

    std::optional<std::string> userName, home;
    std::optional<posix::uid_t> uid;
    bool anyUser = false, currentHost = false;
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            printUsage(stdout);
            return 0;
        }
        if ((a == "--user" || a == "--home") && i + 1 < args.size()) {
            (a == "--user" ? userName : home) = args[++i];
        } else if (a == "--uid" && i + 1 < args.size()) {
            const std::string& text = args[++i];
            char* end = nullptr;
            errno = 0;
            unsigned long n = std::strtoul(text.c_str(), &end, 10);
            if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || *end || errno == ERANGE
                || n > 0xFFFFFFFEul)
                return usage("--uid takes a user id");
            uid = static_cast<posix::uid_t>(n);
        } else if (a == "--any-user") {
            anyUser = true;
        } else if (a == "-currentHost") {
            currentHost = true;
        } else {
            break;
        }
    }
    if (i >= args.size())
        return usage();
    std::string verb = args[i++];
    if (i < args.size() && args[i] == "-currentHost") {
        currentHost = true;
        ++i;
    }
    if (i >= args.size())
        return usage("no domain given");
    if (anyUser && (userName || home || uid))
        return usage("--any-user addresses no user's home");
    if (uid && !userName)
        return usage("--uid is the id of the user --user names");
    if (userName && !isValidPreferenceDomainName(*userName))
        return usage("a user name is one word, without \"/\"");

    Account account;
    if (!anyUser) {
        std::string why;
        std::optional<Account> user = accountOf(userName.value_or("root"), home, uid, why);
        if (!user)
            return fail(why);
        account = *user;
        if (account.uid && *account.uid != 0 && ::geteuid() == 0 && !becomeUser(account, why))
            return fail("cannot act as UID " + std::to_string(*account.uid) + ": " + why);
    }

    std::string domainName = args[i++];
    bool global = domainName == "NSGlobalDomain" || domainName == "-g" || domainName == "-globalDomain";
    Target target {domainName,
        CFPreferencesDomainPathInHome(global ? kCFPreferencesAnyApplication : std::string_view(domainName), account.home,
            currentHost ? kCFPreferencesCurrentHost : kCFPreferencesAnyHost)};
    if (target.path.empty())
        return fail("\"" + domainName + "\" is not a domain name");

    std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    if (verb == "read")
        return readDomain(target, rest);
    if (verb == "write")
        return writeDomain(target, rest);
    if (verb == "delete")
        return deleteFromDomain(target, rest);
    return usage(("unknown verb \"" + verb + "\"").c_str());
}
