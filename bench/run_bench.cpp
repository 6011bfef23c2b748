// Whole-run benchmark: one list entry taken through the program's own run, from the start
// command to its "Complete" status. A private nginx on loopback serves a PutFile page naming a
// large video file on the same server, and the file itself. Per run the file is fetched once
// with the curl command line, then the page address is added to the list, which is bound to
// the real download grid (shown on the offscreen platform, so its progress cells are really
// painted), and the start command runs the entry: the page fetch, the extraction, the header
// request and the video transfer, with every status text and grid update on the way. Prints
// both throughputs, their ratio, the longest stretch without a 5 ms timer tick during the run,
// how often the grid was painted, and the process's peak memory before and during the run.
#include "BenchSupport.h"

#include "app/DownloadGrid.h"
#include "app/FramePacer.h"
#include "common/DownloadItem.h"
#include "common/ProgramSettings.h"
#include "common/RunState.h"
#include "list/modMain.h"
#include "scheduler/DownloadScheduler.h"
#include "support/ScriptedPrompter.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <sys/resource.h>

using namespace orvello;
using namespace orvello::bench;

namespace {

using Ms = std::chrono::duration<double, std::milli>;

// Counts and times the paint events of one widget (the grid's viewport, where the cell
// delegates draw), and how many of them came while the running entry's status cell held a
// percentage, which the progress delegate draws as a bar.
class PaintCountingApplication : public QApplication {
public:
    using QApplication::QApplication;

    QWidget* watched = nullptr;
    std::function<bool()> barShown;
    long long paints = 0;
    long long barPaints = 0;
    Clock::duration paintTime{};

    bool notify(QObject* receiver, QEvent* event) override {
        if (event->type() != QEvent::Paint || receiver != watched)
            return QApplication::notify(receiver, event);
        const auto start = Clock::now();
        const bool handled = QApplication::notify(receiver, event);
        paintTime += Clock::now() - start;
        ++paints;
        if (barShown && barShown())
            ++barPaints;
        return handled;
    }
};

PaintCountingApplication* App() {
    return static_cast<PaintCountingApplication*>(QCoreApplication::instance());
}

// The run is started while the computer may have no network but loopback.
struct Online : Connectivity {
    bool IsConnected() override { return true; }
};

// The main window's download machinery, composed as the window composes it: the list bound
// to the real grid, which sits where the window places it and is shown.
struct Program {
    RunState run;
    test::ScriptedPrompter prompter;
    ProgramSettings settings;
    Online online;
    QWidget window;
    DownloadGrid* grid = new DownloadGrid(&window);
    modMain list{run, grid, &prompter};
    DownloadScheduler s{run, list, prompter, settings};

