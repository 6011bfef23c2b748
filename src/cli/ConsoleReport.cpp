#include "cli/ConsoleReport.h"

#include "list/EntryStatus.h"
#include "list/Formatting.h"
#include "resolve/Sites.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <utility>

namespace orvello::cli {

namespace {

// The bar's cells: as many as fit up to the most, never fewer than the least.
constexpr int kMostBarCells = 20;
constexpr int kLeastBarCells = 8;
// Below this many characters for the name, the bar shrinks, and then the site goes.
constexpr qsizetype kNameRoom = 16;
const QString kGap = QStringLiteral("  ");

QString Bar(qint64 percent, int cells) {
    const int filled = int(std::clamp<qint64>(percent, 0, 100) * cells / 100);
    return QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
           QString(cells - filled, QLatin1Char('-')) + QLatin1Char(']');
}

// The name cut to `room` characters, its end kept (the extension tells most).
QString Shorten(const QString& name, qsizetype room) {
    if (name.size() <= room)
        return name;
    if (room <= 3)
        return name.left(std::max<qsizetype>(room, 0));
    const qsizetype head = (room - 3) / 2;
    return name.left(head) + QStringLiteral("...") + name.right(room - 3 - head);
}

QString Or(const QString& text, const QString& fallback) {
    return text.isEmpty() ? fallback : text;
}

// The text with every control character but the tab made visible as '?': a name or an
// address never moves the cursor or starts an escape sequence on the user's terminal.
QString Printable(QString text) {
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\t'))
            c = QLatin1Char('?');
    return text;
}

} // namespace

QString LiveLine(const LiveView& view, int width) {
    const bool receiving =
        view.state == EntryState::Transferring || view.state == EntryState::TransferringUnsized;
    // A length the server did not give, or one the data has outgrown (an error page in place
    // of the file), is no whole to measure against: the size so far stands alone.
    const bool sized = view.state == EntryState::Transferring && view.expectedBytes >= 0 &&
                       view.bytesSoFar <= view.expectedBytes && view.progress >= 0 &&
                       view.progress <= 100;
    QStringList tail;
    if (sized)
        tail << QStringLiteral("%1%").arg(view.progress, 3)
             << FormatFileSize(float(view.bytesSoFar)) + QStringLiteral(" of ") + view.sizeText;
    else if (receiving)
        tail << FormatFileSize(float(view.bytesSoFar)) + QStringLiteral(" so far");
    else
        tail << EntryStatusText(view.state, view.progress);
    if (receiving && !view.note.isEmpty())
        tail << view.note;
    const QString right = tail.join(kGap);

    // What is left for the name once the rest is there; the bar, then the site give way
    // when it is short.
    const qsizetype line = std::max(width - 1, 1);
    QString site = view.site + kGap;
    int cells = sized ? kMostBarCells : 0;
    auto room = [&] {
        return line - site.size() - kGap.size() - right.size() -
               (cells > 0 ? cells + 2 + kGap.size() : 0);
    };
    if (room() < kNameRoom && cells > 0)
        cells = int(std::max<qsizetype>(kLeastBarCells, cells - (kNameRoom - room())));
    if (room() < kNameRoom)
        site.clear();
    QString text = site + Shorten(view.name, std::max<qsizetype>(room(), 8)) + kGap;
    if (cells > 0)
        text += Bar(view.progress, cells) + kGap;
    // A terminal narrower than the rest loses the line's end rather than wrapping it.
    return (text + right).left(line);
}

QString FinishedLine(const DownloadItem& entry) {
    const QString status = EntryStatusText(entry.State, entry.Progress);
    const QString size = Or(entry.FileSize, EntryText::UnknownSize);
    if (entry.State == EntryState::Complete)
        return QStringList{status, size, entry.SavedPath}.join(QLatin1Char('\t'));
    QStringList fields{status, size, Or(entry.PageAddress, entry.Video_URL)};
    if (entry.State == EntryState::Cancelled)
        fields << QStringLiteral("Stopped before the file was complete.");
    else
        fields << Or(entry.Reason, QStringLiteral("The download failed."));
    return fields.join(QLatin1Char('\t'));
}

QString UnsupportedLine(const QString& address) {
    return QStringList{EntryText::LinkNotSupported, EntryText::UnknownSize, address,
                       QStringLiteral("No supported site has this address; --any-site looks "
                                      "for a video on any page.")}
        .join(QLatin1Char('\t'));
}

ConsoleReport::ConsoleReport(std::FILE* out, std::FILE* err, bool terminal, bool quiet)
    : out_(out), err_(err), terminal_(terminal), quiet_(quiet) {}

// The cursor goes back to the first live line, each line is written over the old one and
// cleared to its end, and the old lines left below the new ones are cleared.
void ConsoleReport::Live(const std::vector<LiveView>& views) {
    if (!terminal_ || quiet_)
        return;
    if (views.empty()) {
        clearLive();
        return;
    }
    const int fd = fileno(out_);
    const int width = TerminalWidth(fd);
    const int lines = int(std::min<std::size_t>(views.size(), std::max(TerminalRows(fd) - 1, 1)));
    QByteArray bytes = "\r";
    if (liveLines_ > 1)
        bytes += "\x1b[" + QByteArray::number(liveLines_ - 1) + 'A';
    for (int i = 0; i < lines; ++i) {
        if (i > 0)
            bytes += '\n';
        bytes += (Printable(LiveLine(views[std::size_t(i)], width)) + "\x1b[K").toUtf8();
    }
    if (lines < liveLines_)
        bytes += "\x1b[J";
    liveLines_ = put(out_, bytes) ? lines : 0;
}

void ConsoleReport::Finished(const DownloadItem& entry) {
    if (entry.State != EntryState::Complete)
        write(err_, FinishedLine(entry));
    else if (!quiet_)
        write(out_, FinishedLine(entry));
}

void ConsoleReport::Unsupported(const QString& address) {
    write(err_, UnsupportedLine(address));
}

void ConsoleReport::Message(const QString& text) {
    write(err_, QStringLiteral("orvello-get: ") + text);
}

void ConsoleReport::UsageError(const QString& why) {
    Message(why);
    write(err_, QStringLiteral("Try 'orvello-get --help' for more information."));
}

void ConsoleReport::Print(const QString& text) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    // A text that ends its last line leaves no empty line after it.
    for (qsizetype i = 0; i < lines.size() - (text.endsWith(QLatin1Char('\n')) ? 1 : 0); ++i)
        write(out_, lines[i]);
}

