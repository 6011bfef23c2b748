#include "cli/LineReader.h"

#include "common/StopSignals.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace orvello::cli {

QStringList ReadLines(int fd) {
    QByteArray all;
    char buffer[65536];
    pollfd input = {fd, POLLIN, 0};
    while (StopSignals::Received() == 0) {
        const int ready = poll(&input, 1, 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue; // the loop's condition looks for a signal
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        all.append(buffer, n);
    }
    QStringList lines;
    for (const QByteArray& line : all.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (!text.isEmpty())
            lines << text;
    }
    return lines;
}

} // namespace orvello::cli
