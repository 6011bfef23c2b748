#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

namespace orvello::cli {

// The lines of a descriptor, read as the event loop runs and handed over one at a time while
// they are wanted: it reads only while a line is wanted and none is held, so it holds at most
// one read and one line whatever comes in (an endless `yes`), and never waits on the
// descriptor itself. Each line is trimmed; empty ones are left out, and so is a line longer
// than kMostBytes, whole and without being held.
class LineReader : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kMostBytes = 8192;

    explicit LineReader(int fd);
    ~LineReader() override;

    // Whether lines are wanted now. Lines come only from the event loop, never from inside
    // this call.
    void SetWanted(bool wanted);

signals:
    void line(const QString& text);
    // The line with this number (the first is 1) was longer than kMostBytes.
    void tooLong(qint64 number);
    // The descriptor's end (or a failed read), after its last line.
    void ended();

private:
    void handOver();
    void readMore();
    void take(const QByteArray& bytes);

    int fd_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QByteArray held_;       // bytes read and not yet handed over, from `from_` on
    qsizetype from_ = 0;    // where the next line starts in held_
    bool skipping_ = false; // reading past the held start of a line too long
    bool atEnd_ = false;    // the descriptor has nothing more
    bool ended_ = false;    // ended() was emitted
    bool wanted_ = false;
    bool scheduled_ = false; // a hand-over waits in the event loop
    qint64 number_ = 0;      // of the last line handed over or left out
};

} // namespace orvello::cli
