// SharedInstance<T>: the base of a class that keeps one process-wide
// object, reached through the class method T::sharedInstance(). The object
// is made on first use; when it cannot be made the call answers nil after
// one logged error line, and the next call tries again. Such an object is
// never copied.
//
// The class befriends its base and names the line to log in
// kSharedInstanceFailure. The line begins with the class's name, as every
// error line of the system does ("ArvelConsoleUser error: ..."), and under
// that name the machine may refuse the allocation (Foundation/Allocation.h:
// failing "ArvelConsoleUser.init"). The object is then constructed and, when
// the class has one, its init() runs; false makes it nil:
//
//   class ArvelConsoleUser : public SharedInstance<ArvelConsoleUser> {
//       ...
//   private:
//       friend class SharedInstance<ArvelConsoleUser>;
//       static constexpr const char* kSharedInstanceFailure
//           = "ArvelConsoleUser error: Unable to allocate the shared console user access object.\n";
//       ArvelConsoleUser() = default;
//       bool init();
//
// A class that makes objects of its own for other uses too (a static
// create()) has its shared one made by create(), which allocates and says
// why it failed itself; its kSharedInstanceFailure may then be null.
//
// Every instance made is noted in one registry of the process, so the end
// of a program, or of a test, lets them all go with one call, newest first:
// an object made while another was being made (and kept by it) goes after
// it. Whoever still holds an object keeps it alive; only the class's own
// reference goes.
#pragma once

#include "Foundation/Allocation.h"

#include <memory>
#include <string_view>

// Lets go of every shared instance, newest first; the next sharedInstance()
// of each class makes a new one.
void releaseSharedInstances();

namespace shared_instance_detail {
// Notes that the class whose instance `release` lets go of has one now.
void noteMade(void (*release)());
void logFailure(const char* failureLine);
// "ArvelConsoleUser" of "ArvelConsoleUser error: ...".
std::string_view classNameOf(std::string_view failureLine);
} // namespace shared_instance_detail

template <class T>
class SharedInstance {
public:
    static std::shared_ptr<T> sharedInstance()
    {
        std::shared_ptr<T>& object = slot();
        if (!object) {
            object = make();
            if (object)
                shared_instance_detail::noteMade(&releaseSharedInstance);
            else if (const char* line = T::kSharedInstanceFailure)
                shared_instance_detail::logFailure(line);
        }
        return object;
    }

    // Lets go of this class's instance alone.
    static void releaseSharedInstance() { slot().reset(); }

    SharedInstance(const SharedInstance&) = delete;
    SharedInstance& operator=(const SharedInstance&) = delete;

protected:
    SharedInstance() = default;
    ~SharedInstance() = default;

private:
    static std::shared_ptr<T>& slot()
    {
        static std::shared_ptr<T> object;
        return object;
    }

    static std::shared_ptr<T> make()
    {
        if constexpr (requires { T::create(); }) {
            return T::create();
        } else {
            if (allocationFails(shared_instance_detail::classNameOf(T::kSharedInstanceFailure)))
                return nullptr;
            std::shared_ptr<T> object(new T);
            if constexpr (requires { object->init(); }) {
                if (!object->init())
                    return nullptr;
            }
            return object;
        }
    }
};

// What an object's start does with another object it needs (a shared
// instance, mostly): keeps it in `field`; when there is none, logs
// failureLine as an error and answers false, and the start gives up.
template <class T>
bool keepNeeded(std::shared_ptr<T>& field, std::shared_ptr<T> object, const char* failureLine)
{
    field = std::move(object);
    if (!field)
        shared_instance_detail::logFailure(failureLine);
    return field != nullptr;
}
