// The XML property-list format. The XML itself (encodings, UTF-16 with a
// byte-order mark, character references, CDATA, comments, well-formedness)
// is read by Expat; what the elements mean is read here.
//
// The document element is <plist> holding one value, or a value element
// itself, as other readers accept. A document that declares entities is
// refused (nothing of a stored file may expand), as is nesting deeper than
// kMaximumPropertyListDepth. A dictionary whose one key is "CF$UID" with an
// integer is a keyed archive's UID, as the format writes one.
//
// The writer produces what other writers produce (UTF-8, tabs, the Apple
// document type); dates keep whole seconds, as the format does. It refuses
// what XML cannot carry: nil, a string with a control character other than
// tab, newline and carriage return (U+0000 included), a date that is not a
// finite number.
#pragma once

#include "Foundation/Value.h"

#include <optional>
#include <string>
#include <string_view>

std::optional<Value> parseXMLPropertyList(std::string_view data);
std::optional<std::string> writeXMLPropertyList(const Value& value);
