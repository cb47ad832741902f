// SPDX-License-Identifier: GPL-3.0-or-later
// Polling against the simulated ECM at real link pacing: how close the
// program comes to the link's limit, and what it costs in processor time,
// wake-ups and memory, idle and while polling.
//   usage: polling_bench [seconds=30] [response-delay-ms=5] [simulator options...]
//   e.g.   polling_bench 30 5 --scenario usb-bunches --bunch-ms 16
// With simulator options it polls a clean line first, in the same run, and
// compares the two. CARNOVO_BENCH_DEVICES="/dev/ttyUSB0 /dev/ttyS1" then
// polls through each device, wired to a simulator elsewhere (scripts/ci/in-vm).
#include "ui/form1.h"

#include "ui/traffic_list.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <numeric>
#include <optional>
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

// A Received Data line that holds a whole exchange whose reply is verified:
// the reply header behind the echoed request, and 67 bytes summing to a
// multiple of 256. Only such a reply is decoded.
bool verifiedExchange(const QString& line) {
    QByteArray bytes;
    for (const QString& group : line.split(' ', Qt::SkipEmptyParts))
        bytes += char(group.toInt(nullptr, 16));
    // Judged here, not by the program's own test: a bench that borrowed it
    // would count whatever that test let through.
    const qsizetype at = bytes.indexOf(QByteArray::fromHex("F05601B9F09501"));
    const QByteArray reply = at >= 0 ? bytes.mid(at + 4, 67) : QByteArray();
    const int sum = std::accumulate(reply.begin(), reply.end(), 0, [](int s, char c) {
        return s + static_cast<unsigned char>(c);
    });
    return reply.size() == 67 && sum % 256 == 0;
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

constexpr int kSettleMs = 1000;
constexpr int kIdleMs = 3000;

struct Figures {
    Sample idleStart, idleEnd, pollStart, pollEnd;
    double wallSpent = 0;
    int decoded = 0, sentLines = 0, receivedLines = 0;
    qint64 longestUnresponsive = 0, longestBetweenReplies = 0, boxAfter = -1;
    QString boxText;
};

// Connect, then poll for `seconds` against a simulator started with `simArgs`,
// or through `through`, a device wired to a simulator elsewhere.
std::optional<Figures> runLine(const std::vector<char*>& simArgs, int seconds,
                               const QByteArray& through = {}) {
    pid_t simPid = 0;
    const QByteArray device = through.isEmpty() ? startSimulator(simArgs, simPid) : through;
    if (device.isEmpty()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return std::nullopt;
    }
    qputenv("CARNOVO_COM1", device);

    Figures f;
    Form1 form;
    form.show();
    auto* received = form.findChild<TrafficList*>("listreceived");
    auto* sent = form.findChild<TrafficList*>("listsent");
    auto* status = form.findChild<QLabel*>("lblconnected");

    // Idle first, once the window has settled: not connected, it should cost nothing.
    QTimer::singleShot(kSettleMs, [&] { f.idleStart = Sample(); });
    QElapsedTimer wall, sinceConnect, sinceProbe;
    int firstLine = -1, lastLine = -1;
    qint64 lastReply = -1;
    // The received list's range grows with every line once it scrolls: time each decoded reply.
    QObject::connect(received->verticalScrollBar(), &QScrollBar::rangeChanged, [&] {
        if (firstLine < 0 || lastLine >= 0 ||
            !verifiedExchange(received->line(received->count() - 1)))
            return;
        const qint64 now = wall.elapsed();
        if (lastReply >= 0)
            f.longestBetweenReplies = std::max(f.longestBetweenReplies, now - lastReply);
        lastReply = now;
    });
    QTimer probe;
    probe.setInterval(250);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        // How long the window went without handling this timer: its responsiveness.
        f.longestUnresponsive =
            std::max(f.longestUnresponsive, sinceProbe.restart() - probe.interval());
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            f.boxAfter = sinceConnect.elapsed();
            f.boxText = box->text();
            probe.stop();
            box->button(QMessageBox::Ok)->click();
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        } else if (firstLine < 0 && status->text() == "Connected") {
            firstLine = received->count();
            f.pollStart = Sample();
            wall.start();
        } else if (firstLine >= 0 && wall.elapsed() >= seconds * 1000) {
            f.wallSpent = double(wall.elapsed()) / 1000;
            f.pollEnd = Sample();
            lastLine = received->count();
            probe.stop();
            form.findChild<QPushButton*>("cmdexit")->click();
        }
    });
    QTimer::singleShot(kSettleMs + kIdleMs, [&] {
        f.idleEnd = Sample();
        sinceConnect.start();
        sinceProbe.start();
        probe.start();
        form.findChild<QPushButton*>("cmdconnect")->click();
    });
    QApplication::exec();
    if (simPid > 0) {
        kill(simPid, SIGTERM);
        waitpid(simPid, nullptr, 0);
    }
    if (f.boxAfter < 0 && lastLine < 0) {
        std::fprintf(stderr, "never connected to the simulator\n");
        return std::nullopt;
    }
    for (int i = std::max(firstLine, 0); i < lastLine; ++i)
        f.decoded += verifiedExchange(received->line(i));
    f.sentLines = sent->count();
    f.receivedLines = received->count();
    return f;
}

