// SPDX-License-Identifier: GPL-3.0-or-later
// carnovo-port-probe: Carnovo's own serial control and window on a real port,
// reporting what a user cannot see, one line per event, each starting with
// the system's monotonic clock in seconds (the kernel log's clock):
//   carnovo-port-probe ports      the device behind each of COM 1 to COM 4
//   carnovo-port-probe hold N     opens COM N, sets 8192 baud, reports the rate
//                                 read back, the lock file and the FTDI latency
//                                 timer, holds the port until its input ends
//   carnovo-port-probe window N   the window (any Qt platform), COM N chosen and
//                                 Connect pressed; reports the status, the
//                                 values, every message box (and presses OK),
//                                 its own CPU time; "quit" on its input presses
//                                 Quit, "connect" presses Connect again
//   carnovo-port-probe relay N PATH
//                                 COM N at 8192 baud joined to the terminal at
//                                 PATH (a simulated ECM's --link): the ECM on a
//                                 real cable, for the device tests on hardware;
//                                 runs until a signal ends it
// For the device tests and for checking a cable on a real machine.
#include "serial/baud_rate.h"
#include "serial/linux/port_lock.h"
#include "serial/mscomm.h"
#include "ui/form1.h"
#include "ui/form1_controls.h"
#include "ui/program.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string_view>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

void report(const QString& line) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::printf("%ld.%06ld %s\n", long(now.tv_sec), now.tv_nsec / 1000, qPrintable(line));
    std::fflush(stdout);
}

long cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000L +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

QString device(int port) {
    return QFileInfo(MSComm::deviceForPort(port)).canonicalFilePath();
}

QString readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()).trimmed()
                                          : QStringLiteral("-");
}

// What the driver holds for the device: the FTDI latency timer and our lock file.
QString driverState(const QString& device) {
    const QString name = QFileInfo(device).fileName();
    return QStringLiteral("latency %1 lock %2")
        .arg(readFile(QStringLiteral("/sys/class/tty/%1/device/latency_timer").arg(name)),
             QFile::exists(PortLock().path(device)) ? "held" : "none");
}

// How many descriptors of this process lead to the device.
int openDescriptors(const QString& device) {
    int count = 0;
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
        count += fd.symLinkTarget() == device;
    return count;
}

// Calls `onLine` with each line of standard input, `onEnd` when it ends.
void readInput(QObject* owner, std::function<void(const QByteArray&)> onLine,
               std::function<void()> onEnd) {
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [=] {
        char buffer[256];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            notifier->setEnabled(false);
            return onEnd();
        }
        for (const QByteArray& line : QByteArray(buffer, int(n)).split('\n'))
            if (!line.isEmpty())
                onLine(line);
    });
}

int hold(int port) {
    MSComm control;
    control.setCommPort(port);
    try {
        control.setPortOpen(true);
        SetBaudRate(control, 8192);
        report(QStringLiteral("held %1 rate %2 %3")
                   .arg(device(port))
                   .arg(GetBaudRate(control))
                   .arg(driverState(device(port))));
    } catch (const RaisedError& error) {
        report(QStringLiteral("refused %1 %2").arg(error.number()).arg(error.description()));
        return 1;
    }
    readInput(
        &control, [](const QByteArray&) {}, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    const QString held = device(port);
    control.setPortOpen(false);
    report(QStringLiteral("closed %1").arg(driverState(held)));
    return 0;
}

// Reports each time the lock file of `device` goes, from a thread of its own:
// the window's thread may be busy right then (showing the error).
void watchLockFile(const QString& device) {
    const int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0 || inotify_add_watch(fd, QFile::encodeName(PortLock::defaultDirectory()).constData(),
                                    IN_DELETE) < 0)
        return;
    const QByteArray name = QFileInfo(PortLock().path(device)).fileName().toLocal8Bit();
    std::thread([fd, name] {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
            for (char* at = buffer; at < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if (event->len && name == event->name)
                    report("lock gone");
                at += sizeof(inotify_event) + event->len;
            }
    }).detach();
}

