// Failure injection: any operation of the simulated machine can be told to
// fail with a given result, once or a number of times, so that the system's
// failure paths can be tested. Operations are named by the platform call
// that reaches them ("IOServiceOpen", "SCDynamicStoreCreate", "seteuid").
#pragma once

#include <map>
#include <string>

namespace machine {

class Failures {
public:
    // The next `times` calls of the operation fail with `result` (times < 0:
    // every call until cleared).
    void failNext(const std::string& operation, int result, int times = 1);
    void clear(const std::string& operation) { pending_.erase(operation); }
    void clearAll() { pending_.clear(); }
    // The result the operation must fail with now, or 0 when it succeeds;
    // consumes one failure.
    int take(const std::string& operation);
    // The same for one variant of an operation: "operation:qualifier" (an
    // index, a notification type) is asked first, then the plain operation,
    // so a test can fail every call or only one kind of call.
    int take(const std::string& operation, const std::string& qualifier);
    bool pending(const std::string& operation) const { return pending_.count(operation) != 0; }

private:
    struct Pending {
        int result;
        int times;
    };
    std::map<std::string, Pending> pending_;
};

} // namespace machine
