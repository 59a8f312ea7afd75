#include "service/LoginItems.h"

#include "Foundation/PropertyList.h"
#include "Paths/DiskRoot.h"

LoginItems LoginItems::readForHome(const std::string& home)
{
    PropertyListReadResult read = readPropertyList(hostPath(home + kDomainFile), Value::Type::Dictionary);
    if (read.status == PropertyListStatus::Missing)
        return {};
    if (!read.ok()) {
        LoginItems none;
        none.problems_.push_back("unable to read \"" + home + kDomainFile + "\": " + read.reason);
        return none;
    }
    return fromDomain(read.value, home);
}

LoginItems LoginItems::fromDomain(const Value& domain, const std::string& home)
{
    LoginItems found;
    const Value& list = domain[kKey];
    if (list.isNil())
        return found;
    if (!list.isArray()) {
        found.problems_.push_back(std::string(kKey) + " is not an array");
        return found;
    }
    std::size_t index = 1;
    for (const Value& entry : *list.arrayValue()) {
        const std::string where = "login item " + std::to_string(index++);
        if (!entry.isDictionary()) {
            found.problems_.push_back(where + " is not a dictionary");
            continue;
        }
        const std::string* path = entry["Path"].string();
        if (!path || path->empty()) {
            found.problems_.push_back(where + " has no Path");
            continue;
        }
        std::string expanded = *path;
        if (expanded == "~" || expanded.rfind("~/", 0) == 0)
            expanded = home + expanded.substr(1);
        found.items_.push_back({expanded, entry["Hide"].booleanOr(false)});
    }
    return found;
}
