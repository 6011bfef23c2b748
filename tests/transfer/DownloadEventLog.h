#pragma once

#include "support/QtPrint.h"
#include "transfer/Download.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <initializer_list>

namespace orvello::test {

// Records the events of a Download in the order they arrive, as short texts:
// "P<value>" progress, "complete", "error:<text>", "cancelled:<bytes>".
struct DownloadEventLog {
    QStringList events;
    QList<qint32> progress;
    // Runs inside each progress handler, after the event is recorded.
    std::function<void(qint32)> onProgress;

    explicit DownloadEventLog(Download& d) {
        QObject::connect(&d, &Download::DownloadProgress, [this](qint32& value) {
            events << QStringLiteral("P%1").arg(value);
            progress << value;
            if (onProgress)
                onProgress(value);
        });
        QObject::connect(&d, &Download::DownloadComplete,
                         [this] { events << QStringLiteral("complete"); });
        QObject::connect(&d, &Download::DownloadError, [this](const QString& text) {
            events << QStringLiteral("error:") + text;
        });
        QObject::connect(&d, &Download::DownloadCancelled, [this](qint32& position) {
            events << QStringLiteral("cancelled:%1").arg(position);
        });
    }

    QString last() const { return events.isEmpty() ? QString() : events.last(); }
};

// Deterministic bytes that differ from block to block, so a lost, doubled or shifted block
// shows in the file.
inline QByteArray PatternBytes(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (qsizetype i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] = char(x & 0xff);
    }
    return data;
}

// The log's texts for these progress values, in order.
inline QStringList Progress(std::initializer_list<int> values) {
    QStringList out;
    for (int v : values)
        out << QStringLiteral("P%1").arg(v);
    return out;
}

inline QByteArray FileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Whether this process holds a descriptor open on the file.
inline bool DescriptorOpenOn(const QString& path) {
    const std::filesystem::path target = QFileInfo(path).absoluteFilePath().toStdString();
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == target)
            return true;
    }
    return false;
}

} // namespace orvello::test
