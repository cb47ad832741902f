// SPDX-License-Identifier: GPL-3.0-or-later
// The program's window on Windows (under Wine in the device checks), COM n
// chosen and Connect pressed, reporting what a user cannot see, one line per
// event, each starting with seconds of the system's tick:
//   carnovo-window-probe N SECONDS [end-session]
//     status  the status caption and the six values, when they change
//     box     a message box's text (OK is pressed for it 2 s later)
//     cpu     the process's processor time in each quarter second
//     trace   the serial trace (opens, settings, reads, writes, wake-ups)
//     ending  the window ends the program
// After SECONDS it presses Quit, or with end-session it sends the window
// WM_ENDSESSION, as logging off does.
#include "ui/form1.h"
#include "ui/program.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <windows.h>

namespace {

// Lines are stamped when they happen and written out on the watch's next
// look (every 50 ms): under Wine each write is a trip through its server,
// and a trace line written at once would slow the very polling it reports.
void report(const QString& line) {
    const ULONGLONG ms = GetTickCount64();
    std::printf("%llu.%03llu %s\n", ms / 1000, ms % 1000, qPrintable(line));
}

long long cpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return ((static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000;
    };
    return ms(kernel) + ms(user);
}

void traceToReport(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (context.category && qstrcmp(context.category, "carnovo.serial") == 0)
        report("trace " + message);
}

void watchWindow(Form1& form, int port, int seconds, bool endSession) {
    QMessageBox(QMessageBox::Critical, "", "").grab();
    auto* status = form.findChild<QLabel*>("lblconnected");
    QList<QLineEdit*> boxes;
    for (const char* name :
         {"rpmtext", "cool_text", "cools_text", "tps_text", "IAC_text", "battery_text"})
        boxes << form.findChild<QLineEdit*>(name);
    auto* timer = new QTimer(&form);
    auto* shown = new QString;
    auto* sinceCpu = new QElapsedTimer;
    auto* lastCpu = new long long(cpuMs());
    auto* seenBox = new QMessageBox*(nullptr);
    auto* sinceBox = new QElapsedTimer;
    sinceCpu->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        // Each box stays up two seconds before OK is pressed for it: what
        // the program does meanwhile shows in the processor time.
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            box && box->isVisible()) {
            if (box != *seenBox) {
                report("box " + QString(box->text()).replace('\n', ' '));
                *seenBox = box;
                sinceBox->start();
            } else if (sinceBox->elapsed() >= 2000) {
                box->button(QMessageBox::Ok)->click();
            }
        }
        QStringList values;
        for (const QLineEdit* value : boxes)
            values << value->text();
        const QString now = status->text() + " | " + values.join(' ');
        if (now != *shown)
            report("status " + (*shown = now));
        if (sinceCpu->elapsed() >= 250) {
            const long long cpu = cpuMs();
            report(
                QStringLiteral("cpu %1 ms in %2 ms").arg(cpu - *lastCpu).arg(sinceCpu->restart()));
            *lastCpu = cpu;
        }
    });
    QObject::connect(timer, &QTimer::timeout, [] { std::fflush(stdout); });
    timer->start(50);
    QObject::connect(&form, &Form1::programEnding, [] { report("ending"); });
    form.findChild<QComboBox*>("comport")->setCurrentIndex(port - 1);
    QTimer::singleShot(0, form.findChild<QPushButton*>("cmdconnect"), &QPushButton::click);
    QTimer::singleShot(seconds * 1000, &form, [&form, endSession] {
        if (!endSession) {
            report("pressing Quit");
            return form.findChild<QPushButton*>("cmdexit")->click();
        }
        report("ending the session");
        const auto window = reinterpret_cast<HWND>(form.winId());
        SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    });
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: carnovo-window-probe PORT SECONDS [end-session]\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int seconds = std::atoi(argv[2]);
    const bool endSession = argc > 3 && qstrcmp(argv[3], "end-session") == 0;
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    qInstallMessageHandler(traceToReport);
    QLoggingCategory::setFilterRules("carnovo.serial.debug=true");
    const int ended =
        runCarnovo(1, argv, [=](Form1& form) { watchWindow(form, port, seconds, endSession); });
    report(QStringLiteral("ended %1").arg(ended));
    return ended;
}
