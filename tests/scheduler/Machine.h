#pragma once

#include "common/ProgramSettings.h"
#include "common/RunState.h"
#include "list/modMain.h"
#include "resolve/EntryResolver.h"
#include "resolve/Sites.h"
#include "scheduler/DownloadScheduler.h"
#include "support/RecordingGrid.h"
#include "support/RunStateProbe.h"
#include "support/ScriptedPrompter.h"
#include "support/http/ScriptServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

namespace orvello::test {

// Runs the event loop until `done` holds or `limit` passes; whether it holds.
inline bool RunUntil(const std::function<bool()>& done,
                     std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.hasExpired(limit.count()))
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

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

struct FixedConnectivity : Connectivity {
    bool online = true;
    bool IsConnected() override { return online; }
};

// The download machinery headless: a real list with a recording grid, scripted message
// boxes, the typed changes the window is told in `changes`, and the download folder in
// `folder`.
struct Machine {
    RunState run;
    RecordingGrid grid;
    ScriptedPrompter prompter;
    ProgramSettings settings;
    FixedConnectivity connectivity;
    modMain list{run, &grid, &prompter};
    DownloadScheduler s{run, list, prompter, settings};
    // What the window is told, in order: "offered=1" (StopOffered changed), "controls=Running"
    // (and Stopped, Ended, NothingToDo), "started" (a run began), "speed=N" (N videos come in).
    QStringList changes;

    explicit Machine(const QString& folder) {
        using namespace std::chrono_literals;
        settings.sDownloadDir = QDir(folder).filePath(QStringLiteral("Downloaded Videos"));
        s.startStop.setConnectivity(connectivity);
        QObject::connect(&s.startStop, &StartStop::StopOfferedChanged,
                         [this](bool on) { changes << QStringLiteral("offered=%1").arg(int(on)); });
        QObject::connect(&s.startStop, &StartStop::ControlsChanged, [this](RunControls c) {
            static const char* const names[] = {"Running", "Stopped", "Ended", "NothingToDo"};
            changes << QStringLiteral("controls=") + QLatin1String(names[int(c)]);
        });
        QObject::connect(&s.runner, &QueueRunner::RunStarted,
                         [this] { changes << QStringLiteral("started"); });
        QObject::connect(&s.events, &TransferEvents::SpeedChanged,
                         [this](int videos, double, quint64) {
                             changes << QStringLiteral("speed=%1").arg(videos);
                         });
        s.needs.limits = {.connect = 2s, .headers = 2s, .lowSpeedTime = 2s};
        s.needs.retry.tries = 0; // one try, as the failure cases expect; resuming sets its own
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
        RunStateProbe::SetRunning(run, Key(index));
        list.FindCurrentRow();
    }
    // Resolves the entry as the run does, and waits for the outcome.
    QString Resolve(int16_t index) {
        Run(index);
        EntryResolver resolver(Key(index), list, s.needs, s.naming);
        QString link;
        bool done = false;
        QObject::connect(&resolver, &EntryResolver::Resolved, [&](quint64, const QString& l) {
            link = l;
            done = true;
        });
        resolver.ResolveEntry();
        RunUntil([&] { return done; });
        RunStateProbe::SetRunning(run, 0);
        return link;
    }
    // A page's link as the page driver finds it, waited for.
    QString GetDownloadLink(const QString& page, quint64 key = 0) {
        PageDriver pages(key, s.needs);
        QString link;
        bool done = false;
        QObject::connect(&pages, &PageDriver::LinkFound, [&](quint64, const QString& l) {
            link = l;
            done = true;
        });
        pages.GetDownloadLink(page, IdentifySite(page));
        RunUntil([&] { return done; });
        lastReason = pages.LastFailureReason();
        return link;
    }
    QString lastReason; // the last GetDownloadLink's reason
    // Where a file of this name is downloaded to.
    QString Saved(const QString& name) const { return QDir(settings.sDownloadDir).filePath(name); }
    // The start/stop operation, as the start and stop commands run it. A start waits for the
    // run it began to end, as the tests' callers expect.
    void Click() {
        const bool running = run.bDownloading();
        s.startStop.cmdStartDownload_Click();
        if (!running)
            RunUntil([this] { return !run.bDownloading(); }, std::chrono::seconds(60));
    }
    // Runs `action` once, in the first change of the list that `when` holds for.
    void OnFirst(std::function<bool(const DownloadItem&)> when, std::function<void()> action) {
        auto done = std::make_shared<bool>(false);
        list.AddObserver([this, done, when, action](const ListChange& change) {
            const DownloadItem* item = list.EntryByKey(change.key);
            if (*done || change.kind != ListChange::Kind::Changed || !item || !when(*item))
                return;
            *done = true;
            action();
        });
    }
    // Runs `action` once, as the file of the entry with this page address comes in.
    void DuringTransferOf(const QString& url, std::function<void()> action) {
        OnFirst(
            [url](const DownloadItem& e) {
                return e.PageAddress == url && (e.State == EntryState::Transferring ||
                                                e.State == EntryState::TransferringUnsized);
            },
            std::move(action));
    }
    // Runs `action` once, while the page of the entry with this address is read.
    void DuringPageOf(const QString& url, std::function<void()> action) {
        OnFirst(
            [url](const DownloadItem& e) {
                return e.PageAddress == url && e.State == EntryState::Preparing;
            },
            std::move(action));
    }
};

// Serves a PutFile page at /putfile.com/<name> naming the video /<name>.flv, which answers
// the header request with `head` and the download with `get`. Returns the page's address.
// Bytes in which every offset is told apart (a repeat or a gap shows in a comparison).
inline QByteArray DistinctBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(i * 7 % 251);
    return bytes;
}

