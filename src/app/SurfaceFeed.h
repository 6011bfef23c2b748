#pragma once

#include "app/UiVariables.h"
#include "scheduler/StartStop.h"

#include <QObject>
#include <QString>

namespace orvello {

class ClipboardMonitor;
class DownloadScheduler;
class modMain;
struct ProgramSettings;

// Draws the core's typed changes on the window's surface: the look of the start and stop
// controls, the page switch at a run's start, the speed badge, the address the clipboard
// watch took and the settings. The surface's variable names and the captions live here, so
// the core never knows them.
class SurfaceFeed : public QObject {
    Q_OBJECT
public:
    // The start/stop caption, as the tray menu's item carries it.
    static inline const QString kStart = QStringLiteral("Start Downloading");
    static inline const QString kStop = QStringLiteral("Stop Downloading");
    static const QString& Caption(bool stopOffered) { return stopOffered ? kStop : kStart; }
    // What the badge shows of several videos at a time: "3 downloads, 4.5 MB/s".
    static QString RunningNote(int videos, double bytesPerSecond);

    SurfaceFeed(UiVariables& ui, const modMain& list, QObject* parent = nullptr);

    // Follows the run's and the clipboard watch's changes.
    void Follow(DownloadScheduler& scheduler, ClipboardMonitor& monitor);

    void ShowControls(RunControls controls);
    // A run begins: a surface showing its About page switches back to the download page.
    void ShowRunStarted();
    // The badge: the one video's own note (`soleKey`), or how many come in and their speed.
    void ShowSpeed(int videos, double bytesPerSecond, quint64 soleKey);
    void ShowAddress(const QString& address);
    // The watch switch, the two fixed check boxes and the download folder.
    void ShowSettings(const ProgramSettings& settings);

private:
    UiVariables& ui_;
    const modMain& list_;
};

} // namespace orvello
