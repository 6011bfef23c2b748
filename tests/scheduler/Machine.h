#pragma once

#include "common/ProgramSettings.h"
#include "common/RunState.h"
#include "common/UiVariables.h"
#include "list/modMain.h"
#include "scheduler/DownloadScheduler.h"
#include "support/RecordingGrid.h"
#include "support/ScriptedPrompter.h"
#include "support/http/ScriptServer.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <chrono>
#include <map>

namespace orvello::test {

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline QStringList Statuses(const modMain& list) {
    QStringList out;
    for (const DownloadItem& item : list.Entries())
        out << item.Status;
    return out;
}

// A PutFile page whose first flash address is `video`.
inline QByteArray PutFilePage(const QString& video) {
    return "<html><script>var ad='x';</script><a href=\"" + video.toLatin1() +
           "\">Download</a></html>";
}

// A UI surface that keeps its variables and the order they were written in.
struct RecordingSurface : UiSurface {
    std::map<QString, QString> values;
    QStringList writes; // "name=value", in order
    void SetVariable(const QString& name, const QString& value) override {
        values[name] = value;
        writes << name + QLatin1Char('=') + value;
    }
    QString GetVariable(const QString& name) override {
        const auto it = values.find(name);
        return it == values.end() ? QString() : it->second;
    }
};

struct FixedConnectivity : Connectivity {
    bool online = true;
    bool IsConnected() override { return online; }
};

// The download machinery headless: a real list with a recording grid, scripted message
// boxes, a recording UI surface, the scratch file and the download folder in `folder`.
struct Machine {
    RunState run;
    RecordingGrid grid;
    ScriptedPrompter prompter;
    RecordingSurface surface;
    UiVariables ui{&surface};
    ProgramSettings settings;
    FixedConnectivity connectivity;
    modMain list{run, &grid, &prompter};
    DownloadScheduler s{run, list, prompter, ui, settings};

    explicit Machine(const QString& folder) {
        using namespace std::chrono_literals;
        s.pages.setParseFile(QDir(folder).filePath(QStringLiteral("cache/Parse.tmp")));
        settings.sDownloadDir = QDir(folder).filePath(QStringLiteral("Downloaded Videos"));
        s.startStop.setConnectivity(connectivity);
        s.download.setLimits({.connect = 2s, .headers = 2s, .lowSpeedTime = 2s});
    }
    int16_t Add(const QString& url) {
        list.AddUrlToList(url);
        return int16_t(list.Entries().size() - 1);
    }
    const DownloadItem& Entry(int16_t index) const { return list.Entries()[std::size_t(index)]; }
    quint64 Key(int16_t index) const { return Entry(index).Key; }
    void SetState(int16_t index, EntryState state) { list.SetState(Key(index), state); }
    // Makes the entry the running one, as the run does before it resolves an entry.
    void Run(int16_t index) {
        run.currentKey = Key(index);
        list.FindCurrentRow();
    }
    QString Resolve(int16_t index) {
        Run(index);
        return s.resolver.ResolveEntry(Key(index));
    }
    // Where a file of this name is downloaded to.
    QString Saved(const QString& name) const { return QDir(settings.sDownloadDir).filePath(name); }
    // The start/stop operation, as the start and stop commands run it.
    void Click() { s.startStop.cmdStartDownload_Click(); }
};

// Serves a PutFile page at /putfile.com/<name> naming the video /<name>.flv, which answers
// the header request with `head` and the download with `get`. Returns the page's address.
inline QString ServeVideo(ScriptServer& server, const QString& name, const Reply& head,
                          const Reply& get) {
    const QByteArray path = "/" + name.toLatin1() + ".flv";
    server.onPath("GET", "/putfile.com/" + name.toLatin1(),
                  Reply::Ok(PutFilePage(server.url(QString::fromLatin1(path)))));
    server.onPath("HEAD", path, head);
    server.onPath("GET", path, get);
    return server.url("/putfile.com/" + name);
}

} // namespace orvello::test
