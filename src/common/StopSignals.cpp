#include "common/StopSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace orvello {

namespace {

volatile std::sig_atomic_t g_received = 0;
int g_wakeFd = -1;

extern "C" void OnStopSignal(int signal) {
    const int saved = errno;
    if (g_received == 0)
        g_received = signal;
    if (g_wakeFd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = write(g_wakeFd, &byte, 1);
    }
    errno = saved;
}

// The handling each signal had before, put back when the object goes.
struct sigaction g_previous[StopSignals::kSignals.size()];

} // namespace

StopSignals::StopSignals() {
    g_received = 0;
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        pipe_[0] = pipe_[1] = -1;
    g_wakeFd = pipe_[1];
    if (pipe_[0] >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
            char bytes[64];
            while (read(pipe_[0], bytes, sizeof bytes) > 0) {
            }
            emit stopRequested(int(g_received));
        });
    }
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        struct sigaction action = {};
        action.sa_handler = &OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART; // a signal never makes another call fail half-way
        if (sigaction(kSignals[i], nullptr, &g_previous[i]) == 0 &&
            g_previous[i].sa_handler != SIG_IGN)
            sigaction(kSignals[i], &action, nullptr);
    }
}

StopSignals::~StopSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        sigaction(kSignals[i], &g_previous[i], nullptr);
    g_wakeFd = -1;
    notifier_.reset();
    for (int fd : pipe_)
        if (fd >= 0)
            close(fd);
}

int StopSignals::Received() {
    return int(g_received);
}

} // namespace orvello
