// The real program on a virtual X display: started from the build folder with its real
// surface, it draws its window (surface and grid), which a screenshot shows.
#include "common/DoEvents.h"

#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// A process that is ended when the test ends.
struct Child {
    QProcess process;
    ~Child() {
        process.kill();
        process.waitForFinished(3000);
    }
};

int DistinctColours(const QImage& image, const QRect& area) {
    QSet<QRgb> colours;
    for (int y = area.top(); y <= area.bottom(); y += 3)
        for (int x = area.left(); x <= area.right(); x += 3)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

} // namespace

TEST(Smoke, TheProgramDrawsItsSurfaceAndGridOnARealDisplay) {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        GTEST_SKIP() << "Xvfb is not installed (./setup.sh installs it)";
    QTemporaryDir home;
    Child server;
    // -displayfd writes the number of a free display once the server accepts clients.
    server.process.start(xvfb,
                         {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
    ASSERT_TRUE(server.process.waitForReadyRead(10000)) << "Xvfb did not start";
    const QString display = ":" + QString::fromLatin1(server.process.readLine().trimmed());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("HOME", home.path()); // settings and downloads stay in the test's folder
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_CACHE_HOME", home.filePath("cache"));
    env.insert("XDG_RUNTIME_DIR", home.path());
    Child program;
    program.process.setProcessEnvironment(env);
    program.process.setProcessChannelMode(QProcess::ForwardedChannels);
    program.process.start(QStringLiteral(ORVELLO_PROGRAM), {});
    ASSERT_TRUE(program.process.waitForStarted(5000));

    // Take pictures until the window shows (or ten seconds pass).
    const QString shot = QStringLiteral(ORVELLO_SCREENSHOT);
    QImage image;
    QElapsedTimer clock;
    clock.start();
    const QRect window(0, 0, 630, 535);
    while (clock.elapsed() < 10000) {
        orvello::WaitForEvents(300ms);
        ASSERT_EQ(program.process.state(), QProcess::Running) << "the program ended early";
        QProcess grab;
        grab.setProcessEnvironment(env);
        grab.start(QStringLiteral(ORVELLO_GRAB), {shot});
        if (grab.waitForFinished(5000) && grab.exitCode() == 0 && image.load(shot) &&
            DistinctColours(image, window) > 20)
            break;
    }
    ASSERT_FALSE(image.isNull()) << "no screenshot";
    EXPECT_GT(DistinctColours(image, window), 20)
        << "the window is blank: see " << shot.toStdString();
    // The grid's area (its background colour) shows on the Download page.
    const QRect grid(23, 177, 572, 179);
    int gridBackground = 0;
    for (int y = grid.top(); y <= grid.bottom(); y += 4)
        for (int x = grid.left(); x <= grid.right(); x += 4)
            gridBackground += image.pixelColor(x, y) == QColor(207, 221, 99);
    EXPECT_GT(gridBackground, 50) << "no grid drawn: see " << shot.toStdString();
}
