// Long-list benchmark: how the cost of the list's work grows with the list. Adds addresses
// one by one to a shown grid, letting the window's events run (and the grid paint) after
// each add as they do after a user's add; then runs the queue over lists of several lengths,
// every entry a small page and a small video from a private nginx on loopback, and prints
// the time per entry for each length.
#include "scheduler/Machine.h"
#include "support/PaintCounter.h"
#include "support/nginx/NginxServer.h"

#include "app/DownloadGrid.h"
#include "app/FramePacer.h"
#include "list/ListEditing.h"
#include "list/modMain.h"
#include "scheduler/DownloadScheduler.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <memory>
#include <vector>

using namespace orvello;
using namespace orvello::test;

namespace {

constexpr double kGrowthTarget = 1.5; // per entry, longest list over shortest
constexpr double kAddTargetSeconds = 5.0;

struct Options {
    std::vector<int> lengths{10, 1000, 10000};
    int adds = modMain::kCapacity; // the whole list, one by one
    qint64 videoSize = 4096;
};

bool parseOptions(const QStringList& args, Options& o) {
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString value = i + 1 < args.size() ? args[i + 1] : QString();
        bool ok = false;
        if (a == QLatin1String("--lengths")) {
            o.lengths.clear();
            for (const QString& part : value.split(QLatin1Char(','))) {
                o.lengths.push_back(part.toInt(&ok));
                if (!ok || o.lengths.back() < 1 || o.lengths.back() > modMain::kCapacity)
                    return false;
            }
        } else if (a == QLatin1String("--adds")) {
            o.adds = value.toInt(&ok);
            if (!ok || o.adds < 1 || o.adds > modMain::kCapacity)
                return false;
        } else if (a == QLatin1String("--video-size")) {
            o.videoSize = value.toLongLong(&ok);
            if (!ok || o.videoSize < 1)
                return false;
        } else {
            return false;
        }
        ++i;
    }
    return true;
}

QString pageAddress(const NginxServer& nginx, int i) {
    return nginx.url(QStringLiteral("/putfile.com/p%1").arg(i));
}

// Adds `count` addresses one by one, running the window's events after each add.
bool benchAdds(const NginxServer& nginx, int count) {
    RunState run;
    ScriptedPrompter prompter;
    DownloadGrid grid;
    PaintCounter counter;
    grid.viewport()->installEventFilter(&counter);
    new FramePacer(&grid); // as the program's window has
    modMain list{run, &grid, &prompter};
    grid.resize(572, 179);
    grid.show();
    list.FormatDownloadGrid(true);
    QCoreApplication::processEvents();

    QElapsedTimer total;
    total.start();
    qint64 sliceStart = 0;
    std::printf("adding %d addresses one by one to a shown grid\n", count);
    for (int i = 0; i < count; ++i) {
        list.AddUrlToList(pageAddress(nginx, i));
        QCoreApplication::processEvents();
        if ((i + 1) % (count >= 10 ? count / 10 : 1) == 0) {
            const qint64 now = total.nsecsElapsed();
            std::printf("  entries %6d: %8.3f s in all, last slice %7.1f us per add\n", i + 1,
                        now / 1e9, (now - sliceStart) / 1e3 / (count >= 10 ? count / 10 : 1));
            sliceStart = now;
        }
    }
    const double seconds = total.nsecsElapsed() / 1e9;
    const bool complete = list.BoundRecordset() && list.BoundRecordset()->rowCount() == count;
    std::printf("  %d adds: %.3f s (target under %.0f s), %lld grid paints, grid shows all: %s\n",
                count, seconds, kAddTargetSeconds, counter.paints, complete ? "yes" : "NO");
    return complete && seconds < kAddTargetSeconds;
}

struct RunFigures {
    double seconds = 0;
    int complete = 0;
    long long paints = 0;
    QString firstProblem;    // the first entry that did not complete
    double clearSeconds = 0; // "Clear completed" on the list after the run
};

