// The Stop question during a download: one list entry is run with the start command, as the
// main window runs it (the list bound to the real grid on the offscreen platform, paced as
// the window is), and once its video has come in for a while the start/stop command is given
// again. It asks "Are you sure that you want to cancel downloading?"; the answer is given as a
// modal message box gives it, from a nested event loop that stays open for 5 s, and it is No.
// The video's bytes are sampled every 10 ms, and the rate while the question is open is
// compared with the rate over the same time before it (and after it, when the file lasts).
#include "BenchSupport.h"

#include "app/DownloadGrid.h"
#include "app/FramePacer.h"
#include "common/DownloadItem.h"
#include "common/ProgramSettings.h"
#include "common/Prompter.h"
#include "common/RunState.h"
#include "list/modMain.h"
#include "scheduler/DownloadScheduler.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace orvello;
using namespace orvello::bench;

namespace {

using Seconds = std::chrono::duration<double>;

constexpr double kRateTarget = 0.10; // the rate while the question is open, within 10 %

struct Online : Connectivity {
    bool IsConnected() override { return true; }
};

// Answers the Stop question No after holding it open for `openFor` in a nested event loop, as
// QMessageBox::exec does while the user reads it; other boxes are answered at once.
struct NestedPrompter : Prompter {
    std::chrono::milliseconds openFor{5000};
    Clock::time_point opened{};
    Clock::time_point closed{};
    int questions = 0;

    MsgAnswer MsgBox(const MsgRequest& request) override {
        if (request.buttons != MsgButtons::YesNo)
            return MsgAnswer::Ok;
        ++questions;
        opened = Clock::now();
        QEventLoop loop;
        QTimer::singleShot(openFor, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
        closed = Clock::now();
        return MsgAnswer::No;
    }
};

struct Program {
    RunState run;
    NestedPrompter prompter;
    ProgramSettings settings;
    Online online;
    QWidget window;
    DownloadGrid* grid = new DownloadGrid(&window);
    modMain list{run, grid, &prompter};
    DownloadScheduler s{run, list, prompter, settings};

    Program(const QString& folder, qint64 limit) {
        settings.sDownloadDir = QDir(folder).filePath(QStringLiteral("Downloaded Videos"));
        settings.lSpeedLimit = limit;
        s.startStop.setConnectivity(online);
        new FramePacer(&window);
        window.resize(630, 535);
        grid->setGeometry(23, 177, 572, 179);
        list.FormatDownloadGrid(true);
        window.show();
        grid->ShowDownloadGrid();
    }
};

struct Sample {
    Clock::time_point at;
    qint64 bytes = 0;
};

// The bytes at `t`, interpolated between the samples around it; -1 outside the samples.
double bytesAt(const std::vector<Sample>& samples, Clock::time_point t) {
    if (samples.empty() || t < samples.front().at || t > samples.back().at)
        return -1;
    const auto after =
        std::lower_bound(samples.begin(), samples.end(), t,
                         [](const Sample& s, Clock::time_point v) { return s.at < v; });
    if (after == samples.begin())
        return double(after->bytes);
    const auto before = after - 1;
    const double span = Seconds(after->at - before->at).count();
    const double part = span > 0 ? Seconds(t - before->at).count() / span : 0;
    return double(before->bytes) + part * double(after->bytes - before->bytes);
}

// Bytes a second over [from, to], or -1 when the samples do not cover it.
double rate(const std::vector<Sample>& samples, Clock::time_point from, Clock::time_point to) {
    const double a = bytesAt(samples, from);
    const double b = bytesAt(samples, to);
    if (a < 0 || b < 0 || to <= from)
        return -1;
    return (b - a) / Seconds(to - from).count();
}

struct StopRun {
    QString problem;
    double before = -1; // bytes a second over the 5 s before the question
    double open = -1;   // while it was open
    double after = -1;  // over the 5 s after it closed
    double openSeconds = 0;
    double totalSeconds = 0;
    GapMeter::Gap gap;
    QString gapText;
};

StopRun runOnce(const QString& pageUrl, const QString& folder, qint64 size, std::uint64_t seed,
                qint64 limit, double leadSeconds, const Options& options) {
    StopRun r;
    Program p(folder, limit);
    p.list.AddUrlToList(pageUrl);
    if (p.list.Entries().size() != 1) {
        r.problem = QStringLiteral("the page address was not taken as a supported entry");
        return r;
    }
    const quint64 key = p.list.Entries()[0].Key;
    QCoreApplication::processEvents();

    std::vector<Sample> samples;
    samples.reserve(1 << 16);
    Clock::time_point firstByte{};
    bool asked = false;
    long long count = 0; // samples taken
    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    sampler.setInterval(10);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        const qint64 bytes = p.s.events.BytesSoFar(key);
        if (bytes <= 0)
            return;
        ++count;
        if (firstByte == Clock::time_point{})
            firstByte = now;
        samples.push_back({now, bytes});
        // The user presses the start/stop button again: its handler runs from the event loop.
        if (!asked && Seconds(now - firstByte).count() >= leadSeconds) {
            asked = true;
            QTimer::singleShot(0, &p.s.startStop, [&p] { p.s.startStop.cmdStartDownload_Click(); });
        }
    });