void ConsoleReport::clearLive() {
    if (liveLines_ == 0)
        return;
    const int lines = std::exchange(liveLines_, 0);
    put(out_, lines == 1 ? QByteArray("\r\x1b[K")
                         : "\r\x1b[" + QByteArray::number(lines - 1) + "A\x1b[J");
}

void ConsoleReport::write(std::FILE* stream, const QString& line) {
    clearLive();
    put(stream, (Printable(line) + QLatin1Char('\n')).toUtf8());
}

bool ConsoleReport::put(std::FILE* stream, const QByteArray& bytes) {
    bool& failed = stream == out_ ? outFailed_ : errFailed_;
    if (failed)
        return false;
    const bool written = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream) ==
                             std::size_t(bytes.size()) &&
                         std::fflush(stream) == 0;
    if (written)
        return true;
    const int error = errno;
    failed = true;
    std::clearerr(stream);
    if (!writeError_.isEmpty())
        return false; // the first failure is the one told
    writeError_ = QStringLiteral("%1 can't be written: %2.")
                      .arg(stream == out_ ? QStringLiteral("Standard output")
                                          : QStringLiteral("Standard error"),
                           QString::fromLocal8Bit(std::strerror(error)));
    if (onWriteError_)
        onWriteError_();
    return false;
}

int TerminalWidth(int fd) {
    winsize size = {};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    bool ok = false;
    const int columns = qEnvironmentVariableIntValue("COLUMNS", &ok);
    return ok && columns > 0 ? columns : 80;
}

int TerminalRows(int fd) {
    winsize size = {};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0)
        return size.ws_row;
    bool ok = false;
    const int rows = qEnvironmentVariableIntValue("LINES", &ok);
    return ok && rows > 0 ? rows : 24;
}

} // namespace orvello::cli
