#pragma once

#include <mutex>

// The store's lock. Re-entrant, because a saving tick holds it across modal
// windows whose loops run display ticks and chart paints on the same thread.
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
