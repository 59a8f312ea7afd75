#include "Foundation/PropertyList.h"

#include "Foundation/BinaryPropertyList.h"
#include "Foundation/XMLPropertyList.h"

std::optional<Value> propertyListFromData(std::string_view data, PropertyListFormat* format)
{
    if (data.empty())
        return std::nullopt;
    const bool binary = isBinaryPropertyList(data);
    if (format)
        *format = binary ? PropertyListFormat::Binary : PropertyListFormat::XML;
    return binary ? parseBinaryPropertyList(data) : parseXMLPropertyList(data);
}

std::optional<std::string> propertyListData(const Value& value, PropertyListFormat format)
{
    return format == PropertyListFormat::Binary ? writeBinaryPropertyList(value) : writeXMLPropertyList(value);
}

std::optional<std::string> xmlPropertyListData(const Value& value)
{
    return writeXMLPropertyList(value);
}

std::optional<std::string> binaryPropertyListData(const Value& value)
{
    return writeBinaryPropertyList(value);
}
