// SPDX-License-Identifier: GPL-3.0-or-later
// The signals that end a program, sent to the program itself against the
// simulated ECM: it ends within a second, as Quit ends it, port let go.
#include "tools/ecm_sim/ecm_simulator.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

TEST(QuitSignals, EachEndsTheProgramWithinASecondAndLeavesNoLock) {
    // clang-format off
    const struct { const char* name; int signal; const char* scenario; bool fifoAsLock; const char* waitFor; } cases[] = {
        {"SIGTERM while polling", SIGTERM, "normal", false, "replies"},
        {"SIGINT while polling", SIGINT, "normal", false, "replies"},
        {"SIGHUP while polling", SIGHUP, "normal", false, "replies"},
        {"SIGTERM in the chatter wait", SIGTERM, "silent", false, "request"},
        {"SIGHUP with the sequence's box open", SIGHUP, "chatter-only", false, "box"},
        {"SIGTERM with the lock refusal's box open", SIGTERM, "normal", true, "box"},
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
        if (c.fifoAsLock) {
            ASSERT_EQ(mkfifo(qPrintable(lockFile), 0666), 0);
        }

        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("CARNOVO_COM1", QString::fromStdString(sim.devicePath()));
        environment.insert("CARNOVO_LOCK_DIR", locks.path());
        program.setProcessEnvironment(environment);
        program.start(CARNOVO_PROBE_PATH);
        ASSERT_TRUE(program.waitForStarted()) << c.name;
        const std::function<bool()> ready[] = {
            [&] { return sim.stats().repliesSent >= 2 && QFileInfo::exists(lockFile); },
            [&] { return sim.stats().requestsSeen >= 1 && QFileInfo::exists(lockFile); },
            [&] { return program.readAllStandardOutput().contains("box"); },
        };
        const auto& isReady = ready[std::string(c.waitFor) == "replies"   ? 0
                                    : std::string(c.waitFor) == "request" ? 1
                                                                          : 2];
        QElapsedTimer waiting;
        waiting.start();
        while (!isReady() && waiting.elapsed() < 10000)
            program.waitForReadyRead(20);
        ASSERT_LT(waiting.elapsed(), 10000) << c.name;

        QElapsedTimer ending;
        ending.start();
        ::kill(pid_t(program.processId()), c.signal);
        EXPECT_TRUE(program.waitForFinished(3000)) << c.name;
        EXPECT_LT(ending.elapsed(), 1000) << c.name;
        EXPECT_EQ(std::tuple(program.exitStatus(), program.exitCode()),
                  std::tuple(QProcess::NormalExit, 0))
            << c.name;
        // A lock file is gone; what another program left there stays.
        EXPECT_EQ(QFileInfo(lockFile).exists(), c.fifoAsLock) << c.name;
        program.kill();
        program.waitForFinished();
    }
}

} // namespace
