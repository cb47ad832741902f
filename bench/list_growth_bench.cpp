// The traffic lists take one line per polling pass for hours: the cost of a
// line must not grow with the list.   usage: list_growth_bench [lines=200000]
#include "ui/form1.h"

#include "ui/traffic_list.h"
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <sys/resource.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 200000;
    const int block = lines / 10;

    Form1 form;
    form.show();
    QByteArray exchange = QByteArray::fromHex("F05601B9F09501");
    exchange.append(64, '\x5A');

    std::printf("%d lines of a 71-byte exchange into Received Data, with repaints\n", lines);
    QElapsedTimer clock;
    for (int b = 0; b < 10; ++b) {
        clock.start();
        for (int i = 0; i < block; ++i) {
            form.parse_as_hex(exchange);
            if (i % 10 == 0)
                QApplication::processEvents();
        }
        std::printf("  lines %7d to %7d: %6.2f us a line\n", b * block, (b + 1) * block,
                    1000.0 * double(clock.nsecsElapsed()) / 1e6 / block);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("  peak memory %ld KiB (about %.0f bytes a line)\n", usage.ru_maxrss,
                usage.ru_maxrss * 1024.0 / lines);
    return 0;
}
