// An unnamed mutex. Like a Win32 mutex it may be taken again by the thread that holds it.
#pragma once

#include <mutex>

namespace fv {

class RecursiveMutex {
public:
    void Lock() { mutex_.lock(); }
    bool TryLock() { return mutex_.try_lock(); }
    void Unlock() { mutex_.unlock(); }

    // BasicLockable, for std::lock_guard and std::scoped_lock.
    void lock() { Lock(); }
    void unlock() { Unlock(); }

private:
    std::recursive_mutex mutex_;
};

}  // namespace fv
