#pragma once

#include "common/DownloadItem.h"

#include <QString>

#include <cstdio>
#include <functional>
#include <vector>

namespace orvello::cli {

// What the live line shows of the running entry.
struct LiveView {
    QString site; // the site's domain ("putfile.com")
    QString name; // the entry's file name as it stands
    EntryState state = EntryState::Waiting;
    qint64 progress = 0;       // DownloadItem::Progress
    QString sizeText;          // the file's size as the list shows it ("2.6 MB", "????")
    qint64 bytesSoFar = 0;     // of the file, while it comes in
    QString note;              // speed and time left ("1.2 MB/s, 35 s left")
    qint64 expectedBytes = -1; // DownloadItem::ExpectedBytes: the file's length, -1 unknown
};

// The running entry on one terminal line of fewer than `width` characters: the site, the
// name, then while the file comes in a bar, the percentage, the size so far of the whole, the
// speed and the time left (only the size so far when the whole is unknown or already passed);
// before that the entry's status text. When the line is short, the
// name gives way to 16 characters, then the bar to 8 cells, then the site goes, then the
// name shrinks on and the line loses its end.
QString LiveLine(const LiveView& view, int width);

// The line a finished entry leaves, fields separated by tabs: "Complete", the size text and
// the saved path; for any other end the status, the size text, the page address and the
// reason.
QString FinishedLine(const DownloadItem& entry);

// An address no site knows, in the same form as a failure.
QString UnsupportedLine(const QString& address);

// Where the program's lines go. Completions go to `out`, failures and messages to `err`; on a
// terminal the running entries' live lines, one each, are redrawn in place on `out` (as many
// as the terminal has rows for, less one), and each final line is written above them. With
// `quiet` only failures and messages are written.
//
// A write that fails (a pipe whose reader has gone, a full disk) is told to the handler given
// to OnWriteError, once; nothing more goes to that stream.
class ConsoleReport {
public:
    ConsoleReport(std::FILE* out, std::FILE* err, bool terminal, bool quiet);

    bool Terminal() const { return terminal_; }
    // Draws these live lines in place of the ones drawn before; none clears them.
    void Live(const std::vector<LiveView>& views);
    void Finished(const DownloadItem& entry);
    void Unsupported(const QString& address);
    // "orvello-get: <text>" on err.
    void Message(const QString& text);
    // What is wrong with the command line, and where to read more, on err.
    void UsageError(const QString& why);
    // Lines of text on out, also with `quiet` (--help, --version).
    void Print(const QString& text);

    void OnWriteError(std::function<void()> handler) { onWriteError_ = std::move(handler); }
    // What failed to be written and why ("Standard output can't be written: Broken pipe."),
    // empty while every write went through.
    const QString& WriteError() const { return writeError_; }

private:
    void clearLive();
    void write(std::FILE* stream, const QString& line);
    // Writes and flushes the bytes; false, with the failure noted, when they don't go out.
    bool put(std::FILE* stream, const QByteArray& bytes);

    std::FILE* out_;
    std::FILE* err_;
    bool terminal_;
    bool quiet_;
    int liveLines_ = 0; // the live lines on the terminal, the cursor on the last
    bool outFailed_ = false;
    bool errFailed_ = false;
    QString writeError_;
    std::function<void()> onWriteError_;
};

// The columns of the terminal on this descriptor (COLUMNS, else 80, when it can't be asked).
int TerminalWidth(int fd);
// Its rows (LINES, else 24, when it can't be asked).
int TerminalRows(int fd);

} // namespace orvello::cli
