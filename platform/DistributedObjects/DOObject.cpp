#include "DistributedObjects/DOObject.h"

#include "Foundation/Format.h"

std::string DOObject::description() const
{
    return stringWithFormat("<%s: %p>", className(), static_cast<const void*>(this));
}
