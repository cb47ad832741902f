// The traffic lists take one line per polling pass for hours: the cost of a
// line must not grow with the list.   usage: list_growth_bench [lines=300000]
// Memory is the growth of the resident set from a baseline taken once the
// window is shown, so the toolkit's own start-up does not count as lines.
#include "ui/form1.h"

#include "ui/traffic_list.h"
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <functional>
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

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 300000;
    if (lines < 10) {
        std::fprintf(stderr, "usage: list_growth_bench [lines=300000], at least 10\n");
        return 2;
    }

    Form1 form;
    form.show();
    // A polling exchange as the sequence logs it: the request echo, the reply
    // header and 64 data bytes, in a buffer with room to spare.
    QByteArray exchange = QByteArray::fromHex("F05601B9F09501");
    exchange.reserve(256);
    exchange.append(64, '\x5A');
    grow("a 71-byte exchange into Received Data", lines, [&] { form.parse_as_hex(exchange); });

    auto* sent = form.findChild<TrafficList*>("listsent");
    const QString request = QStringLiteral("F0 56  01 B9");
    grow("the request text into Sent Data", lines, [&] { sent->addItem(request); });
    return 0;
}
