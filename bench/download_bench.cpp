// Download benchmark: serves a large file from a private nginx on loopback and fetches it
// once with the curl command line and once with Download, whose progress handler does the
// queue runner's per-block work (percentage text into the entry and its grid cell). Prints
// both throughputs, their ratio, the longest stretch without a 5 ms timer tick during the
// Download transfer, and the process's peak memory before and during the transfer.
#include "support/nginx/NginxServer.h"

#include "common/RunState.h"
#include "common/DownloadItem.h"
#include "list/DownloadTableModel.h"
#include "list/Formatting.h"
#include "transfer/Download.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

#include <sys/resource.h>
#include <time.h>

using namespace orvello;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kRatioTarget = 0.9;
constexpr double kGapTargetMs = 20.0;
constexpr int kTickMs = 5;

struct Options {
    std::vector<qint64> sizes;
    int repeat = 1;
    bool verifyContent = true;
};

struct RunResult {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0; // user + system time of the process that did the transfer
    QString problem;
};

struct DownloadResult : RunResult {
    double maxGapMs = 0;
    double maxGapAtMs = 0;       // when the longest gap ended, counted from the start
    long long maxGapAtBlock = 0; // progress events seen by then
    double maxGapCpuMs = 0;      // CPU time this thread used during the longest gap
    long maxGapWaits = 0;        // times the thread blocked in the kernel during it
    long maxGapPreempted = 0;    // times another process took the thread's core during it
    qint64 hwmBeforeKiB = 0;
    qint64 hwmAfterKiB = 0;
    long long progressEvents = 0;
    long long cellWrites = 0;
    qint32 lastProgress = -1;
};

double cpuSeconds(int who) {
    rusage usage{};
    if (::getrusage(who, &usage) != 0)
        return 0;
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU time of the calling thread. A gap between timer ticks during which the thread used
// about as much CPU time as the gap lasted was the transfer's own work; one with little CPU
// time was the thread waiting (for the disk, or for a core on a busy machine).
Clock::duration threadCpuTime() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// Voluntary (blocked in the kernel) and involuntary (preempted) context switches of the
// calling thread so far.
std::pair<long, long> threadSwitches() {
    rusage usage{};
    if (::getrusage(RUSAGE_THREAD, &usage) != 0)
        return {0, 0};
    return {usage.ru_nvcsw, usage.ru_nivcsw};
}

double mbPerSecond(qint64 bytes, double seconds) {
    return seconds > 0 ? double(bytes) / seconds / 1e6 : 0;
}

std::optional<qint64> parseSize(QString text) {
    text = text.trimmed().toUpper();
    qint64 factor = 1;
    if (text.endsWith(QLatin1String("IB")))
        text.chop(2);
    else if (text.endsWith(QLatin1Char('B')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('K')))
        factor = qint64(1) << 10;
    else if (text.endsWith(QLatin1Char('M')))
        factor = qint64(1) << 20;
    else if (text.endsWith(QLatin1Char('G')))
        factor = qint64(1) << 30;
    if (factor != 1)
        text.chop(1);
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (!ok || n < 1)
        return std::nullopt;
    return n * factor;
}

QString sizeText(qint64 bytes) {
    if (bytes >= (qint64(1) << 30) && bytes % (qint64(1) << 30) == 0)
        return QStringLiteral("%1 GiB").arg(bytes >> 30);
    if (bytes >= (qint64(1) << 20) && bytes % (qint64(1) << 20) == 0)
        return QStringLiteral("%1 MiB").arg(bytes >> 20);
    return QStringLiteral("%1 bytes").arg(bytes);
}

void usage() {
    std::fprintf(stderr,
                 "usage: download_bench [--size SIZE[,SIZE...]] [--repeat N] [--no-verify]\n"
                 "  SIZE     bytes, or a number with K, M or G (binary units); default 256M,1G\n"
                 "  --repeat runs per size; the best run of each side is compared (default 1)\n"
                 "  --no-verify  check only the sizes of the downloaded files, not the bytes\n");
}

std::optional<Options> parseOptions(const QStringList& args) {
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if ((a == QLatin1String("--size") || a == QLatin1String("--sizes")) && hasValue) {
            for (const QString& part : args[++i].split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const auto size = parseSize(part);
                if (!size)
                    return std::nullopt;
                o.sizes.push_back(*size);
            }
        } else if (a == QLatin1String("--repeat") && hasValue) {
            bool ok = false;
            o.repeat = args[++i].toInt(&ok);
            if (!ok || o.repeat < 1)
                return std::nullopt;
        } else if (a == QLatin1String("--no-verify")) {
            o.verifyContent = false;
        } else {
            return std::nullopt;
        }
    }
    if (o.sizes.empty())
        o.sizes = {qint64(256) << 20, qint64(1) << 30};
    return o;
}

