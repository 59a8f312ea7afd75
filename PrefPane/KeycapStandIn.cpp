#include "PrefPane/KeycapStandIn.h"

#include "Foundation/PropertyList.h"
#include "Log/Log.h"

#include <algorithm>
#include <cstdlib>

ArvelKeycapMaps arvelKeycapMapsFromResource(const std::optional<std::string>& text)
{
    std::optional<Value> root = text ? propertyListFromData(*text) : std::nullopt;
    if (!root || !root->isDictionary()) {
        logError("ArvelPref did not localized keymap data.\n");
        return {};
    }
    ArvelKeycapMaps maps {Value::dictionary(), Value::dictionary()};
    for (const auto& [key, value] : *root->dictionaryValue()) {
        const std::string* name = value.string();
        if (!name)
            continue;
        long long code = std::atoll(key.c_str());
        maps.keycodeMap.set(std::to_string(code), *name);
        maps.keycapMap.set(*name, code);
    }
    if (!maps.keycapMap.count() || !maps.keycodeMap.count()) {
        logError("ArvelPref did not obtain any keymap data.\n");
        return {};
    }
    return maps;
}

std::vector<std::string> arvelSortedKeycapNames(const Value& keycapMap)
{
    std::vector<std::string> names;
    if (const Value::Dictionary* map = keycapMap.dictionaryValue())
        for (const auto& [name, code] : *map)
            names.push_back(name);
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() == 1 && b.size() > 1;
    });
    return names;
}
