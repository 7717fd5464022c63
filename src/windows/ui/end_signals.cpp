#include "windows/ui/end_signals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantrel {

namespace {

// [0] is written by the handler, [1] is read on the event loop.
int s_pair[2] = { -1, -1 };

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // Non-blocking: should the pair ever be full, the ones already in it will do.
    [[maybe_unused]] const ssize_t put = ::write(s_pair[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

EndSignals::EndSignals(std::initializer_list<int> signalNumbers, QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s_pair) != 0) {
        s_pair[0] = s_pair[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(s_pair[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &EndSignals::readPending);

    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : signalNumbers) {
        if (::sigaction(signalNumber, &action, nullptr) == 0)
            m_signals.push_back(signalNumber);
    }
}

EndSignals::~EndSignals()
{
    for (int signalNumber : m_signals)
        std::signal(signalNumber, SIG_DFL);
    for (int& fd : s_pair) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void EndSignals::readPending()
{
    unsigned char byte = 0;
    while (::read(s_pair[1], &byte, 1) == 1)
        emit received(byte);
}

} // namespace vantrel
