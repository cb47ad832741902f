// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/ecm_sim/ecm_simulator.h"

#include "link/frame_checks.h"
#include "serial/baud_rate.h"
#include "serial/mscomm.h"
#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>
#include <future>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono;
const QByteArray kRequest = QByteArray::fromHex("F05601B9"),
                 kChatter = QByteArray::fromHex("F055BB");

// The program's end of the line, through its own serial control at 8192 baud.
struct ProgramSide {
    explicit ProgramSide(const std::string& device, int baud = 8192) {
        qputenv("CARNOVO_COM1", device.c_str());
        comm.setPortOpen(true);
        SetBaudRate(comm, baud);
    }
    // Collects bytes until `count` arrived, `ms` passed or the line went,
    // counting the bunches they came in. A loaded machine may take long.
    QByteArray read(qsizetype count, int ms = 5000) try {
        QByteArray out;
        for (QDeadlineTimer until(ms); out.size() < count && !until.hasExpired(); QTest::qWait(1)) {
            const QByteArray bunch = comm.Input();
            out += bunch, bunches += !bunch.isEmpty();
        }
        return out;
    } catch (const RaisedError&) {
        return {};
    }
    MSComm comm;
    int bunches = 0;
};

ecmsim::Options quick(const char* scenario, int every = 2) {
    ecmsim::Options o;
    o.scenario = *ecmsim::scenarioFromName(scenario);
    o.responseDelayMs = 0;
    o.pollLimit = 2;
    o.pauseMs = o.scenario == ecmsim::Scenario::PauseAfter ? 400 : 110;
    o.bunchMs = 40;
    o.every = every;
    return o;
}

// What each scenario answers to each request: a whole exchange starts with
// the echo and the reply header and carries a valid checksum; a negative size
// is an exchange whose checksum is wrong. Damage comes every second reply here.
// A silent answer is watched for longer than pause-after's 400 ms pause, and
// the request after it comes once the pause is over.
TEST(EcmSimulator, FaultScenarioBytes) {
    // clang-format off
    const struct { const char* name; QByteArray first; std::vector<qsizetype> laterSizes; } cases[] = {
        {"normal", kChatter, {71, 71, 71}},     {"stray-before-chatter", QByteArray::fromHex("00F055BB"), {71}},
        {"short-reply", kChatter, {70, 70}},    {"stray-after-chatter", QByteArray::fromHex("F055BB00"), {71}},
        {"stop-after", kChatter, {71, 71, 0}},  {"glued-junk", kChatter, {73, 73}},
        {"pause-after", kChatter, {71, 71, 0, 71}}, // the last request comes after the pause
        {"flipped-bit", kChatter, {71, -71, 71, -71}}, {"lost-byte", kChatter, {71, 70, 71}},
        {"doubled-byte", kChatter, {71, -72, 71}}, {"repeated-chatter", kChatter + kChatter, {71}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ecmsim::Simulator sim(quick(c.name));
        sim.start();
        ProgramSide line(sim.devicePath());
        line.comm.Output(kRequest);
        const QByteArray first = line.read(c.first.size());
        EXPECT_EQ(first + line.read(1, 60), c.first);
        for (qsizetype size : c.laterSizes) {
            line.comm.Output(kRequest);
            const qsizetype bytes = std::abs(size);
            const QByteArray got = line.read(bytes == 73 ? 71 : bytes); // glued: the same read
            EXPECT_EQ(std::pair(got.size(), line.read(1, bytes == 0 ? 700 : 60).size()),
                      std::pair(bytes, qsizetype(0)));
            EXPECT_TRUE((size >= 0 && size < 71) ||
                        (got.startsWith(kRequest + QByteArray::fromHex("F09501")) &&
                         frames::hasValidChecksum(got) == (size > 0)));
        }
    }
}

// Never faster than the link: no byte leaves sooner than a byte time after
// the one before, also when the machine makes the simulator late. In bunches
// where a USB adapter makes them (87 ms of exchange in 40 ms bunches), with
// the pause asked for inside a reply (110 ms after its 11th byte), and a
// babbling line never forms the chatter frame. A loaded machine slows both
// ends, so the upper bound catches only a simulator far slower than the link;
// too few bunches are the reader's doing.
TEST(EcmSimulator, PacedAtTheLinksRate) {
    // clang-format off
    const struct { const char* scenario; qsizetype bytes; int maxBunches; milliseconds pause; } cases[] = {
        {"normal", 71, 71, 0ms}, {"usb-bunches", 71, 4, 0ms}, {"babble", 200, 200, 0ms}, {"pause-in-reply", 71, 71, 110ms}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        ecmsim::Simulator sim(quick(c.scenario, 1));
        sim.start();
        ProgramSide line(sim.devicePath());
        line.comm.Output(kRequest);
        if (c.bytes == 71) // past the chatter frame, then one exchange
            line.read(3), line.comm.Output(kRequest);
        line.bunches = 0;
        const auto sent = steady_clock::now();
        const QByteArray got = line.read(c.bytes);
        const auto took = steady_clock::now() - sent;
        ASSERT_GE(got.size(), c.bytes);
        EXPECT_GE(sim.stats().closestBytes, ecmsim::kByteTime);
        EXPECT_TRUE(took >= c.pause &&
                    took < ecmsim::kByteTime * c.bytes * 2 + c.pause + milliseconds(1500))
            << duration_cast<milliseconds>(took).count() << " ms for " << got.size();
        EXPECT_LE(line.bunches, c.maxBunches); // fewer only says the reader was slow
        EXPECT_FALSE(got.contains(kChatter));
    }
}

// Started as a user starts it, the simulator answers only at the ECM's line speed.
TEST(EcmSimulator, TheCommandAnswersOnlyAt8192Baud) {
    for (int baud : {9600, 8192}) {
        QProcess sim;
        sim.start(CARNOVO_SIM_PATH, {"--delay", "0"});
        ASSERT_TRUE(sim.waitForReadyRead(5000));
        ProgramSide line(sim.readLine().trimmed().toStdString(), baud);
        line.comm.Output(kRequest);
        EXPECT_EQ(line.read(3, 300), baud == 8192 ? kChatter : QByteArray()) << baud;
        sim.terminate();
        sim.waitForFinished();
    }
}

// stop() returns promptly while the line is full and nobody reads it.
TEST(EcmSimulator, StopsPromptlyWhileNobodyReadsAFullLine) {
    ecmsim::Simulator sim(quick("normal"));
    sim.start();
    ProgramSide line(sim.devicePath());
    for (int fd = 3; fd < 1024; ++fd) // the simulator's end of the line, filled up
        if (char name[64]; ptsname_r(fd, name, sizeof name) == 0 && sim.devicePath() == name)
            for (int round = 0; round < 5; ++round, std::this_thread::sleep_for(milliseconds(20)))
                while (::write(fd, QByteArray(4096, 0).constData(), 4096) > 0) {
                }
    line.comm.Output(kRequest); // the chatter frame finds no room: no event loop reads
    std::this_thread::sleep_for(milliseconds(50));
    auto stopped = std::async(std::launch::async, [&] { sim.stop(); });
    EXPECT_EQ(stopped.wait_for(milliseconds(300)), std::future_status::ready);
    line.read(1 << 20, 200); // lets a stuck simulator go
}

} // namespace
