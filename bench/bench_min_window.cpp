// The floor the window is compared with: a bare Qt Widgets window of the same size, with a
// 1 s clock in its status bar and, given --port PATH, a 100 ms poll of that port's input
// queue, which is all the idle window has to do.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <cstring>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    int port = -1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0) {
            port = ::open(argv[i + 1], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        }
    }

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bench Floor"));
    window.resize(514, 554);
    auto* clock = new QLabel(&window);
    window.statusBar()->addWidget(clock);
    window.setCentralWidget(new QLabel(QStringLiteral("floor"), &window));

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [port] {
        int waiting = 0;
        if (port >= 0 && ::ioctl(port, FIONREAD, &waiting) == 0 && waiting > 0) {
            char sink[1024];
            while (::read(port, sink, sizeof sink) > 0) {
            }
        }
    });
    poll.start(100);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [clock] { clock->setText(QTime::currentTime().toString()); });
    tick.start(1000);

    window.show();
    const int status = application.exec();
    if (port >= 0) {
        ::close(port);
    }
    return status;
}