void printPolling(const Figures& f, int delayMs) {
    const double limit = 1.0 / (71.0 * 10 / 8192 + delayMs / 1000.0);
    const double rate = f.decoded / f.wallSpent;
    std::printf("  replies decoded     %d (%.2f per second)\n", f.decoded, rate);
    std::printf("  link limit          %.2f per second\n", limit);
    std::printf("  ratio to the limit  %.3f   (target at least 0.98 on a clean line)\n",
                rate / limit);
    std::printf("  longest between two decoded replies  %lld ms\n", f.longestBetweenReplies);
    std::printf("  processor time      %.2f %% of one core   (target at most 1.5 %%)\n",
                100 * (f.pollEnd.cpu - f.pollStart.cpu) / f.wallSpent);
    std::printf("    in the program    %.2f %%, in the kernel %.2f %%\n",
                100 * (f.pollEnd.user - f.pollStart.user) / f.wallSpent,
                100 * (f.pollEnd.system - f.pollStart.system) / f.wallSpent);
    std::printf("  wake-ups            %.1f voluntary context switches a second\n",
                double(f.pollEnd.switches - f.pollStart.switches) / f.wallSpent);
    std::printf("  longest the window did not respond  %lld ms\n", f.longestUnresponsive);
    std::printf("  %d sent and %d received lines\n", f.sentLines, f.receivedLines);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int delayMs = argc > 2 ? std::atoi(argv[2]) : 5;
    std::string delay = std::to_string(delayMs);
    const std::vector<char*> cleanArgs{const_cast<char*>("--delay"), delay.data()};
    std::vector<char*> simArgs = cleanArgs;
    for (int i = 3; i < argc; ++i)
        simArgs.push_back(argv[i]);
    const bool scenario = argc > 3;

    // With simulator options, a clean line first, in the same run, to compare against.
    std::optional<Figures> clean;
    if (scenario && !(clean = runLine(cleanArgs, seconds)))
        return 1;
    const std::optional<Figures> f = runLine(simArgs, seconds);
    if (!f)
        return 1;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    if (f->boxAfter >= 0) {
        std::printf("Connect ended after %.1f s with \"%s\"\n", f->boxAfter / 1000.0,
                    qPrintable(f->boxText));
        std::printf("  longest the window did not respond  %lld ms\n", f->longestUnresponsive);
        std::printf("  peak memory         %ld KiB with %d received lines\n", usage.ru_maxrss,
                    f->receivedLines);
        return 0;
    }
    const Figures& idle = clean ? *clean : *f;
    const double idleSeconds = kIdleMs / 1000.0;
    std::printf("idle for %.1f s before Connect\n", idleSeconds);
    std::printf("  processor time      %.2f %% of one core   (target 0)\n",
                100 * (idle.idleEnd.cpu - idle.idleStart.cpu) / idleSeconds);
    std::printf("  wake-ups            %.1f voluntary context switches a second\n",
                double(idle.idleEnd.switches - idle.idleStart.switches) / idleSeconds);
    if (clean) {
        std::printf(
            "polling a clean line for %.1f s at 8192 baud, simulator response delay %d ms\n",
            clean->wallSpent, delayMs);
        printPolling(*clean, delayMs);
    }
    std::printf("polling for %.1f s at 8192 baud, simulator response delay %d ms", f->wallSpent,
                delayMs);
    for (int i = 3; i < argc; ++i)
        std::printf(" %s", argv[i]);
    std::printf("\n");
    printPolling(*f, delayMs);
    if (clean)
        std::printf("  rate against the clean line  %.3f   (target at least 0.9)\n",
                    (f->decoded / f->wallSpent) / (clean->decoded / clean->wallSpent));
    // The same line through real drivers (an FTDI cable, a 16550) beside it.
    for (const QString& device :
         qEnvironmentVariable("CARNOVO_BENCH_DEVICES").split(' ', Qt::SkipEmptyParts)) {
        const std::optional<Figures> d = runLine({}, seconds, QFile::encodeName(device));
        if (!d)
            return 1;
        std::printf("polling through %s for %.1f s, its simulator's own response delay\n",
                    qPrintable(device), d->wallSpent);
        printPolling(*d, delayMs);
        std::printf("  rate against the pseudo-terminal  %.3f\n",
                    (d->decoded / d->wallSpent) / (f->decoded / f->wallSpent));
    }
    std::printf("peak memory           %ld KiB\n", usage.ru_maxrss);
    return 0;
}
