#include "linewait.h"

#include <QThread>

#ifndef Q_OS_WIN
#  include <cerrno>
#  include <fcntl.h>
#  include <poll.h>
#  include <unistd.h>
#endif

#include <algorithm>
#include <chrono>

LineWait::LineWait()
{
#ifndef Q_OS_WIN
    if (::pipe(m_fds) == 0) {
        for (const int fd : m_fds) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    } else {
        m_fds[0] = m_fds[1] = -1; // waits then only time out
    }
#endif
}

LineWait::~LineWait()
{
#ifndef Q_OS_WIN
    for (const int fd : m_fds)
        if (fd >= 0)
            ::close(fd);
#endif
}

void LineWait::Wake()
{
#ifndef Q_OS_WIN
    if (m_fds[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_fds[1], &byte, 1); // a full pipe is woken already
    }
#endif
}

LineWait::Outcome LineWait::Wait(int descriptor, int ms)
{
#ifndef Q_OS_WIN
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    pollfd fds[2] = {{m_fds[0], POLLIN, 0}, {descriptor, POLLIN, 0}};
    const nfds_t count = descriptor >= 0 ? 2 : 1;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int ready = ::poll(fds, count, static_cast<int>(std::max<long long>(left, 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return Outcome::TimedOut;
        if (fds[0].revents & POLLIN) {
            char drained[64];
            while (::read(m_fds[0], drained, sizeof drained) > 0) {
            }
            return Outcome::Woken;
        }
        return Outcome::Readable; // bytes, or the line's hang-up or error
    }
#else
    // No wake here: the wait is cut into short sleeps by the caller's bound.
    Q_UNUSED(descriptor);
    QThread::msleep(static_cast<unsigned long>(ms));
    return Outcome::TimedOut;
#endif
}
