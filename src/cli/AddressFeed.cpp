#include "cli/AddressFeed.h"

#include <QTimer>

namespace orvello::cli {

AddressFeed::AddressFeed(const QStringList& arguments, int input)
    : arguments_(arguments), input_(input) {
    connect(&input_, &LineReader::line, this, &AddressFeed::address);
    connect(&input_, &LineReader::tooLong, this, [this](qint64 number) {
        emit skipped(QStringLiteral("Line %1 of standard input is longer than %2 bytes; it is "
                                    "left out.")
                         .arg(number)
                         .arg(LineReader::kMostBytes));
    });
    connect(&input_, &LineReader::ended, this, [this] {
        reading_ = false;
        inputRead_ = true;
        pump();
    });
}

void AddressFeed::SetWanted(bool wanted) {
    if (wanted == wanted_)
        return;
    wanted_ = wanted;
    if (reading_) {
        input_.SetWanted(wanted);
    } else if (wanted && !scheduled_ && !ended_) {
        scheduled_ = true;
        QTimer::singleShot(0, this, [this] {
            scheduled_ = false;
            pump();
        });
    }
}

// Hands over the arguments while they are wanted, up to the end or to a "-".
void AddressFeed::pump() {
    while (wanted_ && !reading_ && !ended_) {
        if (next_ >= arguments_.size()) {
            ended_ = true;
            emit ended();
            return;
        }
        const QString& argument = arguments_[next_++];
        if (argument != QLatin1String("-")) {
            emit address(argument);
        } else if (!inputRead_) {
            reading_ = true;
            input_.SetWanted(true);
        }
    }
}

} // namespace orvello::cli
