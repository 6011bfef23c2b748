#pragma once

#include "cli/LineReader.h"

#include <QObject>
#include <QStringList>

namespace orvello::cli {

// The addresses of a command line in their order, "-" standing for the lines of standard
// input at its place (read as the run goes, see LineReader; a second "-" reads nothing, since
// the input has one end). The run says whether it wants more; addresses come from the event
// loop while it does.
class AddressFeed : public QObject {
    Q_OBJECT
public:
    AddressFeed(const QStringList& arguments, int input);

    void SetWanted(bool wanted);

signals:
    void address(const QString& text);
    // A line of standard input left out, and why.
    void skipped(const QString& why);
    // Every address has come.
    void ended();

private:
    void pump();

    QStringList arguments_;
    qsizetype next_ = 0; // the next argument
    LineReader input_;
    bool reading_ = false;   // the addresses come from standard input now
    bool inputRead_ = false; // standard input has ended
    bool wanted_ = false;
    bool scheduled_ = false;
    bool ended_ = false;
};

} // namespace orvello::cli
