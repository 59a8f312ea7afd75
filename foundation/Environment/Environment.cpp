#include "Environment/Environment.h"

#include <cstdlib>

std::optional<std::string> environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    return std::string(value);
}
