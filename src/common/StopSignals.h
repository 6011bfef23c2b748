#pragma once

#include <QObject>

#include <array>
#include <csignal>
#include <memory>

class QSocketNotifier;

namespace orvello {

// SIGINT, SIGTERM and SIGHUP (a closed terminal) as a request to stop, not an end: the
// handler only notes the signal and writes a byte into a pipe, and the event loop (the
// transfer lets it run) hears the pipe and emits stopRequested, so the running transfer is
// stopped and its partial file removed by the program's own code. A signal the program was
// started with ignored stays ignored (nohup). One object at a time; the handling from before
// comes back when it goes.
class StopSignals : public QObject {
    Q_OBJECT
public:
    static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};

    StopSignals();
    ~StopSignals() override;

    // The first signal received, 0 while none.
    static int Received();

signals:
    void stopRequested(int signal);

private:
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace orvello
