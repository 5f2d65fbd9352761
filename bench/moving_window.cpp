// The floor of the motion's cost: a bare window of the same toolkit that does what the
// stimulation window's motion asks of it and nothing else. It shows itself maximised and moves
// one 32 x 32 picture along a horizontal track across the middle of the window, one step
// each tick of a precise timer, turning at either end, as the program's picture travels.
//
//   bench_moving_window INTERVAL_MS STEPS [PICTURE]
//
// STEPS is the number of ticks from one end of the track to the other (the program takes
// (120 - speed) / 6, rounded: 9 at speed 65). PICTURE is drawn scaled to 32 x 32 (a plain
// square without it). Runs until it is ended by a signal; prints "shown WIDTH HEIGHT" once
// the window has its maximised size. Exit status: 1 bad arguments.
#include "Arguments.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kSide = 32;

} // namespace

int main(int argc, char *argv[])
{
    int interval = 0;
    int steps = 0;
    if ((argc != 3 && argc != 4) || !ParseInt(argv[1], 1, 1000, interval) ||
        !ParseInt(argv[2], 1, 1000, steps)) {
        std::fprintf(stderr, "usage: bench_moving_window INTERVAL_MS STEPS [PICTURE]\n");
        return 1;
    }
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle("Moving window");
    QPixmap picture(kSide, kSide);
    if (argc == 4 && picture.load(QString::fromLocal8Bit(argv[3])))
        picture = picture.scaled(kSide, kSide);
    else
        picture.fill(Qt::darkBlue);
    QLabel image(&window);
    image.setPixmap(picture);
    image.resize(kSide, kSide);

    int position = 0; // ticks from the start end of the track
    int direction = 1;
    bool told = false;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &window, [&] {
        // The track spans the window's width as it is now: the window manager may still be
        // giving it its maximised size.
        const int end = window.width() - kSide - 10;
        position += direction;
        if (position <= 0 || position >= steps)
            direction = -direction;
        image.move(end * position / steps, (window.height() - kSide) / 2);
        if (!told && window.isMaximized() && window.width() > kSide * 4) {
            std::printf("shown %d %d\n", window.width(), window.height());
            std::fflush(stdout);
            told = true;
        }
    });
    window.showMaximized();
    timer.start(interval);
    return QApplication::exec();
}