// A file at `path` that can be continued: HEAD gives its length and ETag; a GET without a
// range sends its first `cutAt` bytes, then nothing more (a transfer a signal will end); a
// range gets the rest as a 206. Each GET's Range header (empty for none) goes to `ranges`.
inline std::function<std::optional<Reply>(const ScriptServer::Request&)>
ResumableFile(const QByteArray& path, const QByteArray& whole, qsizetype cutAt,
              QList<QByteArray>& ranges) {
    return [path, whole, cutAt, &ranges](const ScriptServer::Request& r) -> std::optional<Reply> {
        if (r.target() != path)
            return std::nullopt;
        const QByteArray etag = "ETag: \"v1\"";
        if (r.method() == "HEAD")
            return Reply::Head(
                {"HTTP/1.1 200 OK", "Content-Length: " + QByteArray::number(whole.size()), etag});
        const QByteArray range = r.header("Range");
        ranges << range;
        if (range.isEmpty()) {
            Reply first = Reply::Ok(whole, etag + "\r\n");
            first.cutAt = cutAt;
            first.after = Reply::After::Hang;
            return first;
        }
        const qint64 from = range.mid(6, range.indexOf('-') - 6).toLongLong();
        Reply rest = Reply::Head(
            {"HTTP/1.1 206 Partial Content",
             "Content-Range: bytes " + QByteArray::number(from) + "-" +
                 QByteArray::number(whole.size() - 1) + "/" + QByteArray::number(whole.size()),
             "Content-Length: " + QByteArray::number(whole.size() - from), etag});
        rest.body = whole.mid(from);
        return rest;
    };
}

inline QString ServeVideo(ScriptServer& server, const QString& name, const Reply& head,
                          const Reply& get) {
    const QByteArray path = "/" + name.toLatin1() + ".flv";
    server.onPath("GET", "/putfile.com/" + name.toLatin1(),
                  Reply::Ok(PutFilePage(server.url(QString::fromLatin1(path)))));
    server.onPath("HEAD", path, head);
    server.onPath("GET", path, get);
    return server.url("/putfile.com/" + name);
}

// A scripted server on port 80, where the redirect goes, of a loopback address of its own
// (127.x.y.z, so tests that run at the same time don't meet); null when no such port can be
// had (only root may listen on port 80).
inline std::unique_ptr<ScriptServer> ServerOnPort80() {
    for (int tries = 0; tries < 8; ++tries) {
        QRandomGenerator* random = QRandomGenerator::global();
        const quint32 address = (127u << 24) | (random->bounded(1u, 255u) << 16) |
                                (random->bounded(256u) << 8) | random->bounded(1u, 255u);
        auto server = std::make_unique<ScriptServer>(QHostAddress(address), quint16(80));
        if (server->listening())
            return server;
    }
    return nullptr;
}

// Serves a YouTube page at /youtube.com/watch?v=<id> whose player is /v/<id> on the server's
// host, and the file the redirect names (/get_video?video_id=<id>&t=T0k3n), which answers
// the header request with `head` and the download with `get`. Returns the page's address.
inline QString ServeYoutube(ScriptServer& server, const QString& id, const Reply& head,
                            const Reply& get) {
    const QByteArray host = QUrl(server.url()).host().toLatin1();
    const QByteArray page = "/youtube.com/watch?v=" + id.toLatin1();
    server.onPath("GET", page,
                  Reply::Ok("<input name=\"embed_code\" value=\"&lt;object&gt;&lt;embed "
                            "src=&quot;http://" +
                            host + "/v/" + id.toLatin1() +
                            "&amp;rel=1&quot; type=&quot;application/x-shockwave-flash&quot;"
                            "&gt;\">"));
    const QByteArray file = "/get_video?video_id=" + id.toLatin1() + "&t=T0k3n";
    server.onPath("GET", "/v/" + id.toLatin1(),
                  Reply::Head({"HTTP/1.1 303 See Other",
                               "Location: http://www.youtube.com/swf/l.swf?video_id=" +
                                   id.toLatin1() + "&t=T0k3n"}));
    server.onPath("HEAD", file, head);
    server.onPath("GET", file, get);
    return server.url(QString::fromLatin1(page));
}

} // namespace orvello::test
