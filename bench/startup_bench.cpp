// Start-up time of the real program: from starting the process to the first frame of its
// window on a virtual X display (Xvfb). The benchmark watches the screen itself, so the
// program runs exactly as a user starts it, with nothing added for measuring.
//   startup_bench [runs]      (5 runs by default)
#include "support/VirtualDisplay.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The window is drawn once its area shows many colours (the surface's title band, text and
// controls), not just the empty screen.
bool WindowDrawn(QScreen* screen) {
    const QImage image = screen->grabWindow(0, 0, 0, 630, 535).toImage();
    return orvello::test::DistinctColours(image, image.rect(), 4) > 20;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    orvello::test::VirtualDisplay server;
    if (!server.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(server.errorString));
        return 2;
    }
    const QByteArray display = server.display.toLatin1();
    qputenv("DISPLAY", display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();

    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir home;
        const QProcessEnvironment env = server.environment(home);
        QProcess program;
        program.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        program.start(QStringLiteral(ORVELLO_PROGRAM), {});
        bool drawn = false;
        while (!drawn && clock.elapsed() < 20000 && program.state() != QProcess::NotRunning) {
            QThread::msleep(2);
            drawn = WindowDrawn(screen);
        }
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        program.kill();
        program.waitForFinished(5000);
        if (!drawn) {
            std::fprintf(stderr, "run %d: the window was not drawn\n", run + 1);
            return 1;
        }
        times.push_back(ms);
        std::printf("run %d: first frame after %.0f ms\n", run + 1, ms);
        // Let the display settle back to an empty screen before the next start.
        QThread::msleep(300);
    }
    std::sort(times.begin(), times.end());
    std::printf("start-up to first frame: median %.0f ms, fastest %.0f ms, slowest %.0f ms "
                "(%d runs; target under 500 ms)\n",
                times[times.size() / 2], times.front(), times.back(), runs);
    return 0;
}
