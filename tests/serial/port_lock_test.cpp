// SPDX-License-Identifier: GPL-3.0-or-later
// The port's lock file against whatever other programs and users leave in
// the lock directory. Every case runs in a directory of its own.
#include "serial/port_lock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

namespace {

QByteArray lockLine(pid_t pid) {
    return QByteArray::number(pid).rightJustified(10, ' ') + '\n';
}

bool put(const QString& file, const QByteArray& text) {
    QFile f(file);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

QString describe(const PortLock::Finding& f) {
    switch (f.kind) {
    case PortLock::Finding::Ours:
        return "ours";
    case PortLock::Finding::Held:
        return QStringLiteral("held by %1").arg(f.holder);
    case PortLock::Finding::Untrusted:
        return "refused: " + f.what;
    }
    return {};
}

// What sits at the lock file's place, made by `make`; what acquire() says,
// and what the file holds while the lock is held and once it is let go.
TEST(PortLockFile, TrustsOnlyALockFileAndTakesOnlyStaleOnes) {
    const pid_t live = getppid(), self = getpid();
    PortLock otherControl(qEnvironmentVariable("CARNOVO_LOCK_DIR"));
    // clang-format off
    const struct { const char* name; std::function<bool(const QString&)> make; QString found; QByteArray held; QByteArray after; } cases[] = {
        {"nothing", [](const QString&) { return true; }, "ours", lockLine(self), ""},
        {"FIFO", [](const QString& f) { return mkfifo(qPrintable(f), 0666) == 0; }, "refused: a named pipe (FIFO)", "", "fifo"},
        {"directory", [](const QString& f) { return QDir().mkdir(f); }, "refused: a directory", "", "dir"},
        {"symbolic link to a live lock", [&](const QString& f) { return put(f + ".real", lockLine(live)) && QFile::link(f + ".real", f); }, "refused: a symbolic link", "", "link"},
        {"garbage", [](const QString& f) { return put(f, "junk\x01\xff"); }, "ours", lockLine(self), ""},
        {"huge file", [](const QString& f) { return put(f, QByteArray(4096, '1')); }, "refused: a file of 4096 bytes, too large for a lock file", "", "file"},
        {"empty young file", [](const QString& f) { return put(f, ""); }, "refused: an empty file just made (another program may be taking the port)", "", "file"},
        {"empty old file", [](const QString& f) { utimbuf old{1, 1}; return put(f, "") && utime(qPrintable(f), &old) == 0; }, "ours", lockLine(self), ""},
        {"ended owner", [](const QString& f) { return put(f, "  99999999\n"); }, "ours", lockLine(self), ""},
        {"live owner", [&](const QString& f) { return put(f, lockLine(live)); }, QStringLiteral("held by %1").arg(live), lockLine(live), lockLine(live)},
        {"live owner, Qt's form", [&](const QString& f) { return put(f, QByteArray::number(live) + "\nqtprogram\nhost\n"); }, QStringLiteral("held by %1").arg(live), "", "file"},
        {"our id, left by an earlier process", [&](const QString& f) { return put(f, lockLine(self)); }, "ours", lockLine(self), ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        QTemporaryDir directory;
        const QString file = directory.filePath("LCK..ttyUSB0");
        ASSERT_TRUE(c.make(file)) << c.name;
        PortLock lock(directory.path());
        EXPECT_EQ(describe(lock.acquire("/dev/ttyUSB0")), c.found) << c.name;
        QFile held(file);
        if (!c.held.isEmpty()) {
            EXPECT_TRUE(held.open(QIODevice::ReadOnly) && held.readAll() == c.held) << c.name;
        }
        held.close();
        lock.release();
        const QFileInfo left(file);
        const QByteArray after = !left.exists() && !left.isSymLink() ? ""
                                 : left.isSymLink()                  ? "link"
                                 : left.isDir()                      ? "dir"
                                 : !left.isFile()                    ? "fifo"
                                 : c.after == "file"                 ? "file"
                                 : held.open(QIODevice::ReadOnly)    ? held.readAll()
                                                                     : "?";
        EXPECT_EQ(after, c.after) << c.name;
        // Nothing of ours is left behind in the directory.
        EXPECT_EQ(
            QDir(directory.path(), ".carnovo*", QDir::Name, QDir::Hidden | QDir::Files).count(), 0u)
            << c.name;
    }
    // Another control of this very program holds the port: not an earlier process.
    ASSERT_EQ(describe(otherControl.acquire("/dev/ttyUSB1")), "ours");
    PortLock second(qEnvironmentVariable("CARNOVO_LOCK_DIR"));
    EXPECT_EQ(describe(second.acquire("/dev/ttyUSB1")), QStringLiteral("held by %1").arg(self));
}

// Runs `child` in a process of its own as user nobody; its result is the exit code.
int asNobody(const std::function<int()>& child) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(setgid(65534) == 0 && setuid(65534) == 0 ? child() : 99);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

// A directory the user cannot write takes no lock and is no error; a live
// owner's lock there still counts.
TEST(PortLockFile, AnUnwritableDirectoryIsNoError) {
    QTemporaryDir directory;
    ASSERT_TRUE(QFile::setPermissions(directory.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                            QFile::ExeOwner | QFile::ReadOther |
                                                            QFile::ExeOther));
    const auto acquired = [&](const char* device) {
        return asNobody([&] {
            PortLock lock(directory.path());
            const PortLock::Finding found = lock.acquire(device);
            return found.kind == PortLock::Finding::Ours ? 0 : found.holder == getppid() ? 1 : 2;
        });
    };
    EXPECT_EQ(acquired("/dev/ttyUSB0"), 0);
    EXPECT_FALSE(QFile::exists(directory.filePath("LCK..ttyUSB0")));
    ASSERT_TRUE(put(directory.filePath("LCK..ttyUSB1"), lockLine(getpid())));
    EXPECT_EQ(acquired("/dev/ttyUSB1"), 1);
}

// Two programs find the same stale lock at the same moment: one gets the
// port, the other finds it held. Many rounds, as the race is short.
TEST(PortLockFile, TwoProcessesRacingForAStaleLockNeverBothGetIt) {
    QTemporaryDir directory;
    const QString file = directory.filePath("LCK..ttyUSB0");
    for (int round = 0; round < 100; ++round) {
        ASSERT_TRUE(put(file, "  99999999\n"));
        int go[2], results[2], done[2];
        ASSERT_EQ(pipe(go) | pipe(results) | pipe(done), 0);
        pid_t racers[2];
        for (pid_t& racer : racers) {
            racer = fork();
            if (racer == 0) {
                char byte;
                close(go[1]), close(done[1]);
                (void)!read(go[0], &byte, 1); // both start together
                {
                    PortLock lock(directory.path());
                    byte = lock.acquire("/dev/ttyUSB0").kind == PortLock::Finding::Ours ? 'o' : 'h';
                    (void)!write(results[1], &byte, 1);
                    (void)!read(done[0], &byte, 1); // the lock is held until both have tried
                }
                _exit(0);
            }
        }
        close(go[0]), close(done[0]), close(results[1]);
        close(go[1]);
        char found[2] = {};
        EXPECT_EQ(read(results[0], &found[0], 1) + read(results[0], &found[1], 1), 2);
        close(done[1]), close(results[0]);
        for (const pid_t racer : racers)
            waitpid(racer, nullptr, 0);
        ASSERT_EQ(std::string(found, 2) == "oh" || std::string(found, 2) == "ho", true)
            << "round " << round << ": " << std::string(found, 2);
        EXPECT_FALSE(QFile::exists(file));
    }
}

} // namespace
