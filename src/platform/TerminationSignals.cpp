#include "platform/TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

namespace dm {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int pipeFds[2] = {-1, -1};
struct sigaction previous[3];

extern "C" void OnTerminationSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // Non-blocking: a full pipe already holds a wake-up, so losing this byte loses nothing.
    [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &number, 1);
    errno = saved;
}

void RestoreHandlers() {
    for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &previous[i], nullptr);
}

} // namespace

TTerminationSignals::TTerminationSignals(QObject* parent) : QObject(parent) {
    if (pipeFds[0] >= 0) throw std::logic_error("termination signals are watched already");
    if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) throw std::runtime_error("cannot create the signal pipe");
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TTerminationSignals::Read);
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &previous[i]);
}

TTerminationSignals::~TTerminationSignals() {
    if (!received_) RestoreHandlers();
    delete notifier_;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void TTerminationSignals::Read() {
    unsigned char number = 0;
    int first = 0;
    while (::read(pipeFds[0], &number, 1) == 1)
        if (!first) first = number;
    if (!first || received_) return;
    received_ = first;
    RestoreHandlers();
    emit received(first);
}

} // namespace dm
