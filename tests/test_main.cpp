// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// One application object for every test; window tests need a QApplication,
// the others only its event loop.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Port lock files go here, never into the machine's /run/lock.
    const QTemporaryDir locks;
    if (qEnvironmentVariableIsEmpty("CARNOVO_LOCK_DIR"))
        qputenv("CARNOVO_LOCK_DIR", locks.path().toLocal8Bit());
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
