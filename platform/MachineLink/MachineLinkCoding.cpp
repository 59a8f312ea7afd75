#include "MachineLink/MachineLinkCoding.h"

std::optional<std::int64_t> integerEntry(const Value& dictionary, std::string_view key)
{
    const Value& v = dictionary[key];
    return v.isInteger() ? v.integer() : std::nullopt;
}

std::optional<double> realEntry(const Value& dictionary, std::string_view key)
{
    const Value& v = dictionary[key];
    return v.isInteger() || v.isReal() ? v.real() : std::nullopt;
}

std::optional<bool> booleanEntry(const Value& dictionary, std::string_view key)
{
    const Value& v = dictionary[key];
    return v.isBoolean() ? v.boolean() : std::nullopt;
}

const std::string* stringEntry(const Value& dictionary, std::string_view key)
{
    return dictionary[key].string();
}

Value machineLinkValue(const MachineLink::Process& p)
{
    return Value::dictionary({
        {"pid", p.pid},
        {"high", p.serialHigh},
        {"low", p.serialLow},
        {"application", p.application},
        {"enumerated", p.enumerated},
        {"name", p.name},
        {"bundleIdentifier", p.bundleIdentifier},
        {"bundlePath", p.bundlePath},
        {"creator", p.creator},
        {"session", p.session},
    });
}

std::optional<MachineLink::Process> machineLinkProcess(const Value& v)
{
    auto pid = integerEntry(v, "pid");
    auto high = integerEntry(v, "high");
    auto low = integerEntry(v, "low");
    auto application = booleanEntry(v, "application");
    auto enumerated = booleanEntry(v, "enumerated");
    auto session = integerEntry(v, "session");
    const std::string* name = stringEntry(v, "name");
    const std::string* bundleIdentifier = stringEntry(v, "bundleIdentifier");
    const std::string* bundlePath = stringEntry(v, "bundlePath");
    const std::string* creator = stringEntry(v, "creator");
    if (!pid || !high || !low || !application || !enumerated || !session || !name || !bundleIdentifier || !bundlePath || !creator)
        return std::nullopt;
    MachineLink::Process p;
    p.pid = static_cast<int>(*pid);
    p.serialHigh = static_cast<std::uint32_t>(*high);
    p.serialLow = static_cast<std::uint32_t>(*low);
    p.application = *application;
    p.enumerated = *enumerated;
    p.name = *name;
    p.bundleIdentifier = *bundleIdentifier;
    p.bundlePath = *bundlePath;
    p.creator = *creator;
    p.session = static_cast<std::uint32_t>(*session);
    return p;
}

Value machineLinkValue(const MachineLink::Session& s)
{
    return Value::dictionary({{"id", s.id}, {"userName", s.userName}, {"uid", s.uid}, {"onConsole", s.onConsole}});
}

std::optional<MachineLink::Session> machineLinkSession(const Value& v)
{
    auto id = integerEntry(v, "id");
    auto uid = integerEntry(v, "uid");
    auto onConsole = booleanEntry(v, "onConsole");
    const std::string* userName = stringEntry(v, "userName");
    if (!id || !uid || !onConsole || !userName)
        return std::nullopt;
    return MachineLink::Session {static_cast<std::uint32_t>(*id), *userName, static_cast<std::uint32_t>(*uid), *onConsole};
}

Value machineLinkValue(const MachineLink::User& u)
{
    return Value::dictionary({{"name", u.name}, {"uid", u.uid}, {"gid", u.gid}, {"home", u.home}});
}

std::optional<MachineLink::User> machineLinkUser(const Value& v)
{
    const std::string* name = stringEntry(v, "name");
    const std::string* home = stringEntry(v, "home");
    auto uid = integerEntry(v, "uid");
    auto gid = integerEntry(v, "gid");
    if (!name || !home || !uid || !gid)
        return std::nullopt;
    return MachineLink::User {*name, static_cast<std::uint32_t>(*uid), static_cast<std::uint32_t>(*gid), *home};
}

Value machineLinkValue(const MachineLink::Attribute& attribute)
{
    if (auto* v = std::get_if<Value>(&attribute)) {
        Value out = Value::dictionary({{"kind", "value"}});
        if (!v->isNil())
            out.set("value", *v);
        return out;
    }
    if (auto* e = std::get_if<MachineLink::Element>(&attribute))
        return Value::dictionary({{"kind", "element"}, {"pid", e->pid}, {"element", e->element}});
    if (auto* p = std::get_if<MachineLink::Point>(&attribute))
        return Value::dictionary({{"kind", "point"}, {"x", p->x}, {"y", p->y}});
    const auto& s = std::get<MachineLink::Size>(attribute);
    return Value::dictionary({{"kind", "size"}, {"width", s.width}, {"height", s.height}});
}

std::optional<MachineLink::Attribute> machineLinkAttribute(const Value& v)
{
    const std::string* kind = stringEntry(v, "kind");
    if (!kind)
        return std::nullopt;
    if (*kind == "value")
        return MachineLink::Attribute(v["value"]);
    if (*kind == "element") {
        auto pid = integerEntry(v, "pid");
        auto element = integerEntry(v, "element");
        if (!pid || !element)
            return std::nullopt;
        return MachineLink::Attribute(MachineLink::Element {static_cast<int>(*pid), static_cast<std::uint64_t>(*element)});
    }
    if (*kind == "point") {
        auto x = realEntry(v, "x");
        auto y = realEntry(v, "y");
        if (!x || !y)
            return std::nullopt;
        return MachineLink::Attribute(MachineLink::Point {*x, *y});
    }
    if (*kind == "size") {
        auto width = realEntry(v, "width");
        auto height = realEntry(v, "height");
        if (!width || !height)
            return std::nullopt;
        return MachineLink::Attribute(MachineLink::Size {*width, *height});
    }
    return std::nullopt;
}
