// NSUserDefaults: the persistent preference domains of one user.
//
// The standard object belongs to the user who was the process's effective
// user when it was created: its domains are that user's files
// "~user/Library/Preferences/<domain>.plist". A process that changes its
// effective id resets the standard object so that the next one is built for
// the new identity; an object kept from before still addresses its own user.
//
// Reads see the file as it stands (another process's synchronized change
// included), overlaid with this object's own changes that are not yet
// synchronized. Setting or removing a domain changes memory only;
// synchronize writes every changed domain atomically, or removes its file.
// A change that could not be written stays pending, so the process keeps
// seeing it, and the next synchronize tries again.
//
// Several programs write one user's domains (the pane, the agent, the
// daemon acting as the user), so a domain set whole is written as what it
// changed: the object remembers what it last read (or wrote) of each
// domain, and synchronize applies only the top-level keys that differ from
// that, over the file as it stands under the domain's lock. Keys another
// program changed meanwhile are kept; a removed domain removes the keys
// this object knew, and the file goes when nothing else is left in it.
#pragma once

#include "Foundation/Value.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

class NSUserDefaults {
public:
    // The process's standard object, created for the current effective user
    // on first use after start or after a reset.
    static std::shared_ptr<NSUserDefaults> standardUserDefaults();
    // Synchronizes the standard object, then lets it go.
    static void resetStandardUserDefaults();

    // Writes the pending changes; false when any could not be written.
    bool synchronize();

    // The domain's dictionary, or nil when there is none (or it cannot be
    // read: see PreferenceDomainFile.h).
    Value persistentDomainForName(std::string_view domainName) const;
    // Replaces the domain whole; anything but a dictionary is refused with
    // one logged line.
    void setPersistentDomainForName(const Value& domain, std::string_view domainName);
    void removePersistentDomainForName(std::string_view domainName);

    // The user the object belongs to, and that user's home (a system path;
    // empty when the id had no user, so there are no files).
    std::uint32_t userId() const { return userId_; }
    const std::string& home() const { return home_; }

private:
    NSUserDefaults(std::uint32_t userId, std::string home);
    std::string pathForDomain(std::string_view domainName) const;
    Value lastSeen(std::string_view domainName) const;

    std::uint32_t userId_;
    std::string home_;
    // Unsynchronized changes by domain name; nil marks a removed domain.
    std::map<std::string, Value, std::less<>> pending_;
    // What each domain held when this object last read or wrote it (nil:
    // no file); the changes of a synchronize are reckoned against it.
    mutable std::map<std::string, Value, std::less<>> lastSeen_;
};
