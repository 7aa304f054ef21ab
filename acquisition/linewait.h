#pragma once

// Lets the reader thread sleep until bytes arrive on its line, a time passes
// or another thread wakes it (a stop). The wake is what lets the thread wait
// long on a silent line and still end at once when the run stops.
class LineWait
{
public:
    enum class Outcome { Readable, TimedOut, Woken };

    LineWait();
    ~LineWait();
    LineWait(const LineWait &) = delete;
    LineWait &operator=(const LineWait &) = delete;

    // Any thread: ends the wait going on, or the next one.
    void Wake();
    // Waits up to `ms` for bytes (or a hang-up) on `descriptor`; a negative
    // descriptor waits for the time or a wake only.
    Outcome Wait(int descriptor, int ms);
    // Sleeps up to `us` microseconds unless woken; false when woken.
    bool Sleep(long us) { return Wait(-1, static_cast<int>((us + 999) / 1000)) != Outcome::Woken; }

private:
    int m_fds[2] = {-1, -1}; // a pipe: read end, write end
};
