#include "SurfaceFeed.h"

#include "common/ProgramSettings.h"
#include "list/Formatting.h"
#include "list/modMain.h"
#include "monitor/ClipboardMonitor.h"
#include "scheduler/DownloadScheduler.h"

namespace orvello {

namespace {
const QString kOn = QStringLiteral("1");
const QString kOff = QStringLiteral("0");
} // namespace

QString SurfaceFeed::RunningNote(int videos, double bytesPerSecond) {
    return QStringLiteral("%1 downloads, ").arg(videos) + FormatFileSize(float(bytesPerSecond)) +
           QStringLiteral("/s");
}

SurfaceFeed::SurfaceFeed(UiVariables& ui, const modMain& list, QObject* parent)
    : QObject(parent), ui_(ui), list_(list) {}

void SurfaceFeed::Follow(DownloadScheduler& scheduler, ClipboardMonitor& monitor) {
    connect(&scheduler.startStop, &StartStop::ControlsChanged, this, &SurfaceFeed::ShowControls);
    connect(&scheduler.runner, &QueueRunner::RunStarted, this, &SurfaceFeed::ShowRunStarted);
    connect(&scheduler.events, &TransferEvents::SpeedChanged, this, &SurfaceFeed::ShowSpeed);
    connect(&monitor, &ClipboardMonitor::AddressTaken, this, &SurfaceFeed::ShowAddress);
}

// Three variables switch the surface between its idle and running look. A run that ends by
// itself lets go of the start control first, a stop of the button first.
void SurfaceFeed::ShowControls(RunControls controls) {
    const QString startDownload = QStringLiteral("_root.startDownload");
    const QString downloadBtn = QStringLiteral("_root.downloadBtn");
    const QString downloadTab = QStringLiteral("_root.downloadTab");
    switch (controls) {
    case RunControls::Running:
    case RunControls::Stopped: {
        const QString& v = controls == RunControls::Running ? kOff : kOn;
        ui_.SetUiVariable(downloadBtn, v);
        ui_.SetUiVariable(startDownload, v);
        ui_.SetUiVariable(downloadTab, v);
        break;
    }
    case RunControls::Ended:
        ui_.SetUiVariable(startDownload, kOn);
        ui_.SetUiVariable(downloadBtn, kOn);
        ui_.SetUiVariable(downloadTab, kOn);
        break;
    case RunControls::NothingToDo:
        ui_.SetUiVariable(startDownload, kOn);
        break;
    }
}

void SurfaceFeed::ShowRunStarted() {
    if (ui_.sCurrentTab == QLatin1String("About"))
        ui_.SetUiVariable(QStringLiteral("_root.downloadBtnTab"), kOn);
}

void SurfaceFeed::ShowSpeed(int videos, double bytesPerSecond, quint64 soleKey) {
    QString note;
    if (videos == 1) {
        if (const DownloadItem* entry = list_.EntryByKey(soleKey))
            note = entry->TransferNote;
    } else if (videos > 1) {
        note = RunningNote(videos, bytesPerSecond);
    }
    ui_.SetUiVariable(QStringLiteral("_root.downloadSpeed"), note);
}

void SurfaceFeed::ShowAddress(const QString& address) {
    ui_.SetUiVariable(QStringLiteral("_root.video_url"), address);
}

void SurfaceFeed::ShowSettings(const ProgramSettings& settings) {
    ui_.SetUiVariable(QStringLiteral("_root.autoToDownloadList_CB"),
                      settings.bMonitorClipboard ? kOn : kOff);
    ui_.SetUiVariable(QStringLiteral("_root.Download_CB"), kOn);
    ui_.SetUiVariable(QStringLiteral("_root.Convert_CB"), kOn);
    ui_.SetUiVariable(QStringLiteral("_root.download_dir"), settings.sDownloadDir);
}

} // namespace orvello
