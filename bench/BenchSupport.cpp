#include "BenchSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>

#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace orvello::bench {

namespace {

// CPU time of the calling thread. A gap between timer ticks during which the thread used
// about as much CPU time as the gap lasted was the program's own work; one with little CPU
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

QString verdict(bool ok) {
    return ok ? QStringLiteral("met") : QStringLiteral("MISSED");
}

} // namespace

double cpuSeconds(int who) {
    rusage usage{};
    if (::getrusage(who, &usage) != 0)
        return 0;
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double mbPerSecond(qint64 bytes, double seconds) {
    return seconds > 0 ? double(bytes) / seconds / 1e6 : 0;
}

double mib(qint64 kib) {
    return double(kib) / 1024.0;
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

void usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--size SIZE[,SIZE...]] [--repeat N] [--no-verify] [--no-freshen]\n"
                 "  SIZE     bytes, or a number with K, M or G (binary units); default 256M,1G\n"
                 "  --repeat runs per size; the best run of each side is compared (default 1)\n"
                 "  --no-verify  check only the sizes of the downloaded files, not the bytes\n"
                 "  --no-freshen  do not write and delete scratch data before each fetch\n",
                 program);
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
        } else if (a == QLatin1String("--no-freshen")) {
            o.freshen = false;
        } else {
            return std::nullopt;
        }
    }
    if (o.sizes.empty())
        o.sizes = {qint64(256) << 20, qint64(1) << 30};
    return o;
}

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

