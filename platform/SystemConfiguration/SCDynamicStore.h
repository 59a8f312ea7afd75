// The configuration store calls the system makes, under their own names,
// over the simulated machine's store.
//
// A session watches the keys (and key patterns) it is told to watch; a
// change of one of them is remembered and signals the session's run-loop
// source, and the callback runs with the changed keys when that source is
// served. The console user is the value of "State:/Users/ConsoleUser".
#pragma once

#include "Foundation/Value.h"
#include "IOKit/IOTypes.h"

#include <memory>
#include <sys/types.h>

struct SCDynamicStoreContext {
    long version = 0;
    void* info = nullptr;
    const void* (*retain)(const void* info) = nullptr;
    void (*release)(const void* info) = nullptr;
    Value (*copyDescription)(const void* info) = nullptr;
};

class SCDynamicStore;
// A session; it lives while someone holds it (release = let go of it).
using SCDynamicStoreRef = std::shared_ptr<SCDynamicStore>;
using SCDynamicStoreCallBack = void (*)(SCDynamicStoreRef store, const Value& changedKeys, void* info);

// null on failure.
SCDynamicStoreRef SCDynamicStoreCreate(CFAllocatorRef allocator, const Value& name, SCDynamicStoreCallBack callout,
    SCDynamicStoreContext* context);
// "State:/Users/ConsoleUser"; nil on failure.
Value SCDynamicStoreKeyCreateConsoleUser(CFAllocatorRef allocator);
// keys: an array of key strings; patterns: an array of regular expressions
// or nil. Replaces what the session watched before.
bool SCDynamicStoreSetNotificationKeys(const SCDynamicStoreRef& store, const Value& keys, const Value& patterns);
// The session's run-loop source; null on failure.
CFRunLoopSourceRef SCDynamicStoreCreateRunLoopSource(CFAllocatorRef allocator, const SCDynamicStoreRef& store, long order);
// The console user's short name, nil when nobody is on the console; uid and
// gid (either may be null) are only written when there is a name. The
// store may be null (a one-off question needs no session).
Value SCDynamicStoreCopyConsoleUser(const SCDynamicStoreRef& store, uid_t* uid, gid_t* gid);
