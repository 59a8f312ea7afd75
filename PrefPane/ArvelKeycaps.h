// ArvelKeycaps: the table pairing the virtual key codes the driver presses
// for a corner with the names printed on the keys (keycaps), kept both
// ways, and the names in the order the pane's keycap pop-ups list them.
//
// The table is the pane bundle's resource "KeyCode" (type "plist"), found
// by the bundle's resource lookup, which prefers the user's localisation:
// a property-list dictionary whose keys are key codes written as decimal
// integers and whose values are keycap names. A key that does not read as
// an integer counts as key code 0; an entry whose name is not a string, or
// is empty, is left out. Each of these is said once per reading.
//
// When two key codes carry one name, the keycap map keeps the code read
// last (in key order), and the key-code map keeps both.
#pragma once

#include "Foundation/NSObjCRuntime.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

class ArvelKeycaps {
public:
    using KeycodeMap = std::map<int, std::string>;
    using KeycapMap = std::map<std::string, int>;

    // The tables of the resource at this system path (empty: the lookup
    // found none). Nothing when there are none, with one line:
    // "ArvelPref did not localized keymap data." for a resource that is
    // missing, unreadable or no property list, "ArvelPref did not obtain
    // any keymap data." for one that yields no entry (an empty file
    // included).
    static std::optional<ArvelKeycaps> keycapsFromResource(const std::string& path);

    const KeycodeMap& keycodeMap() const { return keycodeMap_; }
    const KeycapMap& keycapMap() const { return keycapMap_; }
    // Every keycap name once, ordered by keyCapSort.
    std::vector<std::string> sortedKeycaps() const;

private:
    ArvelKeycaps(KeycodeMap keycodeMap, KeycapMap keycapMap) : keycodeMap_(std::move(keycodeMap)), keycapMap_(std::move(keycapMap)) {}

    KeycodeMap keycodeMap_;
    KeycapMap keycapMap_;
};

// The keyboard-like order of two keycap names, decided by the first rule
// that separates them: a single character before longer names; a name with
// a letter before one without; a name beginning with a digit before one
// without digits; a name without punctuation before one beginning with
// punctuation; fewer words (split at spaces) first; two names beginning
// with "F" by the number after it (F2 before F10); a name without accented
// letters first; then case-insensitively. The context is not used.
NSComparisonResult keyCapSort(const std::string& first, const std::string& second, void* context);
