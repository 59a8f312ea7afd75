#include "DistributedObjects/DistantObject.h"

#include "DistributedObjects/Connection.h"

std::optional<Value> DistantObject::sendInvocation(const std::string& selector, const Value& arguments)
{
    return connection_ ? connection_->sendInvocation(selector, arguments) : std::nullopt;
}
