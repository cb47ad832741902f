// SPDX-License-Identifier: GPL-3.0-or-later
// The program as a user runs it, with Connect pressed once the window shows.
// It says "box" on its standard output when a message box opens.
#include "ui/form1.h"
#include "ui/program.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    return runCarnovo(argc, argv, [](Form1& form) {
        QTimer::singleShot(0, &form,
                           [&form] { form.findChild<QPushButton*>("cmdconnect")->click(); });
        auto* boxes = new QTimer(&form);
        QObject::connect(boxes, &QTimer::timeout, boxes, [boxes] {
            if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                std::puts("box");
                std::fflush(stdout);
                boxes->stop();
            }
        });
        boxes->start(20);
    });
}
