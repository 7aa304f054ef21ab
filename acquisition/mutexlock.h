#pragma once

#include <mutex>

// The store's lock. No code holds it across a modal window any more, but it
// stays re-entrant: a nested event loop started while it is held (a display
// tick or a chart paint inside one) must not deadlock the user interface.
class CMutexLock
{
public:
    void Lock() { m_mutex.lock(); }
    bool TryLock() { return m_mutex.try_lock(); }
    void Unlock() { m_mutex.unlock(); }

    // Lockable, so that std::lock_guard and std::unique_lock work with it.
    void lock() { Lock(); }
    bool try_lock() { return TryLock(); }
    void unlock() { Unlock(); }

private:
    std::recursive_mutex m_mutex;
};
