// SPDX-License-Identifier: GPL-3.0-or-later
// The port's lock file against whatever other programs and users leave in
// the lock directory. Every case runs in a directory of its own.
#include "serial/linux/port_lock.h"
#include "tests/support/as_nobody.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

namespace {

QByteArray lockLine(pid_t pid) {
    return QByteArray::number(pid).rightJustified(10, ' ') + '\n';
}

bool put(const QString& file, const QByteArray& text) {
    QFile f(file);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// What sits at `file`: its text, or the kind of thing it is.
QByteArray at(const QString& file) {
    const QFileInfo info(file);
    QFile f(file);
    return info.isSymLink() ? "link"
           : info.isDir()   ? "dir"
           : !info.exists() ? "nothing"
           : !info.isFile() ? "fifo"
                            : (f.open(QIODevice::ReadOnly), f.readAll());
}

QString found(const PortLock::Finding& f) {
    return f.kind == PortLock::Finding::Ours   ? QString("ours")
           : f.kind == PortLock::Finding::Held ? QString("held by %1").arg(f.holder)
                                               : "refused: " + f.what;
}

// Whatever sits there, made by `make`: acquire() says what it found; a lock
// it takes holds our id and goes with release(), anything else stays as it was.
TEST(PortLockFile, TrustsOnlyALockFileAndTakesOnlyStaleOnes) {
    const pid_t live = getppid(), self = getpid();
    using Make = std::function<bool(const QString&)>;
    // clang-format off
    const struct { const char* name; Make make; QString found; } cases[] = {
        {"nothing", [](auto&) { return true; }, "ours"},
        {"FIFO", [](auto& f) { return mkfifo(qPrintable(f), 0666) == 0; }, "refused: a named pipe (FIFO)"},
        {"directory", [](auto& f) { return QDir().mkdir(f); }, "ours"},
        {"link to a live lock", [&](auto& f) { return put(f + "1", lockLine(live)) && QFile::link(f + "1", f); }, "refused: a symbolic link"},
        {"garbage", [](auto& f) { return put(f, "junk\x01\xff"); }, "ours"},
        {"huge", [](auto& f) { return put(f, QByteArray(4096, '1')); }, "refused: a file of 4096 bytes, too large for a lock file"},
        {"empty, young", [](auto& f) { return put(f, ""); }, "refused: an empty file just made (another program may be taking the port)"},
        {"empty, old", [](auto& f) { utimbuf old{1, 1}; return put(f, "") && utime(qPrintable(f), &old) == 0; }, "ours"},
        {"ended owner", [](auto& f) { return put(f, "  99999999\n"); }, "ours"},
        {"live owner", [&](auto& f) { return put(f, lockLine(live)); }, QString("held by %1").arg(live)},
        {"live owner, Qt's form", [&](auto& f) { return put(f, QByteArray::number(live) + "\nqt\nhost\n"); }, QString("held by %1").arg(live)},
        {"our id, left by an earlier process", [&](auto& f) { return put(f, lockLine(self)); }, "ours"},
    };
    // clang-format on
    for (const auto& c : cases) {
        QTemporaryDir directory;
        const QString file = directory.filePath("LCK..ttyUSB0");
        ASSERT_TRUE(c.make(file)) << c.name;
        const QByteArray before = at(file);
        PortLock lock(directory.path());
        EXPECT_EQ(found(lock.acquire("/dev/ttyUSB0")), c.found) << c.name;
        const bool takes = c.found == "ours" && before != "dir";
        EXPECT_EQ(at(file), takes ? lockLine(self) : before) << c.name;
        lock.release();
        EXPECT_EQ(at(file), takes ? "nothing" : before) << c.name;
        EXPECT_EQ(QDir(directory.path(), ".*", {}, QDir::Hidden | QDir::Files).count(), 0u);
    }
    // Another control of this very program holds the port: not an earlier process.
    PortLock first, second;
    ASSERT_EQ(found(first.acquire("/dev/ttyUSB1")), "ours");
    EXPECT_EQ(found(second.acquire("/dev/ttyUSB1")), QString("held by %1").arg(self));
}

// A directory the user cannot write takes no lock and is no error; a live
// owner's lock there still counts.
TEST(PortLockFile, AnUnwritableDirectoryIsNoError) {
    QTemporaryDir directory;
    ASSERT_EQ(chmod(qPrintable(directory.path()), 0755), 0);
    ASSERT_TRUE(put(directory.filePath("LCK..ttyUSB1"), lockLine(getpid())));
    for (const auto& [device, holder] : {std::pair("/dev/ttyUSB0", 0), {"/dev/ttyUSB1", getpid()}})
        EXPECT_EQ(asNobody([&, device = device] {
                      return PortLock(directory.path()).acquire(device).holder == holder ? 0 : 1;
                  }),
                  0)
            << device;
    EXPECT_FALSE(QFile::exists(directory.filePath("LCK..ttyUSB0")));
}

// Two programs find the same stale lock at the same moment: one gets the
// port, the other finds it held. Many rounds, as the race is short.
TEST(PortLockFile, TwoProcessesRacingForAStaleLockNeverBothGetIt) {
    QTemporaryDir directory;
    for (int round = 0; round < 100; ++round) {
        ASSERT_TRUE(put(directory.filePath("LCK..ttyUSB0"), "  99999999\n"));
        int go[2], results[2], done[2];
        ASSERT_EQ(pipe(go) | pipe(results) | pipe(done), 0);
        for (int racer = 0; racer < 2; ++racer) {
            if (fork() == 0) {
                char byte;
                close(go[1]), close(done[1]), (void)!read(go[0], &byte, 1); // both start at once
                PortLock lock(directory.path());
                byte = lock.acquire("/dev/ttyUSB0").kind == PortLock::Finding::Ours ? 'o' : 'h';
                (void)!write(results[1], &byte, 1), (void)!read(done[0], &byte, 1);
                lock.release();
                _exit(0);
            }
        }
        close(go[0]), close(done[0]), close(results[1]), close(go[1]);
        char got[2] = {};
        EXPECT_EQ(read(results[0], &got[0], 1) + read(results[0], &got[1], 1), 2);
        close(done[1]), close(results[0]);
        while (wait(nullptr) > 0) {
        }
        ASSERT_EQ(got[0] + got[1], 'o' + 'h') << "round " << round << ": " << got[0] << got[1];
    }
}

} // namespace
