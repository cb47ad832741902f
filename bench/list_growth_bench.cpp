// SPDX-License-Identifier: GPL-3.0-or-later
// The traffic lists take one line per polling pass for hours: the cost of a
// line must not grow with the list.   usage: list_growth_bench [lines=300000]
// Memory is the growth of the resident set from a baseline taken once the
// window is shown, so the toolkit's own start-up does not count as lines.
// It runs twice, in processes of its own: with accessibility inactive, then
// active. Accessibility needs an X display and an at-spi bus (the desktop's,
// or bench/a11y-session); without them the second run says so.
#include "ui/form1.h"

#include "ui/traffic_list.h"
#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long residentBytes() {
    long size = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &size, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// Adds `lines` lines in ten blocks, with repaints, and prints each block's
// time and memory a line, then the whole run's memory a line.
void grow(const char* what, int lines, const std::function<void()>& addLine) {
    const int block = lines / 10;
    std::printf("%d lines of %s, with repaints\n", lines, what);
    QApplication::processEvents();
    const long baseline = residentBytes();
    long before = baseline;
    QElapsedTimer clock;
    for (int b = 0; b < 10; ++b) {
        clock.start();
        for (int i = 0; i < block; ++i) {
            addLine();
            if (i % 10 == 0)
                QApplication::processEvents();
        }
        const double micros = double(clock.nsecsElapsed()) / 1e3 / block;
        const long now = residentBytes();
        std::printf("  lines %7d to %7d: %6.2f us a line, %5.0f bytes a line\n", b * block,
                    (b + 1) * block, micros, double(now - before) / block);
        before = now;
    }
    std::printf("  memory: %.1f MiB for %d lines, %.0f bytes a line\n",
                double(before - baseline) / (1 << 20), 10 * block,
                double(before - baseline) / (10 * block));
}

// Runs this program again with accessibility `active` or not, and waits for it.
int runAgain(char** argv, bool active) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        setenv("CARNOVO_BENCH_RUN", "1", 1);
        // Qt's own switch: active with a bus, whether or not a reader listens.
        if (active)
            setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
        else
            unsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
        execv("/proc/self/exe", argv);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char** argv) {
    const int lines = argc > 1 ? std::atoi(argv[1]) : 300000;
    if (lines < 10) {
        std::fprintf(stderr, "usage: list_growth_bench [lines=300000], at least 10\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("CARNOVO_BENCH_RUN"))
        return runAgain(argv, false) | runAgain(argv, true);
    const bool wanted = qEnvironmentVariableIsSet("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "offscreen" : "xcb");
    QApplication app(argc, argv);

    Form1 form;
    form.show();
    // The bridge to the accessibility bus connects in the background.
    QElapsedTimer waited;
    waited.start();
    while (wanted && !QAccessible::isActive() && waited.elapsed() < 3000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    std::printf("== accessibility %s, platform %s\n",
                QAccessible::isActive() ? "active" : "inactive",
                qPrintable(QGuiApplication::platformName()));
    if (wanted && !QAccessible::isActive()) {
        std::printf("   could not be made active: it needs an X display and an at-spi bus\n");
        return 0;
    }
    // A polling exchange as the sequence logs it: the request echo, the reply
    // header and 64 data bytes, in a buffer with room to spare.
    QByteArray exchange = QByteArray::fromHex("F05601B9F09501");
    exchange.reserve(256);
    exchange.append(64, '\x5A');
    // Its last byte changes from line to line, as replies do: a line equal
    // to the one before would share its bytes.
    grow("a 71-byte exchange into Received Data", lines, [&, n = 0]() mutable {
        exchange[exchange.size() - 1] = char(++n);
        form.parse_as_hex(exchange);
    });

    auto* sent = form.findChild<TrafficList*>("listsent");
    const QString request = QStringLiteral("F0 56  01 B9");
    grow("the request text into Sent Data", lines, [&] { sent->addItem(request); });
    return 0;
}
