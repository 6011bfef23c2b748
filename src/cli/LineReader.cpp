#include "cli/LineReader.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <unistd.h>

namespace orvello::cli {

namespace {

// One read's most: a few lines at a time, so the loop stays quick while lines pour in.
constexpr qsizetype kReadBytes = 4096;

} // namespace

LineReader::LineReader(int fd) : fd_(fd) {}

LineReader::~LineReader() = default;

void LineReader::SetWanted(bool wanted) {
    if (wanted == wanted_)
        return; // a hand-over is under way, or the descriptor is watched
    wanted_ = wanted;
    if (!wanted) {
        if (notifier_)
            notifier_->setEnabled(false);
        return;
    }
    if (scheduled_ || ended_)
        return;
    // From the event loop: the receiver of a line may ask for the next one while it handles
    // this one.
    scheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        scheduled_ = false;
        handOver();
    });
}

// Hands over the whole lines held while they are wanted; when none is held, waits for the
// descriptor.
void LineReader::handOver() {
    while (wanted_ && !ended_) {
        const qsizetype end = held_.indexOf('\n', from_);
        if (end >= 0) {
            const qsizetype start = from_;
            from_ = end + 1;
            take(held_.mid(start, end - start));
            continue;
        }
        if (atEnd_) {
            if (from_ < held_.size())
                take(held_.mid(from_)); // the last line, without its newline
            held_.clear();
            from_ = 0;
            ended_ = true;
            emit ended();
            return;
        }
        if (!notifier_) {
            notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
            connect(notifier_.get(), &QSocketNotifier::activated, this, &LineReader::readMore);
        }
        notifier_->setEnabled(true);
        return;
    }
}

void LineReader::readMore() {
    notifier_->setEnabled(false);
    held_.remove(0, from_);
    from_ = 0;
    char bytes[kReadBytes];
    // The descriptor is readable, so this does not wait (it is left blocking: it may be the
    // terminal the shell shares).
    const ssize_t n = read(fd_, bytes, sizeof bytes);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        notifier_->setEnabled(wanted_);
        return;
    }
    if (n <= 0) {
        atEnd_ = true;
    } else {
        QByteArrayView rest(bytes, n);
        if (skipping_) { // the rest of a line too long, up to the newline that ends it
            const qsizetype end = rest.indexOf('\n');
            rest = end < 0 ? QByteArrayView() : rest.sliced(end);
            skipping_ = end < 0;
        }
        held_.append(rest);
        // An unfinished line already too long keeps one byte over the limit, enough to be
        // told when its turn comes, and the rest of it is not held.
        const qsizetype tail = held_.lastIndexOf('\n') + 1;
        if (held_.size() - tail > kMostBytes) {
            held_.truncate(tail + kMostBytes + 1);
            skipping_ = true;
        }
    }
    handOver();
}

void LineReader::take(const QByteArray& bytes) {
    ++number_;
    if (bytes.size() > kMostBytes) {
        emit tooLong(number_);
        return;
    }
    const QString text = QString::fromUtf8(bytes).trimmed();
    if (!text.isEmpty())
        emit line(text);
}

} // namespace orvello::cli