bool resetPeakMemory() {
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

void printLine(const QString& text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

bool startServer(test::NginxServer& server) {
    if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty()) {
        std::fprintf(stderr, "the curl command line is missing (package curl)\n");
        return false;
    }
    if (!server.start()) {
        std::fprintf(stderr, "cannot start nginx: %s\n", qPrintable(server.errorString()));
        return false;
    }
    return true;
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

void freshenMemory(const QString& folder, qint64 bytes) {
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/freshen.tmp"));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const std::vector<char> zeros(std::size_t(1) << 20, 0);
    for (qint64 left = bytes; left > 0;) {
        const ssize_t n =
            ::write(fd, zeros.data(), std::size_t(std::min<qint64>(left, qint64(zeros.size()))));
        if (n <= 0)
            break;
        left -= n;
    }
    ::close(fd);
    ::unlink(path.constData());
}

RunResult runCurl(const QString& url, const QString& out) {
    QFile::remove(out);
    return runCurlProcess({QStringLiteral("-s"), QStringLiteral("-o"), out, url});
}

RunResult runCurlProcess(const QStringList& args, const QString& folder, bool showErrors) {
    RunResult r;
    QProcess curl;
    if (!folder.isEmpty())
        curl.setWorkingDirectory(folder);
    if (showErrors) {
        curl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    } else {
        curl.setStandardOutputFile(QProcess::nullDevice());
        curl.setStandardErrorFile(QProcess::nullDevice());
    }
    // curl's CPU time is counted once it has ended and been reaped.
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer clock;
    clock.start();
    curl.start(QStringLiteral("curl"), args);
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

std::optional<double> measureCurl(const QString& url, const QString& out, qint64 size,
                                  std::uint64_t seed, const Options& options) {
    if (options.freshen)
        freshenMemory(QFileInfo(out).absolutePath(), size);
    const RunResult c = runCurl(url, out);
    const QString problem = c.ok ? checkFile(out, size, seed, options.verifyContent) : c.problem;
    QFile::remove(out);
    printLine(QStringLiteral("  curl      %1 MB/s  (%2 s, CPU %3 s)  %4")
                  .arg(mbPerSecond(size, c.seconds), 8, 'f', 1)
                  .arg(c.seconds, 0, 'f', 3)
                  .arg(c.cpuSeconds, 0, 'f', 3)
                  .arg(problem.isEmpty() ? QStringLiteral("file ok")
                                         : QStringLiteral("FAILED: ") + problem));
    if (!problem.isEmpty())
        return std::nullopt;
    return mbPerSecond(size, c.seconds);
}

GapMeter::GapMeter(const long long& counter) : counter_(counter) {
    // The event loop runs only inside the program's yields, so the gaps between ticks of
    // this timer are the stretches in which the window could not have answered.
    ticker_.setTimerType(Qt::PreciseTimer);
    ticker_.setInterval(kTickMs);
    QObject::connect(&ticker_, &QTimer::timeout, [this] { tick(); });
}

void GapMeter::start() {
    maxGap_ = {};
    longest_ = {};
    ticker_.start();
    started_ = lastTick_ = Clock::now();
    lastTickCpu_ = threadCpuTime();
    lastTickSwitches_ = threadSwitches();
}

void GapMeter::stop() {
    tick(); // the stretch from the last tick to the end counts too
    ticker_.stop();
}

void GapMeter::tick() {
    using Ms = std::chrono::duration<double, std::milli>;
    const auto now = Clock::now();
    const auto cpu = threadCpuTime();
    const auto switches = threadSwitches();
    if (now - lastTick_ > maxGap_) {
        maxGap_ = now - lastTick_;
        longest_.ms = Ms(maxGap_).count();
        longest_.atMs = Ms(now - started_).count();
        longest_.atCount = counter_;
        longest_.cpuMs = Ms(cpu - lastTickCpu_).count();
        longest_.waits = switches.first - lastTickSwitches_.first;
        longest_.preempted = switches.second - lastTickSwitches_.second;
    }
    lastTick_ = now;
    lastTickCpu_ = cpu;
    lastTickSwitches_ = switches;
}

QString GapMeter::describe(const char* counted) const {
    return QStringLiteral("longest event-loop gap %1 ms (%2 ms of it on the CPU, %3 waits, %4 "
                          "preemptions; ended %5 ms in, after %6 %7)")
        .arg(longest_.ms, 0, 'f', 1)
        .arg(longest_.cpuMs, 0, 'f', 1)
        .arg(longest_.waits)
        .arg(longest_.preempted)
        .arg(longest_.atMs, 0, 'f', 0)
        .arg(longest_.atCount)
        .arg(QString::fromLatin1(counted));
}

bool reportTargets(const char* side, double bestSide, double bestCurl, double worstGapMs) {
    const double ratio = bestCurl > 0 ? bestSide / bestCurl : 0;
    const bool ratioOk = ratio >= kRatioTarget;
    const bool gapOk = worstGapMs <= kGapTargetMs;
    printLine(QStringLiteral("  ratio %1/curl %2 (target >= %3): %4")
                  .arg(QString::fromLatin1(side))
                  .arg(ratio, 0, 'f', 2)
                  .arg(kRatioTarget, 0, 'f', 2)
                  .arg(verdict(ratioOk)));
    printLine(QStringLiteral("  longest event-loop gap %1 ms (timer every %2 ms, target "
                             "<= %3 ms): %4")
                  .arg(worstGapMs, 0, 'f', 1)
                  .arg(kTickMs)
                  .arg(kGapTargetMs, 0, 'f', 0)
                  .arg(verdict(gapOk)));
    return ratioOk && gapOk;
}

void Peak::add(qint64 before, qint64 after) {
    if (beforeKiB < 0 || before < beforeKiB)
        beforeKiB = before;
    afterKiB = std::max(afterKiB, after);
}

bool reportPeaks(const std::vector<Peak>& peaks, const char* during) {
    if (peaks.size() < 2)
        return true;
    // Memory that a run leaves allocated raises the next one's starting point, so the peaks
    // are compared, not the growth within each run.
    const auto [smallest, largest] = std::minmax_element(
        peaks.begin(), peaks.end(), [](const Peak& a, const Peak& b) { return a.size < b.size; });
    // Allow a few MiB of noise (allocator, Qt's own caches).
    const bool ok = largest->afterKiB <= smallest->afterKiB + 8 * 1024;
    printLine(QStringLiteral("\npeak memory during the %1: %2 MiB for %3, %4 MiB for %5 (%6 MiB "
                             "before the first %1): %7")
                  .arg(QString::fromLatin1(during))
                  .arg(mib(smallest->afterKiB), 0, 'f', 1)
                  .arg(sizeText(smallest->size))
                  .arg(mib(largest->afterKiB), 0, 'f', 1)
                  .arg(sizeText(largest->size))
                  .arg(mib(peaks.front().beforeKiB), 0, 'f', 1)
                  .arg(ok ? QStringLiteral("does not grow with the file size")
                          : QStringLiteral("GROWS with the file size")));
    return ok;
}

int finish(bool filesOk, bool targetsMet) {
    printLine(
        QStringLiteral("\nresult: %1, %2")
            .arg(filesOk ? QStringLiteral("all files correct") : QStringLiteral("WRONG FILES"))
            .arg(targetsMet ? QStringLiteral("all targets met")
                            : QStringLiteral("targets missed")));
    if (!filesOk)
        return kExitWrongFile;
    return targetsMet ? kExitOk : kExitTargetMissed;
}

int compareWithCurl(const QStringList& args, const Comparison& c) {
    const std::optional<Options> parsed = parseOptions(args);
    if (!parsed) {
        usage(c.program);
        return kExitCannotRun;
    }
    const Options& options = *parsed;
    test::NginxServer server;
    if (!startServer(server))
        return kExitCannotRun;
    printLine(QStringLiteral("%1: nginx on 127.0.0.1:%2, %3 run(s) per size, MB = 10^6 bytes, "
                             "platform %4")
                  .arg(QLatin1String(c.title))
                  .arg(server.port())
                  .arg(options.repeat)
                  .arg(QGuiApplication::platformName()));

    bool filesOk = true;
    bool targetsMet = true;
    std::vector<Peak> peaks;
    for (const qint64 size : options.sizes) {
        const auto seed = std::uint64_t(size) + 1;
        const QString name = QStringLiteral("media/bench-%1.flv").arg(size);
        const QString url = server.url(QLatin1Char('/') + name);
        printLine(QStringLiteral("\nfile %1 (%2 bytes)").arg(sizeText(size)).arg(size));
        if (server.createFile(name, size, seed).isEmpty() || !c.serve(server, size, url)) {
            std::fprintf(stderr, "cannot create the served files\n");
            return kExitCannotRun;
        }
        const QString curlOut = server.scratchDir() + QStringLiteral("/curl.out");
        double bestCurl = 0, bestSide = 0, worstGap = 0;
        Peak peak{size};
        for (int i = 0; i < options.repeat; ++i) {
            if (const auto curl = measureCurl(url, curlOut, size, seed, options))
                bestCurl = std::max(bestCurl, *curl);
            else
                filesOk = false;
            if (options.freshen)
                freshenMemory(server.scratchDir(), size);
            const SideRun r = c.measure(server, options, size, seed, url);
            printLine(QStringLiteral("            ") + r.gapText);
            printLine(QStringLiteral("            peak memory %1 MiB before, %2 MiB during the %3")
                          .arg(mib(r.hwmBeforeKiB), 0, 'f', 1)
                          .arg(mib(r.hwmAfterKiB), 0, 'f', 1)
                          .arg(QLatin1String(c.during)));
            if (r.problem.isEmpty())
                bestSide = std::max(bestSide, mbPerSecond(size, r.seconds));
            else
                filesOk = false;
            worstGap = std::max(worstGap, r.gap.ms);
            peak.add(r.hwmBeforeKiB, r.hwmAfterKiB);
        }
        QFile::remove(server.documentRoot() + QLatin1Char('/') + name);
        peaks.push_back(peak);
        targetsMet = reportTargets(c.side, bestSide, bestCurl, worstGap) && targetsMet;
    }
    targetsMet = reportPeaks(peaks, c.during) && targetsMet;
    return finish(filesOk, targetsMet);
}

} // namespace orvello::bench
