#pragma once

#include "DownloadEventLog.h"
#include "support/http/ScriptServer.h"
#include "transfer/Download.h"

#include <QPointer>
#include <QTemporaryDir>

namespace orvello::test {

// A server that answers GET with `get` and HEAD with `head` (no size by default, so progress
// values are byte counts), and a Download on the heap aimed at it, saving into a scratch
// folder. A handler may delete the Download; the rig deletes it otherwise.
struct Rig {
    QTemporaryDir dir;
    ScriptServer server;
    Download* d = new Download;
    QPointer<Download> alive{d};
    DownloadEventLog log{*d};

    explicit Rig(const Reply& get, const Reply& head = Reply::Head({"HTTP/1.1 200 OK"})) {
        server.onHead(head);
        server.onGet(get);
        d->setUrl(server.url());
        d->setLocalFile(dir.filePath(QStringLiteral("out.bin")));
    }
    ~Rig() { delete alive.data(); }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;
    void Drop() { delete d; }
};

} // namespace orvello::test
