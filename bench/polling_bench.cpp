// Polling against the simulated ECM at real link pacing: how close the
// program comes to the link's limit, and what it costs in processor time and
// memory.   usage: polling_bench [seconds=30] [response-delay-ms=5]
#include "ui/form1.h"

#include "ui/traffic_list.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// A Received Data line that holds a whole exchange with a good reply header.
bool wholeExchange(const QString& line) {
    const qsizetype at = line.indexOf("F0 56 1 B9 F0 95 1 ");
    return at >= 0 && line.mid(at).split(' ', Qt::SkipEmptyParts).size() >= 71;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int delayMs = argc > 2 ? std::atoi(argv[2]) : 5;

    // The simulator runs as a process of its own, so its work is not counted
    // as the program's; only the device path is read from it.
    int out[2];
    if (pipe(out) != 0)
        return 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string delay = std::to_string(delayMs);
    char* simArgv[] = {const_cast<char*>(CARNOVO_SIM_PATH), const_cast<char*>("--delay"),
                       const_cast<char*>(delay.c_str()), nullptr};
    pid_t simPid = 0;
    if (posix_spawn(&simPid, CARNOVO_SIM_PATH, &actions, nullptr, simArgv, environ) != 0) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    ::close(out[1]);
    char path[256] = {};
    FILE* simOut = fdopen(out[0], "r");
    if (!simOut || !std::fgets(path, sizeof path, simOut)) {
        std::fprintf(stderr, "the simulator printed no device\n");
        return 1;
    }
    std::fclose(simOut);
    qputenv("CARNOVO_COM1", QByteArray(path).trimmed());

    Form1 form;
    form.show();
    auto* received = form.findChild<TrafficList*>("listreceived");
    auto* sent = form.findChild<TrafficList*>("listsent");
    auto* status = form.findChild<QLabel*>("lblconnected");

    QElapsedTimer wall;
    double cpuStart = 0, cpuSpent = 0, wallSpent = 0;
    int firstLine = -1, lastLine = -1;
    QTimer probe;
    probe.setInterval(250);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (firstLine < 0 && status->text() == "Connected") {
            firstLine = received->count();
            cpuStart = cpuSeconds();
            wall.start();
        } else if (firstLine >= 0 && wall.elapsed() >= seconds * 1000) {
            wallSpent = double(wall.elapsed()) / 1000;
            cpuSpent = cpuSeconds() - cpuStart;
            lastLine = received->count();
            probe.stop();
            form.findChild<QPushButton*>("cmdexit")->click();
        }
    });
    probe.start();
    QTimer::singleShot(0, [&] { form.findChild<QPushButton*>("cmdconnect")->click(); });
    QApplication::exec();

    if (lastLine < 0) {
        std::fprintf(stderr, "never connected to the simulator\n");
        return 1;
    }
    int decoded = 0;
    for (int i = firstLine; i < lastLine; ++i)
        decoded += wholeExchange(received->line(i));
    kill(simPid, SIGTERM);
    waitpid(simPid, nullptr, 0);

    const double limit = 1.0 / (71.0 * 10 / 8192 + delayMs / 1000.0);
    const double rate = decoded / wallSpent;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("polling for %.1f s at 8192 baud, simulator response delay %d ms\n", wallSpent,
                delayMs);
    std::printf("  replies decoded     %d (%.2f per second)\n", decoded, rate);
    std::printf("  link limit          %.2f per second\n", limit);
    std::printf("  ratio to the limit  %.3f   (target at least 0.95)\n", rate / limit);
    std::printf("  processor time      %.2f %% of one core   (target at most 5 %%)\n",
                100 * cpuSpent / wallSpent);
    std::printf("  peak memory         %ld KiB with %d sent and %d received lines\n",
                usage.ru_maxrss, sent->count(), received->count());
    return 0;
}
