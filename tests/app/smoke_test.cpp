// The real program on a virtual X display: started from the build folder with its real
// surface, it draws its window (surface and grid), which a screenshot shows.
#include "common/DoEvents.h"
#include "support/VirtualDisplay.h"

#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
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

} // namespace

using orvello::test::DistinctColours;
using orvello::test::VirtualDisplay;

TEST(Smoke, TheProgramDrawsItsSurfaceAndGridOnARealDisplay) {
    VirtualDisplay server;
    if (!server.start())
        GTEST_SKIP() << server.errorString.toStdString();
    QTemporaryDir home; // settings and downloads stay in the test's folder
    const QProcessEnvironment env = server.environment(home);
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
