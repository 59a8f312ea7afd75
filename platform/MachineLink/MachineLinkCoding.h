// The link's answers as property-list values and back, for the bus: both
// ends use these, so the two cannot disagree on an entry's name or kind.
// A reader answers nothing for a value that lacks an entry or holds one of
// the wrong kind.
#pragma once

#include "MachineLink/MachineLink.h"

#include <optional>

Value machineLinkValue(const MachineLink::Process& process);
Value machineLinkValue(const MachineLink::Session& session);
Value machineLinkValue(const MachineLink::User& user);
// {"kind": "value" | "element" | "point" | "size", ...}
Value machineLinkValue(const MachineLink::Attribute& attribute);

std::optional<MachineLink::Process> machineLinkProcess(const Value& value);
std::optional<MachineLink::Session> machineLinkSession(const Value& value);
std::optional<MachineLink::User> machineLinkUser(const Value& value);
std::optional<MachineLink::Attribute> machineLinkAttribute(const Value& value);

// Typed entries of a dictionary: nothing when absent or of another kind.
// Integers must be integers (a boolean is no pid), reals any number.
std::optional<std::int64_t> integerEntry(const Value& dictionary, std::string_view key);
std::optional<double> realEntry(const Value& dictionary, std::string_view key);
std::optional<bool> booleanEntry(const Value& dictionary, std::string_view key);
const std::string* stringEntry(const Value& dictionary, std::string_view key);