// One run of the queue over `length` entries, with the real grid shown.
RunFigures benchRun(const NginxServer& nginx, int length, const QString& folder) {
    QDir().mkpath(folder);
    RunState run;
    ScriptedPrompter prompter;
    ProgramSettings settings;
    FixedConnectivity connectivity;
    DownloadGrid grid;
    PaintCounter counter;
    grid.viewport()->installEventFilter(&counter);
    new FramePacer(&grid);
    modMain list{run, &grid, &prompter};
    DownloadScheduler s{run, list, prompter, settings};
    settings.sDownloadDir = QDir(folder).filePath(QStringLiteral("Downloaded Videos"));
    s.startStop.setConnectivity(connectivity);
    grid.resize(572, 179);
    grid.show();
    for (int i = 0; i < length; ++i)
        list.AddUrlToList(pageAddress(nginx, i));
    QCoreApplication::processEvents();

    RunFigures f;
    QElapsedTimer timer;
    timer.start();
    s.startStop.cmdStartDownload_Click();
    while (run.bDownloading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    f.seconds = timer.nsecsElapsed() / 1e9;
    for (const DownloadItem& item : list.Entries()) {
        f.complete += item.Status == EntryText::Complete ? 1 : 0;
        if (item.Status != EntryText::Complete && f.firstProblem.isEmpty())
            f.firstProblem = item.Video_URL + QStringLiteral(": ") + item.Status +
                             QStringLiteral(", ") + item.FileName;
    }
    f.paints = counter.paints;
    ListEditing editing(list);
    timer.restart();
    editing.ClearCompleted();
    f.clearSeconds = timer.nsecsElapsed() / 1e9;
    return f;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Options options;
    if (!parseOptions(app.arguments(), options)) {
        std::fprintf(stderr, "usage: list_bench [--lengths N[,N...]] [--adds N] "
                             "[--video-size BYTES]\n");
        return 2;
    }
    int pages = options.adds;
    for (int n : options.lengths)
        pages = std::max(pages, n);

    NginxServer nginx;
    // Every video address names the one small file, so the files on disk stay few.
    nginx.addServerConfig(QStringLiteral("location /v/ { rewrite ^ /video.flv break; }"));
    if (!nginx.start()) {
        std::fprintf(stderr, "nginx: %s\n", qPrintable(nginx.errorString()));
        return 2;
    }
    if (nginx.createFile(QStringLiteral("video.flv"), options.videoSize).isEmpty())
        return 2;
    for (int i = 0; i < pages; ++i) {
        const QString video = nginx.url(QStringLiteral("/v/%1.flv").arg(i));
        if (nginx.createFile(QStringLiteral("putfile.com/p%1").arg(i), PutFilePage(video))
                .isEmpty())
            return 2;
    }

    bool met = benchAdds(nginx, options.adds);

    std::printf("\nruns over lists of small pages and %lld-byte videos, grid shown\n",
                options.videoSize);
    std::printf("  %8s %10s %14s %10s %8s %16s\n", "entries", "run (s)", "per entry (ms)",
                "complete", "paints", "clear completed");
    double first = 0, last = 0;
    for (int length : options.lengths) {
        const QString folder =
            QDir(nginx.scratchDir()).filePath(QStringLiteral("run%1").arg(length));
        const RunFigures f = benchRun(nginx, length, folder);
        QDir(folder).removeRecursively();
        const double perEntry = f.seconds * 1e3 / length;
        first = first == 0 ? perEntry : first;
        last = perEntry;
        std::printf("  %8d %10.3f %14.3f %10d %8lld %14.3f s\n", length, f.seconds, perEntry,
                    f.complete, f.paints, f.clearSeconds);
        if (!f.firstProblem.isEmpty())
            std::printf("    not complete: %s\n", qPrintable(f.firstProblem));
        met &= f.complete == length;
    }
    const double growth = first > 0 ? last / first : 0;
    std::printf("  per entry, longest list over shortest: %.2f (target at most %.1f)\n", growth,
                kGrowthTarget);
    met &= growth <= kGrowthTarget;
    std::printf("%s\n", met ? "all targets met" : "a target was missed");
    return met ? 0 : 3;
}
