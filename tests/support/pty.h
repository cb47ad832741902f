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
class PtyPair {
public:
    PtyPair() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        grantpt(master_);
        unlockpt(master_);
        slavePath_ = QString::fromLocal8Bit(ptsname(master_));
    }
    ~PtyPair() { closeMaster(); }
    const QString& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }
    void closeMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }
    void write(const QByteArray& bytes) {
        EXPECT_EQ(::write(master_, bytes.constData(), size_t(bytes.size())), bytes.size());
    }
    // Reads until `count` bytes came or `timeoutMs` passed, letting the
    // event loop run meanwhile so the port can send.
    QByteArray read(int count, int timeoutMs = 2000) {
        QByteArray out(count, 0);
        qsizetype got = 0;
        for (int ms = 0; got < count && ms < timeoutMs; ++ms, QTest::qWait(1))
            got += std::max<ssize_t>(0, ::read(master_, out.data() + got, size_t(count - got)));
        return out.left(got);
    }

private:
    int master_;
    QString slavePath_;
};
