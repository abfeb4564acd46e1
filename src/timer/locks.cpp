#include "timer/locks.h"

#include <map>
#include <mutex>
#include <new>
#include <string>

namespace ostrel {

struct Lock {
    std::mutex mutex;    // held by GetLock's caller; its users decide what it guards
    std::string name;    // empty for an unnamed lock
    int references = 1;  // guarded by g_namedLocksMutex for named locks
};

namespace {

constexpr int kLockFailed = -1;

// Guards g_namedLocks and the reference counts of named locks.
std::mutex g_namedLocksMutex;
std::map<std::string, Lock *> g_namedLocks;

int NewNamedLock(const std::string &name, Lock **lockOut) {
    std::lock_guard guard(g_namedLocksMutex);
    auto found = g_namedLocks.find(name);
    if (found != g_namedLocks.end()) {
        found->second->references += 1;
        *lockOut = found->second;
        return 0;
    }
    Lock *lock = new Lock;
    lock->name = name;
    g_namedLocks.emplace(name, lock);
    *lockOut = lock;
    return 0;
}

}  // namespace

int NewLock(const char *name, Lock **lockOut) {
    if (lockOut == nullptr) return kLockFailed;
    *lockOut = nullptr;
    try {
        if (name != nullptr && name[0] != '\0') return NewNamedLock(name, lockOut);
        *lockOut = new Lock;
        return 0;
    } catch (const std::bad_alloc &) {
        return kLockFailed;
    }
}

int GetLock(Lock *lock) {
    if (lock == nullptr) return kLockFailed;
    lock->mutex.lock();
    return 0;
}

int ReleaseLock(Lock *lock) {
    if (lock == nullptr) return kLockFailed;
    lock->mutex.unlock();
    return 0;
}

int DiscardLock(Lock *lock) {
    if (lock == nullptr) return kLockFailed;
    if (!lock->name.empty()) {
        std::lock_guard guard(g_namedLocksMutex);
        if (--lock->references > 0) return 0;
        g_namedLocks.erase(lock->name);
    }
    delete lock;
    return 0;
}

}  // namespace ostrel
