// Four at a time: four list entries downloaded together by the queue runner, composed as the
// command line composes it (the list without a grid, the download machinery, four entries at
// a time), against `curl --parallel --parallel-max 4` fetching the same four files from the
// same private nginx on loopback, the two sides taking turns. Per run it prints the
// aggregate rate, the CPU time, the longest stretch without a 5 ms timer tick while the
// entries ran (how long a window would not have answered) and the process's peak memory.
#include "BenchSupport.h"

#include "common/DownloadItem.h"
#include "common/ProgramSettings.h"
#include "common/Prompter.h"
#include "common/RunState.h"
#include "list/modMain.h"
#include "scheduler/DownloadScheduler.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>

#include <sys/resource.h>

using namespace orvello;
using namespace orvello::bench;

namespace {

constexpr int kFiles = 4;
constexpr double kMemoryTargetMiB = 100;

// Questions are answered with the choice that changes nothing, as on the command line.
struct QuietPrompter : Prompter {
    MsgAnswer MsgBox(const MsgRequest& request) override {
        return request.buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
};

struct Served {
    QString page;  // the PutFile page naming the file
    QString video; // the file itself
    std::uint64_t seed = 0;
};

struct Figures {
    QString problem;
    double seconds = 0;
    double cpuSeconds = 0;
    double peakMiB = -1;          // the process's peak resident memory during the run
    int mostRunning = 0;          // the most entries seen running at once
    double fourMs = 0;            // how long all four ran at once
    GapMeter::Gap gap;            // the longest gap of the whole run
    double gapFourMs = 0;         // the longest gap that ended while all four ran
    double gapTransferringMs = 0; // ... while all four videos were coming in
    QString gapText;
};

QString checkAll(const std::vector<Served>& files, const QString& folder, qint64 size,
                 bool content) {
    for (const Served& f : files) {
        const QString name = f.video.section(QLatin1Char('/'), -1);
        const QString problem = checkFile(folder + QLatin1Char('/') + name, size, f.seed, content);
        if (!problem.isEmpty())
            return name + QStringLiteral(": ") + problem;
    }
    return QString();
}

Figures runCurl(const std::vector<Served>& files, const QString& folder, qint64 size,
                const Options& options) {
    Figures r;
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    if (options.freshen)
        freshenMemory(folder, size * kFiles);
    QStringList args{QStringLiteral("-s"), QStringLiteral("--parallel"),
                     QStringLiteral("--parallel-max"), QString::number(kFiles)};
    for (const Served& f : files)
        args << QStringLiteral("-O") << f.video;
    const RunResult run = runCurlProcess(args, folder, false); // its meter goes nowhere
    r.seconds = run.seconds;
    r.cpuSeconds = run.cpuSeconds;
    r.problem = run.ok ? checkAll(files, folder, size, options.verifyContent) : run.problem;
    QDir(folder).removeRecursively();
    return r;
}

Figures runProgram(const std::vector<Served>& files, const QString& folder, qint64 size,
                   const Options& options) {
    Figures r;
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    if (options.freshen)
        freshenMemory(folder, size * kFiles);

    RunState run;
    QuietPrompter prompter;
    ProgramSettings settings;
    settings.sDownloadDir = folder;
    settings.iSimultaneous = kFiles;
    modMain list(run, nullptr, &prompter);
    DownloadScheduler scheduler(run, list, prompter, settings);
    for (const Served& f : files)
        list.AddUrlToList(f.page);
    if (int(list.Entries().size()) != kFiles) {
        r.problem = QStringLiteral("the page addresses were not taken as supported entries");
        return r;
    }

    long long progressEvents = 0;
    list.AddObserver([&](const ListChange&) { ++progressEvents; });
    GapMeter gaps(progressEvents);
    // Beside the meter: which gaps ended while all four were running.
    QTimer four;
    four.setTimerType(Qt::PreciseTimer);
    four.setInterval(kTickMs);
    Clock::time_point lastTick{};
    Clock::time_point fourSince{};
    Clock::duration fourTotal{};
    QObject::connect(&four, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        const int running = int(run.runningKeys().size());
        r.mostRunning = std::max(r.mostRunning, running);
        const double gapMs = std::chrono::duration<double, std::milli>(now - lastTick).count();
        if (running == kFiles) {
            if (lastTick != Clock::time_point{} && fourSince != Clock::time_point{}) {
                r.gapFourMs = std::max(r.gapFourMs, gapMs);
                const auto& entries = list.Entries();
                const bool allComing =
                    std::all_of(entries.begin(), entries.end(), [](const DownloadItem& e) {
                        return e.State == EntryState::Transferring;
                    });
                if (allComing)
                    r.gapTransferringMs = std::max(r.gapTransferringMs, gapMs);
            }
            if (fourSince == Clock::time_point{})
                fourSince = now;
        } else if (fourSince != Clock::time_point{}) {
            fourTotal += now - fourSince;
            fourSince = {};
        }
        lastTick = now;
    });

