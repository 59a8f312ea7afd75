// Object creation that the machine can refuse.
//
// The system's shared instances are created on first use and answer nil when
// creation fails; the next call tries again. Real allocation failure is rare,
// so the machine can be told to refuse one: failing the operation
// "<ClassName>.init" makes the next allocationFails("<ClassName>") true.
#pragma once

#include <string_view>

// True when creating an object of the class must fail now; consumes one
// injected failure.
bool allocationFails(std::string_view className);
