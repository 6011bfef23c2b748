#pragma once

// What the loopback benchmarks share: their options, the private nginx, the curl command line
// as the peer they are measured against, the check of the downloaded files, the event-loop
// gap meter, the process's peak memory and the lines that judge the figures.
#include "support/nginx/NginxServer.h"

#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace orvello::bench {

using Clock = std::chrono::steady_clock;

constexpr double kRatioTarget = 0.9;
constexpr double kGapTargetMs = 20.0;
constexpr int kTickMs = 5;

// Exit status of a benchmark.
enum Exit { kExitOk = 0, kExitWrongFile = 1, kExitCannotRun = 2, kExitTargetMissed = 3 };

struct Options {
    std::vector<qint64> sizes;
    int repeat = 1;
    bool verifyContent = true;
    bool freshen = true; // freshenMemory before each measured fetch
};

// --size SIZE[,SIZE...], --repeat N, --no-verify and --no-freshen; nullopt on anything else.
std::optional<Options> parseOptions(const QStringList& args);
// The option text, under the program's name.
void usage(const char* program);

// Bytes, or a number with K, M or G (binary units, an optional "iB" or "B" after).
std::optional<qint64> parseSize(QString text);
// "1 GiB", "256 MiB" or "123 bytes".
QString sizeText(qint64 bytes);
// Throughput in MB/s (10^6 bytes per second).
double mbPerSecond(qint64 bytes, double seconds);
double mib(qint64 kib);

// User + system CPU seconds of RUSAGE_SELF or RUSAGE_CHILDREN.
double cpuSeconds(int who);

// A field of /proc/self/status in KiB, or -1.
qint64 procStatusKiB(const char* field);
// Lowers the recorded peak (VmHWM) to the present resident size, so the peak read after a
// measured stretch belongs to that stretch and not to earlier work.
bool resetPeakMemory();

// Prints one line to stdout at once, so a long run shows its progress.
void printLine(const QString& text);

// Checks that the cURL command line is there and starts the server; prints why not and
// returns false when either fails.
bool startServer(test::NginxServer& server);

// Empty when the file at path holds size bytes of the served content for seed (with content
// false: only size bytes); else what is wrong.
QString checkFile(const QString& path, qint64 size, std::uint64_t seed, bool content);

// Writes `bytes` of scratch data into a file in `folder` and deletes it, so the fetch measured
// right after writes into memory the kernel has just freed. On a virtual machine that reports
// free memory to its host (virtio-balloon free page reporting), memory that stayed free for a
// few seconds is handed back, and the page-cache writes that land on it cost about ten times
// as much (here 1.6 s instead of 0.16 s per GiB). Which side of a comparison would meet such
// memory depends on timing alone; after this both meet memory as on a machine of their own.
void freshenMemory(const QString& folder, qint64 bytes);

struct RunResult {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0; // user + system time of the process that did the transfer
    QString problem;
};

// `curl -s -o out url`, timed from starting the process to its exit.
RunResult runCurl(const QString& url, const QString& out);
// curl with `args` in `folder` (empty: this process's), timed from starting the process to
// its exit, with its CPU time; its standard error shown, or sent nowhere (a progress meter).
RunResult runCurlProcess(const QStringList& args, const QString& folder = {},
                         bool showErrors = true);
// Runs curl into out, checks the file, removes it and prints the line for it. The
// throughput, or nullopt when the file is wrong.
std::optional<double> measureCurl(const QString& url, const QString& out, qint64 size,
                                  std::uint64_t seed, const Options& options);

// The longest stretch in which the event loop did not run a 5 ms repeating timer: how long
// the window could not have answered. With it, how much of that stretch the thread spent on
// the CPU, how often it blocked in the kernel and how often another process took its core (a
// gap mostly off the CPU is the machine's doing, not the program's), when it ended, and the
// value of a caller's counter (progress events) by then.
class GapMeter {
public:
    struct Gap {
        double ms = 0;
        double atMs = 0;       // when the gap ended, counted from start()
        long long atCount = 0; // the counter's value then
        double cpuMs = 0;      // CPU time this thread used during the gap
        long waits = 0;        // times the thread blocked in the kernel during it
        long preempted = 0;    // times another process took the thread's core during it
    };

    explicit GapMeter(const long long& counter);
    void start();
    // Counts the stretch from the last tick to now and stops the timer.
    void stop();
    const Gap& longest() const { return longest_; }
    // "longest event-loop gap 3.1 ms (2.9 ms of it on the CPU, ...)"
    QString describe(const char* counted) const;

private:
    void tick();

    const long long& counter_;
    QTimer ticker_;
    Clock::time_point started_;
    Clock::time_point lastTick_;
    Clock::duration lastTickCpu_{};
    std::pair<long, long> lastTickSwitches_;
    Clock::duration maxGap_{};
    Gap longest_;
};

// The best throughputs of the program's side and curl's for one size, and the worst gap:
// prints the ratio and the gap against their targets. True when both are met.
bool reportTargets(const char* side, double bestSide, double bestCurl, double worstGapMs);

// Peak memory of the runs of one file size: the lowest starting point and the highest peak.
struct Peak {
    qint64 size = 0;
    qint64 beforeKiB = -1;
    qint64 afterKiB = -1;
    void add(qint64 before, qint64 after);
};
// Compares the peaks of the smallest and the largest file (memory must not grow with the file
// size) and prints the result. True when it does not grow, or there is only one size.
bool reportPeaks(const std::vector<Peak>& peaks, const char* during);

// Prints the closing line and returns the exit status.
int finish(bool filesOk, bool targetsMet);

// What one measured run of the program's side gives the comparison with curl.
struct SideRun {
    QString problem; // empty: it completed and its file is right
    double seconds = 0;
    GapMeter::Gap gap;
    QString gapText;
    qint64 hwmBeforeKiB = 0;
    qint64 hwmAfterKiB = 0;
};

// The comparison the loopback benchmarks make. It reads the options from `args` (printing the
// usage under `program` when they are wrong) and starts a private nginx. Per size in the
// options the server serves a file of deterministic content (`serve` may add what the side
// needs besides, such as a page naming the file; false stops the benchmark), and per repeat
// curl fetches it, then `measure` runs the program's side once and prints its own first line;
// the gap and the peak memory of that run (`during` it) follow. Then the best of each side is
// judged against the targets, and at the end the peaks. Returns the exit status.
using ServeFn = std::function<bool(test::NginxServer& server, qint64 size, const QString& url)>;
using MeasureFn = std::function<SideRun(test::NginxServer& server, const Options& options,
                                        qint64 size, std::uint64_t seed, const QString& url)>;
struct Comparison {
    const char* program; // for the usage text
    const char* title;   // the first line's
    const char* side;    // the program's side in the judging lines
    const char* during;
    ServeFn serve;
    MeasureFn measure;
};
int compareWithCurl(const QStringList& args, const Comparison& c);

} // namespace orvello::bench