    resetPeakMemory();
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    gaps.start();
    four.start();
    const auto started = Clock::now();
    scheduler.runner.StartDownloading();
    while (run.bDownloading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const auto ended = Clock::now();
    gaps.stop();
    four.stop();
    if (fourSince != Clock::time_point{})
        fourTotal += ended - fourSince;
    r.seconds = std::chrono::duration<double>(ended - started).count();
    r.cpuSeconds = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    r.peakMiB = mib(procStatusKiB("VmHWM"));
    r.fourMs = std::chrono::duration<double, std::milli>(fourTotal).count();
    r.gap = gaps.longest();
    r.gapText = gaps.describe("list changes");
    for (const DownloadItem& entry : list.Entries()) {
        if (entry.Status != EntryText::Complete) {
            r.problem =
                QStringLiteral("an entry ended \"%1\" (%2)").arg(entry.Status, entry.FileName);
            return r;
        }
    }
    r.problem = checkAll(files, folder, size, options.verifyContent);
    QDir(folder).removeRecursively();
    return r;
}

void printRun(const char* side, qint64 total, const Figures& f) {
    // curl's peak is not taken here: a child's peak counts the memory it shared with this
    // process between fork and exec.
    const QString peak = f.peakMiB < 0
                             ? QString()
                             : QStringLiteral(", peak memory %1 MiB").arg(f.peakMiB, 0, 'f', 1);
    printLine(QStringLiteral("  %1 %2 MB/s  (%3 s, CPU %4 s%5)  %6")
                  .arg(QLatin1String(side), -9)
                  .arg(mbPerSecond(total, f.seconds), 8, 'f', 1)
                  .arg(f.seconds, 0, 'f', 3)
                  .arg(f.cpuSeconds, 0, 'f', 3)
                  .arg(peak)
                  .arg(f.problem.isEmpty() ? QStringLiteral("files ok")
                                           : QStringLiteral("FAILED: ") + f.problem));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    const bool sizeGiven = args.contains(QLatin1String("--size"));
    const std::optional<Options> parsed = parseOptions(args);
    if (!parsed || (sizeGiven && parsed->sizes.size() != 1)) {
        usage("parallel_bench");
        std::fprintf(stderr, "  (one SIZE: the size of each of the four files; default 256M; "
                             "--repeat default 3)\n");
        return kExitCannotRun;
    }
    Options options = *parsed;
    const qint64 size = sizeGiven ? options.sizes.front() : qint64(256) << 20;
    if (!args.contains(QLatin1String("--repeat")))
        options.repeat = 3;

    test::NginxServer server;
    if (!startServer(server))
        return kExitCannotRun;
    std::vector<Served> files;
    for (int n = 1; n <= kFiles; ++n) {
        Served f;
        f.seed = std::uint64_t(size) + std::uint64_t(n);
        const QString name = QStringLiteral("media/part%1.flv").arg(n);
        f.video = server.url(QLatin1Char('/') + name);
        const QString page = QStringLiteral("putfile.com/v/part%1").arg(n);
        const QByteArray markup = "<html><head><title>part</title></head><body><a href=\"" +
                                  f.video.toLatin1() + "\">Download</a></body></html>";
        f.page = server.url(QLatin1Char('/') + page);
        if (server.createFile(name, size, f.seed).isEmpty() ||
            server.createFile(page, markup).isEmpty()) {
            std::fprintf(stderr, "cannot create the served files\n");
            return kExitCannotRun;
        }
        files.push_back(f);
    }
    const qint64 total = size * kFiles;
    printLine(QStringLiteral("Four at a time: nginx on 127.0.0.1:%1, %2 files of %3, %4 run(s) "
                             "per side in turn, MB = 10^6 bytes")
                  .arg(server.port())
                  .arg(kFiles)
                  .arg(sizeText(size))
                  .arg(options.repeat));

    bool filesOk = true;
    double bestCurl = 0, bestRun = 0, worstGap = 0, worstGapFour = 0, worstGapComing = 0,
           worstPeak = 0;
    double curlCpu = 1e9, runCpu = 1e9;
    int leastRunning = kFiles;
    const QString folder = server.scratchDir() + QStringLiteral("/out");
    for (int i = 0; i < options.repeat; ++i) {
        const Figures c = runCurl(files, folder, size, options);
        printRun("curl", total, c);
        const Figures p = runProgram(files, folder, size, options);
        printRun("4 at once", total, p);
        printLine(QStringLiteral("            %1").arg(p.gapText));
        printLine(QStringLiteral("            all four ran together for %1 ms; the longest gap "
                                 "ending in that stretch: %2 ms, while all four videos were "
                                 "coming in: %3 ms")
                      .arg(p.fourMs, 0, 'f', 0)
                      .arg(p.gapFourMs, 0, 'f', 1)
                      .arg(p.gapTransferringMs, 0, 'f', 1));
        if (!c.problem.isEmpty() || !p.problem.isEmpty())
            filesOk = false;
        if (c.problem.isEmpty()) {
            bestCurl = std::max(bestCurl, mbPerSecond(total, c.seconds));
            curlCpu = std::min(curlCpu, c.cpuSeconds);
        }
        if (p.problem.isEmpty()) {
            bestRun = std::max(bestRun, mbPerSecond(total, p.seconds));
            runCpu = std::min(runCpu, p.cpuSeconds);
        }
        worstGap = std::max(worstGap, p.gap.ms);
        worstGapFour = std::max(worstGapFour, p.gapFourMs);
        worstGapComing = std::max(worstGapComing, p.gapTransferringMs);
        worstPeak = std::max(worstPeak, p.peakMiB);
        leastRunning = std::min(leastRunning, p.mostRunning);
    }

    const double ratio = bestCurl > 0 ? bestRun / bestCurl : 0;
    const bool rateMet = ratio >= 1.0;
    const bool gapMet = worstGapFour <= kGapTargetMs;
    const bool memoryMet = worstPeak <= kMemoryTargetMiB;
    const bool fourMet = leastRunning == kFiles;
    printLine(QStringLiteral("\nbest aggregate: 4 at once %1 MB/s, curl --parallel %2 MB/s, "
                             "ratio %3 (target at least 1.00): %4")
                  .arg(bestRun, 0, 'f', 1)
                  .arg(bestCurl, 0, 'f', 1)
                  .arg(ratio, 0, 'f', 2)
                  .arg(rateMet ? QStringLiteral("met") : QStringLiteral("MISSED")));
    printLine(QStringLiteral("least CPU: 4 at once %1 s, curl %2 s")
                  .arg(runCpu, 0, 'f', 3)
                  .arg(curlCpu, 0, 'f', 3));
    printLine(QStringLiteral("longest event-loop gap while all four ran: %1 ms (target at most "
                             "%2 ms): %3; while all four videos were coming in: %4 ms; over the "
                             "whole runs: %5 ms")
                  .arg(worstGapFour, 0, 'f', 1)
                  .arg(kGapTargetMs, 0, 'f', 0)
                  .arg(gapMet ? QStringLiteral("met") : QStringLiteral("MISSED"))
                  .arg(worstGapComing, 0, 'f', 1)
                  .arg(worstGap, 0, 'f', 1));
    printLine(QStringLiteral("peak memory of this process: %1 MiB (target at most %2 MiB): %3")
                  .arg(worstPeak, 0, 'f', 1)
                  .arg(kMemoryTargetMiB, 0, 'f', 0)
                  .arg(memoryMet ? QStringLiteral("met") : QStringLiteral("MISSED")));
    if (!fourMet)
        printLine(QStringLiteral("a run never had all four entries running at once"));
    return finish(filesOk, rateMet && gapMet && memoryMet && fourMet);
}
