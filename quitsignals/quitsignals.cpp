#include "quitsignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#  include <csignal>
#  include <sys/socket.h>
#  include <unistd.h>

namespace {

// A signal handler may only write to a descriptor; the user-interface thread
// reads the other end. This pair is the one piece of state a handler can reach.
int g_quitPipe[2] = {-1, -1};

extern "C" void OnQuitSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_quitPipe[0], &byte, 1);
}

} // namespace

QuitSignals::QuitSignals(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_quitPipe) != 0)
        return;
    m_pNotifier = new QSocketNotifier(g_quitPipe[1], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(g_quitPipe[1], &byte, 1);
        emit quitRequested();
    });
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        sigaction(signal, &action, nullptr);
}

QuitSignals::~QuitSignals()
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        sigaction(signal, &action, nullptr);
    delete m_pNotifier;
    for (int &fd : g_quitPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

#else

QuitSignals::QuitSignals(QObject *parent)
    : QObject(parent)
{
}

QuitSignals::~QuitSignals() = default;

#endif
