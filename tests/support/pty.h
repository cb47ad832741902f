// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QTest>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

// A pseudo-terminal pair for tests: the slave is a real serial device that
// the program opens by path; the test plays the far end on the master.
struct PtyPair {
    PtyPair() : master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        grantpt(master);
        unlockpt(master);
    }
    ~PtyPair() { ::close(master); }
    QString slavePath() const { return QString::fromLocal8Bit(ptsname(master)); }
    void write(const QByteArray& bytes) {
        EXPECT_EQ(::write(master, bytes.constData(), size_t(bytes.size())), bytes.size());
    }
    // What the port sent, after letting the event loop run for `ms`.
    QByteArray read(int ms = 50) {
        QTest::qWait(ms);
        QByteArray out(4096, 0);
        return out.left(std::max<ssize_t>(0, ::read(master, out.data(), size_t(out.size()))));
    }
    const int master;
};
