// DistantObject: the root proxy a client holds; untyped. A protocol's typed
// proxy (DOTypedProxy) sends through it.
#pragma once

#include "Foundation/Value.h"

#include <memory>
#include <optional>
#include <string>

class Connection;

class DistantObject {
public:
    explicit DistantObject(std::shared_ptr<Connection> connection) : connection_(std::move(connection)) {}

    // The other end's answer, or nothing when the connection is gone or the
    // call was refused.
    std::optional<Value> sendInvocation(const std::string& selector, const Value& arguments);
    const std::shared_ptr<Connection>& connectionForProxy() const { return connection_; }

private:
    std::shared_ptr<Connection> connection_;
};
