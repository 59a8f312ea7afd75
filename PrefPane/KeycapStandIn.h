// Stand-in for the keycap map's parsing and ordering until they land in
// this folder's keycap module: the pane calls these two, and fills its
// pop-ups with the names they answer.
#pragma once

#include "Foundation/Value.h"

#include <optional>
#include <string>
#include <vector>

struct ArvelKeycapMaps {
    Value keycapMap;  // name -> key code; nil when loading failed
    Value keycodeMap; // key code (decimal string) -> name; nil when loading failed
};

// The two maps from the "KeyCode" resource's text (nothing: no resource).
ArvelKeycapMaps arvelKeycapMapsFromResource(const std::optional<std::string>& text);
// The names of keycapMap in the order the pop-ups list them.
std::vector<std::string> arvelSortedKeycapNames(const Value& keycapMap);
