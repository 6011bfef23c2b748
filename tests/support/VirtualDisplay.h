#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace orvello::test {

// A private virtual X display (Xvfb) on a free display number, ended with the object, for
// running the real program as a user would and looking at what it draws.
class VirtualDisplay {
public:
    // Ended politely first, so the server removes its lock file and socket: one killed
    // outright leaves them behind for the next server that takes the same number.
    ~VirtualDisplay() {
        server_.terminate();
        if (!server_.waitForFinished(3000)) {
            server_.kill();
            server_.waitForFinished(3000);
        }
    }

    // False, with the reason in errorString, when Xvfb is missing or does not start.
    bool start() {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty()) {
            errorString = QStringLiteral("Xvfb is not installed (./setup.sh installs it)");
            return false;
        }
        // -displayfd writes the number of a free display once the server accepts clients.
        // -noreset: a client that leaves (a look at the screen) does not make the server
        // start afresh, which would close the connection of a program just connecting.
        server_.start(xvfb, {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp",
                             "-noreset"});
        if (!server_.waitForReadyRead(10000)) {
            errorString = QStringLiteral("Xvfb did not start");
            return false;
        }
        display = ":" + QString::fromLatin1(server_.readLine().trimmed());
        return true;
    }

    // The environment of a program shown on this display, with its settings, cache and
    // downloads in `home`.
    QProcessEnvironment environment(const QTemporaryDir& home) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("XDG_CACHE_HOME", home.filePath("cache"));
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        env.insert("XDG_RUNTIME_DIR", home.path());
        return env;
    }

    QString display; // ":<number>" once started
    QString errorString;

private:
    QProcess server_;
};

// How many different colours a sample of every `step`-th pixel of `area` holds: an empty or
// blank window shows a few, a drawn one many.
inline int DistinctColours(const QImage& image, const QRect& area, int step = 3) {
    QSet<QRgb> colours;
    for (int y = area.top(); y <= area.bottom() && y < image.height(); y += step)
        for (int x = area.left(); x <= area.right() && x < image.width(); x += step)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

} // namespace orvello::test