// A field of /proc/self/status in KiB, or -1.
qint64 procStatusKiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Lowers the recorded peak to the present resident size, so the peak read after the
// transfer belongs to the transfer and not to earlier work (file creation, earlier runs).
bool resetPeakMemory() {
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

QString checkFile(const QString& path, qint64 size, std::uint64_t seed, bool content) {
    if (!content) {
        const qint64 got = QFileInfo(path).size();
        return got == size ? QString() : QStringLiteral("%1 bytes, expected %2").arg(got).arg(size);
    }
    QString problem;
    test::pattern::fileMatches(path, size, seed, &problem);
    return problem;
}

RunResult runCurl(const QString& url, const QString& out) {
    RunResult r;
    QFile::remove(out);
    QProcess curl;
    curl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // curl's CPU time is counted once it has ended and been reaped.
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer clock;
    clock.start();
    curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-o"), out, url});
    if (!curl.waitForStarted(10000)) {
        r.problem = QStringLiteral("cannot run curl: ") + curl.errorString();
        return r;
    }
    curl.waitForFinished(-1);
    r.seconds = double(clock.nsecsElapsed()) / 1e9;
    r.cpuSeconds = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    if (curl.exitStatus() != QProcess::NormalExit || curl.exitCode() != 0) {
        r.problem = QStringLiteral("curl failed with exit code %1").arg(curl.exitCode());
        return r;
    }
    r.ok = true;
    return r;
}

DownloadResult runDownload(const QString& url, const QString& out) {
    DownloadResult r;
    QFile::remove(out);

    // What the queue runner has at hand while a video transfer runs: the run state, the
    // entry being downloaded and the grid's display copy of the list with its row.
    RunState run;
    run.bDownloading = true;
    DownloadItem item;
    item.ID = 1;
    item.Video_URL = url;
    item.FileName = QFileInfo(out).fileName();
    item.Status = EntryText::Waiting;
    DownloadTableModel model;
    const int row = 0;

    Download download;
    download.setUrl(url);
    download.setLocalFile(out);
    download.RequestInformation();
    if (!download.FileExists() || download.FileSize() <= 0) {
        r.problem = QStringLiteral("the header request found no file at ") + url;
        return r;
    }
    item.FileSize = FormatFileSize(download.FileSize());
    model.appendRecord(
        {QVariant(int(item.ID)), item.Video_URL, item.FileName, item.Status, item.FileSize});

    qint32 shown = std::numeric_limits<qint32>::min();
    QObject::connect(
        &download, &Download::DownloadProgress, &download,
        [&](qint32& lProgress) {
            ++r.progressEvents;
            r.lastProgress = lProgress;
            if (run.bStopRequested)
                download.CancelDownload();
            if (lProgress == shown)
                return; // the text would not change
            shown = lProgress;
            item.Status = item.FileSize == QLatin1String("0")
                              ? FormatFileSize(float(lProgress)) + QStringLiteral("so far..")
                              : QString::number(lProgress);
            model.setCellText(row, DownloadTableModel::ColStatus, item.Status);
            ++r.cellWrites;
        },
        Qt::DirectConnection);
    QString error;
    QObject::connect(
        &download, &Download::DownloadError, &download,
        [&](const QString& description) { error = description; }, Qt::DirectConnection);

    // The event loop runs only inside the transfer's yields, so the gaps between ticks of
    // this timer are the stretches in which the window could not have answered.
    Clock::time_point started;
    Clock::time_point lastTick;
    Clock::duration lastTickCpu{};
    std::pair<long, long> lastTickSwitches;
    Clock::duration maxGap{};
    using Ms = std::chrono::duration<double, std::milli>;
    auto tick = [&] {
        const auto now = Clock::now();
        const auto cpu = threadCpuTime();
        const auto switches = threadSwitches();
        if (now - lastTick > maxGap) {
            maxGap = now - lastTick;
            r.maxGapAtMs = Ms(now - started).count();
            r.maxGapAtBlock = r.progressEvents;
            r.maxGapCpuMs = Ms(cpu - lastTickCpu).count();
            r.maxGapWaits = switches.first - lastTickSwitches.first;
            r.maxGapPreempted = switches.second - lastTickSwitches.second;
        }
        lastTick = now;
        lastTickCpu = cpu;
        lastTickSwitches = switches;
    };
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(kTickMs);
    QObject::connect(&ticker, &QTimer::timeout, tick);

    resetPeakMemory();
    r.hwmBeforeKiB = procStatusKiB("VmHWM");
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    ticker.start();
    started = lastTick = Clock::now();
    lastTickCpu = threadCpuTime();
    lastTickSwitches = threadSwitches();
    clock.start();
    const bool completed = download.StartDownload();
    r.seconds = double(clock.nsecsElapsed()) / 1e9;
    tick(); // the stretch from the last tick to the end counts too
    ticker.stop();
    r.cpuSeconds = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    r.hwmAfterKiB = procStatusKiB("VmHWM");
    r.maxGapMs = Ms(maxGap).count();

    if (!completed) {
        r.problem = QStringLiteral("the transfer did not complete: ") +
                    (error.isEmpty() ? QStringLiteral("no error reported") : error);
        return r;
    }
    if (model.cellText(row, DownloadTableModel::ColStatus) != item.Status) {
        r.problem = QStringLiteral("the status cell was not written");
        return r;
    }
    r.ok = true;
    return r;
}

void printLine(const QString& text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

double mib(qint64 kib) {
    return double(kib) / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const auto options = parseOptions(app.arguments());
    if (!options) {
        usage();
        return 2;
    }

    if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty()) {
        std::fprintf(stderr, "the curl command line is missing (package curl)\n");
        return 2;
    }
    test::NginxServer server;
    if (!server.start()) {
        std::fprintf(stderr, "cannot start nginx: %s\n", qPrintable(server.errorString()));
        return 2;
    }
    printLine(QStringLiteral("Download benchmark: nginx on 127.0.0.1:%1, %2 run(s) per size, "
                             "MB = 10^6 bytes")
                  .arg(server.port())
                  .arg(options->repeat));

    bool filesOk = true;
    bool targetsMet = true;
    struct Peak {
        qint64 size;
        qint64 beforeKiB;
        qint64 afterKiB;
    };
    std::vector<Peak> peaks;

    for (const qint64 size : options->sizes) {
        const auto seed = std::uint64_t(size) + 1;
        const QString name = QStringLiteral("bench-%1.flv").arg(size);
        printLine(QStringLiteral("\nfile %1 (%2 bytes)").arg(sizeText(size)).arg(size));
        if (server.createFile(name, size, seed).isEmpty()) {
            std::fprintf(stderr, "cannot create the served file\n");
            return 2;
        }
        const QString url = server.url(QLatin1Char('/') + name);
        const QString curlOut = server.scratchDir() + QStringLiteral("/curl.out");
        const QString downloadOut = server.scratchDir() + QStringLiteral("/download.out");

        double bestCurl = 0, bestDownload = 0, worstGap = 0;
        Peak peak{size, -1, -1};
        for (int i = 0; i < options->repeat; ++i) {
            const RunResult c = runCurl(url, curlOut);
            QString problem =
                c.ok ? checkFile(curlOut, size, seed, options->verifyContent) : c.problem;
            QFile::remove(curlOut);
            printLine(QStringLiteral("  curl      %1 MB/s  (%2 s, CPU %3 s)  %4")
                          .arg(mbPerSecond(size, c.seconds), 8, 'f', 1)
                          .arg(c.seconds, 0, 'f', 3)
                          .arg(c.cpuSeconds, 0, 'f', 3)
                          .arg(problem.isEmpty() ? QStringLiteral("file ok")
                                                 : QStringLiteral("FAILED: ") + problem));
            if (problem.isEmpty())
                bestCurl = std::max(bestCurl, mbPerSecond(size, c.seconds));
            else
                filesOk = false;

            const DownloadResult d = runDownload(url, downloadOut);
            problem = d.ok ? checkFile(downloadOut, size, seed, options->verifyContent) : d.problem;
            QFile::remove(downloadOut);
            printLine(QStringLiteral("  Download  %1 MB/s  (%2 s, CPU %3 s)  %4; %5 progress "
                                     "events, last %6%, %7 cell writes")
                          .arg(mbPerSecond(size, d.seconds), 8, 'f', 1)
                          .arg(d.seconds, 0, 'f', 3)
                          .arg(d.cpuSeconds, 0, 'f', 3)
                          .arg(problem.isEmpty() ? QStringLiteral("file ok")
                                                 : QStringLiteral("FAILED: ") + problem)
                          .arg(d.progressEvents)
                          .arg(d.lastProgress)
                          .arg(d.cellWrites));
            printLine(QStringLiteral("            longest event-loop gap %1 ms (%2 ms of it "
                                     "on the CPU, %3 waits, %4 preemptions; ended %5 ms in, "
                                     "after %6 blocks)")
                          .arg(d.maxGapMs, 0, 'f', 1)
                          .arg(d.maxGapCpuMs, 0, 'f', 1)
                          .arg(d.maxGapWaits)
                          .arg(d.maxGapPreempted)
                          .arg(d.maxGapAtMs, 0, 'f', 0)
                          .arg(d.maxGapAtBlock));
            printLine(QStringLiteral("            peak memory %1 MiB before, %2 MiB during the "
                                     "transfer")
                          .arg(mib(d.hwmBeforeKiB), 0, 'f', 1)
                          .arg(mib(d.hwmAfterKiB), 0, 'f', 1));
            if (problem.isEmpty())
                bestDownload = std::max(bestDownload, mbPerSecond(size, d.seconds));
            else
                filesOk = false;
            worstGap = std::max(worstGap, d.maxGapMs);
            if (peak.beforeKiB < 0 || d.hwmBeforeKiB < peak.beforeKiB)
                peak.beforeKiB = d.hwmBeforeKiB;
            peak.afterKiB = std::max(peak.afterKiB, d.hwmAfterKiB);
        }
        QFile::remove(server.documentRoot() + QLatin1Char('/') + name);
        peaks.push_back(peak);

        const double ratio = bestCurl > 0 ? bestDownload / bestCurl : 0;
        const bool ratioOk = ratio >= kRatioTarget;
        const bool gapOk = worstGap <= kGapTargetMs;
        targetsMet = targetsMet && ratioOk && gapOk;
        printLine(QStringLiteral("  ratio Download/curl %1 (target >= %2): %3")
                      .arg(ratio, 0, 'f', 2)
                      .arg(kRatioTarget, 0, 'f', 2)
                      .arg(ratioOk ? QStringLiteral("met") : QStringLiteral("MISSED")));
        printLine(QStringLiteral("  longest event-loop gap %1 ms (timer every %2 ms, target "
                                 "<= %3 ms): %4")
                      .arg(worstGap, 0, 'f', 1)
                      .arg(kTickMs)
                      .arg(kGapTargetMs, 0, 'f', 0)
                      .arg(gapOk ? QStringLiteral("met") : QStringLiteral("MISSED")));
    }

    // Memory must not follow the file size: compare the peaks of the smallest and the
    // largest transfer. (Memory that a transfer leaves allocated raises the next one's
    // starting point, so the peaks are compared, not the growth within each transfer.)
    if (peaks.size() > 1) {
        const auto [smallest, largest] =
            std::minmax_element(peaks.begin(), peaks.end(),
                                [](const Peak& a, const Peak& b) { return a.size < b.size; });
        // Allow a few MiB of noise (allocator, Qt's own caches).
        const bool memOk = largest->afterKiB <= smallest->afterKiB + 8 * 1024;
        targetsMet = targetsMet && memOk;
        printLine(QStringLiteral("\npeak memory during the transfer: %1 MiB for %2, %3 MiB for "
                                 "%4 (%5 MiB before the first transfer): %6")
                      .arg(mib(smallest->afterKiB), 0, 'f', 1)
                      .arg(sizeText(smallest->size))
                      .arg(mib(largest->afterKiB), 0, 'f', 1)
                      .arg(sizeText(largest->size))
                      .arg(mib(peaks.front().beforeKiB), 0, 'f', 1)
                      .arg(memOk ? QStringLiteral("does not grow with the file size")
                                 : QStringLiteral("GROWS with the file size")));
    }

    printLine(
        QStringLiteral("\nresult: %1, %2")
            .arg(filesOk ? QStringLiteral("all files correct") : QStringLiteral("WRONG FILES"))
            .arg(targetsMet ? QStringLiteral("all targets met")
                            : QStringLiteral("targets missed")));
    if (!filesOk)
        return 1;
    return targetsMet ? 0 : 3;
}