    GapMeter gaps(count);
    gaps.start();
    sampler.start();
    const auto started = Clock::now();
    p.s.startStop.cmdStartDownload_Click();
    while (p.run.bDownloading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    r.totalSeconds = Seconds(Clock::now() - started).count();
    sampler.stop();
    gaps.stop();
    r.gap = gaps.longest();
    r.gapText = gaps.describe("samples");

    const DownloadItem& entry = p.list.Entries()[0];
    if (entry.Status != EntryText::Complete) {
        r.problem = QStringLiteral("the entry ended \"%1\"").arg(entry.Status);
        return r;
    }
    r.problem = checkFile(QDir(p.settings.sDownloadDir).filePath(entry.FileName), size, seed,
                          options.verifyContent);
    if (!r.problem.isEmpty())
        return r;
    if (p.prompter.questions != 1) {
        r.problem = QStringLiteral("the question was asked %1 times").arg(p.prompter.questions);
        return r;
    }
    const auto window = p.prompter.closed - p.prompter.opened;
    r.openSeconds = Seconds(window).count();
    r.before = rate(samples, p.prompter.opened - window, p.prompter.opened);
    r.open = rate(samples, p.prompter.opened, p.prompter.closed);
    r.after = rate(samples, p.prompter.closed, p.prompter.closed + window);
    if (r.before < 0 || r.open < 0)
        r.problem = QStringLiteral("the file ended before the question closed: use a lower "
                                   "--limit or a larger --size");
    return r;
}

QString rateText(double bytesPerSecond) {
    return bytesPerSecond < 0 ? QStringLiteral("(file ended)")
                              : QStringLiteral("%1 MB/s").arg(bytesPerSecond / 1e6, 0, 'f', 2);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // --limit RATE (bytes a second, K, M or G): the run's speed limit, so that the file lasts
    // past the question; the rest are the usual options.
    QStringList args = app.arguments();
    qint64 limit = qint64(56) << 20;
    const int at = int(args.indexOf(QLatin1String("--limit")));
    if (at > 0 && at + 1 < args.size()) {
        const QString value = args[at + 1];
        limit = value == QLatin1String("0") ? 0 : parseSize(value).value_or(-1);
        args.remove(at, 2);
    }
    const bool sizeGiven = args.contains(QLatin1String("--size"));
    const std::optional<Options> parsed = parseOptions(args);
    if (!parsed || limit < 0 || (sizeGiven && parsed->sizes.size() != 1)) {
        usage("stop_bench");
        std::fprintf(stderr, "  --limit RATE  the run's speed limit, bytes a second with K, M "
                             "or G, 0 for none (default 56M)\n"
                             "  (one SIZE; default 1G; --repeat default 3)\n");
        return kExitCannotRun;
    }
    Options options = *parsed;
    if (!args.contains(QLatin1String("--repeat")))
        options.repeat = 3;
    const qint64 size = sizeGiven ? options.sizes.front() : qint64(1) << 30;

    test::NginxServer server;
    if (!startServer(server))
        return kExitCannotRun;
    const auto seed = std::uint64_t(size) + 7;
    const QString video = server.url(QStringLiteral("/media/stop.flv"));
    const QByteArray markup = "<html><head><title>stop</title></head><body><a href=\"" +
                              video.toLatin1() + "\">Download</a></body></html>";
    if (server.createFile(QStringLiteral("media/stop.flv"), size, seed).isEmpty() ||
        server.createFile(QStringLiteral("putfile.com/v/stop"), markup).isEmpty()) {
        std::fprintf(stderr, "cannot create the served files\n");
        return kExitCannotRun;
    }
    const QString pageUrl = server.url(QStringLiteral("/putfile.com/v/stop"));
    // The question comes 6 s after the first byte: 5 s to compare with, after 1 s of start.
    const double lead = 6.0;
    printLine(QStringLiteral("Stop question: nginx on 127.0.0.1:%1, file %2, speed limit %3, "
                             "question open 5 s from %4 s after the first byte, %5 run(s), "
                             "MB = 10^6 bytes")
                  .arg(server.port())
                  .arg(sizeText(size))
                  .arg(limit > 0 ? sizeText(limit) + QStringLiteral("/s") : QStringLiteral("none"))
                  .arg(lead, 0, 'f', 0)
                  .arg(options.repeat));

    bool filesOk = true;
    double worst = 0;
    double worstGap = 0;
    const QString folder = server.scratchDir() + QStringLiteral("/stop");
    for (int i = 0; i < options.repeat; ++i) {
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        if (options.freshen)
            freshenMemory(folder, size);
        const StopRun r = runOnce(pageUrl, folder, size, seed, limit, lead, options);
        QDir(folder).removeRecursively();
        if (!r.problem.isEmpty()) {
            printLine(QStringLiteral("  FAILED: ") + r.problem);
            filesOk = false;
            continue;
        }
        const double change = r.open / r.before - 1;
        worst = std::max(worst, std::abs(change));
        worstGap = std::max(worstGap, r.gap.ms);
        printLine(QStringLiteral("  before %1, while open (%2 s) %3 (%4%5 %), after %6; whole "
                                 "run %7 s, file ok")
                      .arg(rateText(r.before))
                      .arg(r.openSeconds, 0, 'f', 2)
                      .arg(rateText(r.open))
                      .arg(change >= 0 ? QStringLiteral("+") : QString())
                      .arg(change * 100, 0, 'f', 1)
                      .arg(rateText(r.after))
                      .arg(r.totalSeconds, 0, 'f', 2));
        printLine(QStringLiteral("            ") + r.gapText);
    }
    const bool met = filesOk && worst <= kRateTarget;
    printLine(QStringLiteral("\nlargest change of the rate while the question was open: %1 % "
                             "(target within %2 %): %3; longest event-loop gap %4 ms")
                  .arg(worst * 100, 0, 'f', 1)
                  .arg(kRateTarget * 100, 0, 'f', 0)
                  .arg(met ? QStringLiteral("met") : QStringLiteral("MISSED"))
                  .arg(worstGap, 0, 'f', 1));
    return finish(filesOk, met);
}
