// DOObject: anything a connection can serve as its root object.
//
// An invocation arrives as a selector and an array of marshalled Values;
// the object runs it and answers a Value, or says that it has no such
// method or that the arguments are of the wrong kind. Protocol objects get
// this from their protocol's one method table (DistributedObjects/DOProtocol.h).
#pragma once

#include "Foundation/Value.h"

#include <string>

class DOObject {
public:
    enum class DispatchStatus { Done, NoSuchMethod, BadArguments };
    struct DispatchResult {
        DispatchStatus status;
        Value value;
    };

    virtual ~DOObject() = default;
    virtual DispatchResult dispatchInvocation(const std::string& selector, const Value& arguments) = 0;
    virtual std::string className() const = 0;
    // "<ClassName: 0x...>", as publication lines print it.
    std::string description() const;
};