    explicit Program(const QString& folder) {
        settings.sDownloadDir = QDir(folder).filePath(QStringLiteral("Downloaded Videos"));
        s.startStop.setConnectivity(online);
        new FramePacer(&window); // redrawn at most once a frame, as the main window is
        window.resize(630, 535);
        grid->setGeometry(23, 177, 572, 179);
        list.FormatDownloadGrid(true);
        window.show();
        grid->ShowDownloadGrid();
    }
};

struct WholeRunResult : SideRun {
    bool ok = false;
    double cpuSeconds = 0;
    double resolveSeconds = 0; // from the start to the video's first progress event
    long long progressEvents = 0;
    long long paints = 0;
    long long barPaints = 0;
    double paintMs = 0;
    double grabMs = 0;
    QString barCheck; // empty when the grab halfway showed the bar as drawn
    QString file;     // where the video was saved
};

// The colour of the status cell's pixel at `fraction` of its width, one pixel below its top
// edge (above the centred caption).
QColor cellPixel(const QImage& cell, double fraction) {
    return cell.pixelColor(int(fraction * (cell.width() - 1)), 1);
}

// Grabs the running entry's status cell, which shows `percent`, and checks that the part up
// to the percentage is drawn in the bar colour and the rest in the back colour.
QString checkBar(DownloadGrid& grid, int row, int percent) {
    const QModelIndex index = grid.model()->index(row, DownloadTableModel::ColStatus);
    const QRect rect = grid.visualRect(index);
    const QImage cell = grid.viewport()->grab(rect).toImage();
    const QColor bar = grid.palette().color(QPalette::Highlight);
    const QColor back = grid.palette().color(QPalette::HighlightedText);
    const QColor left = cellPixel(cell, percent / 200.0);
    const QColor right = cellPixel(cell, (100 + percent) / 200.0);
    if (left == bar && right == back)
        return QString();
    return QStringLiteral("the cell at %1% shows %2 left and %3 right, not the bar %4 on %5")
        .arg(percent)
        .arg(left.name(), right.name(), bar.name(), back.name());
}

WholeRunResult runProgram(const QString& pageUrl, const QString& folder) {
    WholeRunResult r;
    Program p(folder);
    p.list.AddUrlToList(pageUrl);
    if (p.list.Entries().size() != 1 || p.list.Entries()[0].Status != EntryText::Waiting) {
        r.problem = QStringLiteral("the page address was not taken as a supported entry");
        return r;
    }
    QCoreApplication::processEvents(); // the grid is drawn once before the run

    PaintCountingApplication& app = *App();
    app.watched = p.grid->viewport();
    app.paints = app.barPaints = 0;
    app.paintTime = {};
    app.barShown = [&p] {
        const DownloadTableModel* model = p.list.BoundRecordset();
        const modMain::RowRef& row = p.list.CurrentRow();
        if (!model || row.isNone() || row.model != model)
            return false;
        return !model->index(row.row, DownloadTableModel::ColStatus)
                    .data(DownloadTableModel::PercentRole)
                    .isNull();
    };

    Clock::time_point started;
    Clock::time_point videoStarted{};
    bool grabbed = false;
    p.list.AddObserver([&](const ListChange& change) {
        const DownloadItem* entry = p.list.EntryByKey(change.key);
        if (!entry || entry->State != EntryState::Transferring)
            return;
        ++r.progressEvents;
        const qint64 lProgress = entry->Progress;
        if (videoStarted == Clock::time_point{})
            videoStarted = Clock::now();
        // Once, halfway: the bar as the grid draws it (this grab's time is part of the run).
        if (!grabbed && lProgress >= 50 && !p.list.CurrentRow().isNone()) {
            grabbed = true;
            const auto at = Clock::now();
            r.barCheck = checkBar(*p.grid, p.list.CurrentRow().row, int(lProgress));
            r.grabMs = Ms(Clock::now() - at).count();
        }
    });

    GapMeter gaps(r.progressEvents);
    resetPeakMemory();
    r.hwmBeforeKiB = procStatusKiB("VmHWM");
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    gaps.start();
    started = Clock::now();
    p.s.startStop.cmdStartDownload_Click(); // the run goes on from the event loop
    while (p.run.bDownloading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const auto ended = Clock::now();
    gaps.stop();
    r.seconds = std::chrono::duration<double>(ended - started).count();
    r.resolveSeconds = videoStarted == Clock::time_point{}
                           ? 0
                           : std::chrono::duration<double>(videoStarted - started).count();
    r.cpuSeconds = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    r.hwmAfterKiB = procStatusKiB("VmHWM");
    r.gap = gaps.longest();
    r.gapText = gaps.describe("progress events");
    r.paints = app.paints;
    r.barPaints = app.barPaints;
    r.paintMs = Ms(app.paintTime).count();
    app.watched = nullptr;
    app.barShown = nullptr;

    const DownloadItem& entry = p.list.Entries()[0];
    r.file = QDir(p.settings.sDownloadDir).filePath(entry.FileName);
    if (entry.Status != EntryText::Complete) {
        r.problem = QStringLiteral("the entry ended \"%1\" (%2, %3)")
                        .arg(entry.Status, entry.FileName, entry.FileSize);
        return r;
    }
    if (!grabbed)
        r.barCheck = QStringLiteral("no progress cell was grabbed");
    r.ok = true;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    PaintCountingApplication app(argc, argv);
    QString pageUrl;
    return compareWithCurl(
        app.arguments(),
        {"run_bench", "Whole-run benchmark", "run", "run",
         [&](test::NginxServer& nginx, qint64 size, const QString& videoUrl) {
             // The shape of a PutFile page: the player's file is the first flash address on it.
             const QString page = QStringLiteral("putfile.com/v/run-%1").arg(size);
             const QByteArray markup = "<html><head><title>run</title></head><body><a href=\"" +
                                       videoUrl.toLatin1() + "\">Download</a></body></html>";
             pageUrl = nginx.url(QLatin1Char('/') + page);
             return !nginx.createFile(page, markup).isEmpty();
         },
         [&](test::NginxServer& server, const Options& options, qint64 size, std::uint64_t seed,
             const QString&) -> SideRun {
             const QString folder = server.scratchDir() + QStringLiteral("/run");
             QDir(folder).removeRecursively();
             QDir().mkpath(folder); // the download folder is made in it, as in the home folder
             WholeRunResult w = runProgram(pageUrl, folder);
             if (w.ok)
                 w.problem = checkFile(w.file, size, seed, options.verifyContent);
             // A grid that was never painted with the bar did not show the run.
             if (w.problem.isEmpty() && w.barPaints == 0)
                 w.problem = QStringLiteral("the grid was never painted with the progress bar");
             if (w.problem.isEmpty() && !w.barCheck.isEmpty())
                 w.problem = w.barCheck;
             QDir(folder).removeRecursively();
             printLine(QStringLiteral("  run       %1 MB/s  (%2 s, of it %3 s to the first "
                                      "video byte; CPU %4 s)  %5; %6 progress events")
                           .arg(mbPerSecond(size, w.seconds), 8, 'f', 1)
                           .arg(w.seconds, 0, 'f', 3)
                           .arg(w.resolveSeconds, 0, 'f', 3)
                           .arg(w.cpuSeconds, 0, 'f', 3)
                           .arg(w.problem.isEmpty() ? QStringLiteral("Complete, file ok")
                                                    : QStringLiteral("FAILED: ") + w.problem)
                           .arg(w.progressEvents));
             printLine(QStringLiteral("            grid painted %1 times (%2 with the progress "
                                      "bar), %3 ms in all; the bar halfway: %4 (grab %5 ms)")
                           .arg(w.paints)
                           .arg(w.barPaints)
                           .arg(w.paintMs, 0, 'f', 1)
                           .arg(w.barCheck.isEmpty() ? QStringLiteral("drawn")
                                                     : QStringLiteral("WRONG: ") + w.barCheck)
                           .arg(w.grabMs, 0, 'f', 1));
             return w;
         }});
}
