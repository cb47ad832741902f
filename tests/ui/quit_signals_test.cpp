// SPDX-License-Identifier: GPL-3.0-or-later
// The signals that end a program, sent to the program itself against the
// simulated ECM: it ends within a second, as Quit ends it, its lock file gone.
#include "tools/ecm_sim/ecm_simulator.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

TEST(QuitSignals, EachEndsTheProgramWithinASecondAndLeavesNoLock) {
    enum Until { Polling, ChatterAwaited, BoxOpen };
    // clang-format off
    const struct { const char* name; int signal; const char* scenario; bool fifoAsLock; Until until; } cases[] = {
        {"SIGTERM while polling", SIGTERM, "normal", false, Polling},
        {"SIGINT while polling", SIGINT, "normal", false, Polling},
        {"SIGHUP while polling", SIGHUP, "normal", false, Polling},
        {"SIGTERM in the chatter wait", SIGTERM, "silent", false, ChatterAwaited},
        {"SIGHUP with the sequence's box open", SIGHUP, "chatter-only", false, BoxOpen},
        {"SIGTERM with the lock refusal's box open", SIGTERM, "normal", true, BoxOpen},
    };
    // clang-format on
    for (const auto& c : cases) {
        ecmsim::Options options;
        options.scenario = *ecmsim::scenarioFromName(c.scenario);
        ecmsim::Simulator sim(options);
        sim.start();
        QTemporaryDir locks;
        const QString device =
            QFileInfo(QString::fromStdString(sim.devicePath())).canonicalFilePath();
        const QString lockFile = locks.filePath("LCK.." + device.mid(5).replace('/', '_'));
        ASSERT_TRUE(!c.fifoAsLock || mkfifo(qPrintable(lockFile), 0666) == 0);
        qputenv("CARNOVO_COM1", sim.devicePath().c_str());
        qputenv("CARNOVO_LOCK_DIR", locks.path().toLocal8Bit());
        QProcess program; // takes the environment above
        program.start(CARNOVO_PROBE_PATH, {"-platform", "offscreen"});
        const auto ready = [&] {
            return c.until == BoxOpen ? program.readAllStandardOutput().contains("box")
                                      : QFileInfo::exists(lockFile) &&
                                            (c.until == Polling ? sim.stats().repliesSent >= 2
                                                                : sim.stats().requestsSeen >= 1);
        };
        QElapsedTimer timer;
        for (timer.start(); !ready() && timer.elapsed() < 10000;)
            program.waitForReadyRead(20);
        ASSERT_LT(timer.elapsed(), 10000) << c.name;
        timer.restart();
        ::kill(pid_t(program.processId()), c.signal);
        EXPECT_TRUE(program.waitForFinished(3000) && timer.elapsed() < 1000) << c.name;
        EXPECT_EQ(
            std::tuple(program.exitStatus(), program.exitCode(), QFileInfo(lockFile).exists()),
            std::tuple(QProcess::NormalExit, 0, c.fifoAsLock))
            << c.name;
        program.kill();
        program.waitForFinished();
    }
}

} // namespace