int relay(int port, const QString& path) {
    MSComm control;
    control.setCommPort(port);
    control.setRThreshold(1);
    const int far = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios raw{};
    if (far < 0 || tcgetattr(far, &raw) != 0) {
        report(QStringLiteral("cannot open %1").arg(path));
        return 1;
    }
    cfmakeraw(&raw);
    tcsetattr(far, TCSANOW, &raw);
    try {
        control.setPortOpen(true);
        SetBaudRate(control, 8192);
    } catch (const RaisedError& error) {
        report(QStringLiteral("refused %1 %2").arg(error.number()).arg(error.description()));
        return 1;
    }
    report(QStringLiteral("relaying %1 at %2 baud to %3")
               .arg(device(port))
               .arg(GetBaudRate(control))
               .arg(path));
    QSocketNotifier fromFar(far, QSocketNotifier::Read);
    QObject::connect(&fromFar, &QSocketNotifier::activated, [&] {
        char buffer[512];
        const ssize_t n = read(far, buffer, sizeof buffer);
        if (n > 0)
            control.Output(QByteArray(buffer, int(n)));
    });
    QObject::connect(&control, &MSComm::OnComm, [&] {
        const QByteArray bytes = control.Input();
        if (write(far, bytes.constData(), size_t(bytes.size())) != bytes.size())
            report("the terminal took fewer bytes");
    });
    readInput(
        &control, [](const QByteArray&) {}, [] { QCoreApplication::exit(0); });
    return QApplication::exec();
}

// Watches the program's window once it shows: the program itself runs, with
// its own handling of signals.
struct WindowWatch {
    QString held, shown;
    QTimer timer;
    int ticks = 0;
    long lastCpu = 0;
    QElapsedTimer sinceCpu;
};

void watchWindow(Form1& form, int port) {
    // Qt loads a message box's style and icon when it shows the first one,
    // which takes a second on an emulated machine: done before timing starts.
    QMessageBox(QMessageBox::Critical, "", "").grab();
    auto* w = new WindowWatch;
    w->held = device(port);
    QObject::connect(&form, &QObject::destroyed, [w] { delete w; });
    watchLockFile(w->held);
    auto* connect = form.findChild<QPushButton*>("cmdconnect");
    auto* quit = form.findChild<QPushButton*>("cmdexit");
    QList<QLineEdit*> boxes;
    for (const form1::Control* row : form1::valueBoxRows())
        boxes << form.findChild<QLineEdit*>(row->name);
    auto* status = form.findChild<QLabel*>("lblconnected");
    w->sinceCpu.start();
    // Light enough not to stand in the program's way on a slow machine.
    w->timer.callOnTimeout([w, boxes, status] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            box && box->isVisible()) {
            report(QStringLiteral("box %1 | open %2 %3")
                       .arg(box->text().simplified())
                       .arg(openDescriptors(w->held))
                       .arg(driverState(w->held)));
            box->button(QMessageBox::Ok)->click();
        }
        if (++w->ticks % 10 != 0)
            return;
        QStringList values;
        for (const QLineEdit* box : boxes)
            values << box->text();
        const QString now =
            status->text() + " | " + values.join(' ') + " | " + driverState(w->held);
        if (now != w->shown)
            report(QStringLiteral("status %1").arg(w->shown = now));
        if (w->sinceCpu.elapsed() >= 250) {
            const long cpu = cpuMs();
            report(QStringLiteral("cpu %1 ms in %2 ms")
                       .arg(cpu - w->lastCpu)
                       .arg(w->sinceCpu.restart()));
            w->lastCpu = cpu;
        }
    });
    w->timer.start(5);
    readInput(
        &form,
        [=](const QByteArray& line) {
            report(QStringLiteral("pressing %1").arg(QString::fromLatin1(line)));
            (line == "quit" ? quit : connect)->click();
        },
        [=] { quit->click(); });
    QObject::connect(&form, &Form1::programEnding, [] { report("ending"); });
    form.findChild<QComboBox*>("comport")->setCurrentIndex(port - 1);
    QTimer::singleShot(0, connect, &QPushButton::click);
}

} // namespace

int main(int argc, char** argv) {
    // Only the window wants a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        (argc < 2 || std::string_view(argv[1]) != "window"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && std::string_view(argv[1]) == "window") {
        const int port = std::atoi(argv[2]);
        const QString held = device(port);
        const int ended = runCarnovo(1, argv, [port](Form1& form) { watchWindow(form, port); });
        report(QStringLiteral("ended %1").arg(driverState(held)));
        return ended;
    }
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.value(1) == "ports") {
        for (int n = 1; n <= 4; ++n)
            report(QStringLiteral("COM %1 %2").arg(n).arg(MSComm::deviceForPort(n)));
        return 0;
    }
    const int port = args.value(2).toInt();
    if (args.value(1) == "relay" && args.size() == 4 && port >= 1 && port <= 4)
        return relay(port, args[3]);
    if (args.size() != 3 || port < 1 || port > 4 || args[1] != "hold") {
        std::fprintf(stderr,
                     "usage: carnovo-port-probe ports | hold|window 1-4 | relay 1-4 PATH\n");
        return 2;
    }
    return hold(port);
}
