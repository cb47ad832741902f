// Polling against the simulated ECM at real link pacing: how close the
// program comes to the link's limit, and what it costs in processor time,
// wake-ups and memory, idle and while polling.
//   usage: polling_bench [seconds=30] [response-delay-ms=5] [simulator options...]
//   e.g.   polling_bench 30 5 --scenario usb-bunches --bunch-ms 16
#include "ui/form1.h"

#include "ui/traffic_list.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

double seconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// How often the process gave up the processor of its own accord: its wake-ups.
long voluntarySwitches() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("voluntary_ctxt_switches:"))
            return line.mid(24).trimmed().toLong();
    return 0;
}

// Processor time in the program's own code and in the kernel on its behalf.
struct Sample {
    rusage usage = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return u;
    }();
    double user = seconds(usage.ru_utime), system = seconds(usage.ru_stime), cpu = user + system;
    long switches = voluntarySwitches();
};

// A Received Data line that holds a whole exchange with a good reply header.
bool wholeExchange(const QString& line) {
    const qsizetype at = line.indexOf("F0 56 1 B9 F0 95 1 ");
    return at >= 0 && line.mid(at).split(' ', Qt::SkipEmptyParts).size() >= 71;
}

// Starts the simulator as a process of its own, so its work is not counted
// as the program's, and returns the device it printed.
QByteArray startSimulator(const std::vector<char*>& extraArgs, pid_t& pid) {
    int out[2];
    if (pipe(out) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv{const_cast<char*>(CARNOVO_SIM_PATH)};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    argv.push_back(nullptr);
    if (posix_spawn(&pid, CARNOVO_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0)
        return {};
    ::close(out[1]);
    char path[256] = {};
    FILE* simOut = fdopen(out[0], "r");
    if (!simOut || !std::fgets(path, sizeof path, simOut))
        return {};
    std::fclose(simOut);
    return QByteArray(path).trimmed();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int delayMs = argc > 2 ? std::atoi(argv[2]) : 5;
    std::string delay = std::to_string(delayMs);
    std::vector<char*> simArgs{const_cast<char*>("--delay"), delay.data()};
    for (int i = 3; i < argc; ++i)
        simArgs.push_back(argv[i]);

    pid_t simPid = 0;
    const QByteArray device = startSimulator(simArgs, simPid);
    if (device.isEmpty()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    qputenv("CARNOVO_COM1", device);

    Form1 form;
    form.show();
    auto* received = form.findChild<TrafficList*>("listreceived");
    auto* sent = form.findChild<TrafficList*>("listsent");
    auto* status = form.findChild<QLabel*>("lblconnected");

    // Idle first, once the window has settled: not connected, it should cost nothing.
    constexpr int kSettleMs = 1000;
    constexpr int kIdleMs = 3000;
    Sample idleStart, idleEnd, pollStart, pollEnd;
    QTimer::singleShot(kSettleMs, [&] { idleStart = Sample(); });
    QElapsedTimer wall, sinceConnect, sinceProbe;
    double wallSpent = 0;
    int firstLine = -1, lastLine = -1;
    qint64 longestGap = 0, boxAfter = -1;
    QString boxText;
    QTimer probe;
    probe.setInterval(250);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        // How long the window went without handling this timer: its responsiveness.
        longestGap = std::max(longestGap, sinceProbe.restart() - probe.interval());
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxAfter = sinceConnect.elapsed();
            boxText = box->text();
            probe.stop();
            box->button(QMessageBox::Ok)->click();
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        } else if (firstLine < 0 && status->text() == "Connected") {
            firstLine = received->count();
            pollStart = Sample();
            wall.start();
        } else if (firstLine >= 0 && wall.elapsed() >= seconds * 1000) {
            wallSpent = double(wall.elapsed()) / 1000;
            pollEnd = Sample();
            lastLine = received->count();
            probe.stop();
            form.findChild<QPushButton*>("cmdexit")->click();
        }
    });
    QTimer::singleShot(kSettleMs + kIdleMs, [&] {
        idleEnd = Sample();
        sinceConnect.start();
        sinceProbe.start();
        probe.start();
        form.findChild<QPushButton*>("cmdconnect")->click();
    });
    QApplication::exec();
    kill(simPid, SIGTERM);
    waitpid(simPid, nullptr, 0);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    if (boxAfter >= 0) {
        std::printf("Connect ended after %.1f s with \"%s\"\n", boxAfter / 1000.0,
                    qPrintable(boxText));
        std::printf("  longest the window did not respond  %lld ms\n", longestGap);
        std::printf("  peak memory         %ld KiB with %d received lines\n", usage.ru_maxrss,
                    received->count());
        return 0;
    }
    if (lastLine < 0) {
        std::fprintf(stderr, "never connected to the simulator\n");
        return 1;
    }
    int decoded = 0;
    for (int i = firstLine; i < lastLine; ++i)
        decoded += wholeExchange(received->line(i));

    const double idleSeconds = kIdleMs / 1000.0;
    const double limit = 1.0 / (71.0 * 10 / 8192 + delayMs / 1000.0);
    const double rate = decoded / wallSpent;
    std::printf("idle for %.1f s before Connect\n", idleSeconds);
    std::printf("  processor time      %.2f %% of one core   (target 0)\n",
                100 * (idleEnd.cpu - idleStart.cpu) / idleSeconds);
    std::printf("  wake-ups            %.1f voluntary context switches a second\n",
                double(idleEnd.switches - idleStart.switches) / idleSeconds);
    std::printf("polling for %.1f s at 8192 baud, simulator response delay %d ms", wallSpent,
                delayMs);
    for (int i = 3; i < argc; ++i)
        std::printf(" %s", argv[i]);
    std::printf("\n  replies decoded     %d (%.2f per second)\n", decoded, rate);
    std::printf("  link limit          %.2f per second\n", limit);
    std::printf("  ratio to the limit  %.3f   (target at least 0.98)\n", rate / limit);
    std::printf("  processor time      %.2f %% of one core   (target at most 1.5 %%)\n",
                100 * (pollEnd.cpu - pollStart.cpu) / wallSpent);
    std::printf("    in the program    %.2f %%, in the kernel %.2f %%\n",
                100 * (pollEnd.user - pollStart.user) / wallSpent,
                100 * (pollEnd.system - pollStart.system) / wallSpent);
    std::printf("  wake-ups            %.1f voluntary context switches a second\n",
                double(pollEnd.switches - pollStart.switches) / wallSpent);
    std::printf("  longest the window did not respond  %lld ms\n", longestGap);
    std::printf("  peak memory         %ld KiB with %d sent and %d received lines\n",
                usage.ru_maxrss, sent->count(), received->count());
    return 0;
}
