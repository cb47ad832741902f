#include "tools/ecm_sim/ecm_simulator.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <numeric>
#include <poll.h>
#include <sstream>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono;
const Bytes kRequest{0xF0, 0x56, 0x01, 0xB9};
const Bytes kChatter{0xF0, 0x55, 0xBB};

// The program's end of the line: the pty slave in raw mode at a given speed.
class ProgramSide {
public:
    explicit ProgramSide(const std::string& path, unsigned baud = 8192) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd_, 0);
        termios2 tio{};
        ioctl(fd_, TCGETS2, &tio);
        tio.c_iflag = tio.c_oflag = tio.c_lflag = 0;
        tio.c_cflag = CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
        tio.c_ospeed = tio.c_ispeed = baud;
        EXPECT_EQ(ioctl(fd_, TCSETS2, &tio), 0);
    }
    ~ProgramSide() { close(); }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    void send(const Bytes& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Collects bytes until `count` arrived or `ms` passed.
    Bytes read(std::size_t count, int ms = 1000) {
        Bytes out;
        const auto until = steady_clock::now() + milliseconds(ms);
        while (out.size() < count && steady_clock::now() < until) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN)) {
                std::uint8_t buf[128];
                const ssize_t n = ::read(fd_, buf, sizeof buf);
                if (n > 0)
                    out.insert(out.end(), buf, buf + n);
            }
            if (p.revents & (POLLHUP | POLLERR))
                hungUp = true;
        }
        return out;
    }
    Bytes exchange(std::size_t expected, int quietMs = 150) {
        send(kRequest);
        Bytes got = read(expected);
        const Bytes extra = read(1000, quietMs); // nothing may follow
        got.insert(got.end(), extra.begin(), extra.end());
        return got;
    }
    bool hungUp = false;

private:
    int fd_ = -1;
};

ecmsim::Options quick(ecmsim::Scenario scenario = ecmsim::Scenario::Normal) {
    ecmsim::Options o;
    o.scenario = scenario;
    o.responseDelayMs = 1;
    return o;
}

int sum_mod_256(const Bytes& b, std::size_t from) {
    return std::accumulate(b.begin() + long(from), b.end(), 0) % 256;
}

Bytes slice(const Bytes& b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + long(from), b.begin() + long(std::min(b.size(), from + n)));
}

TEST(EcmSimulator, ChatterFirstThenEchoAndValidReplies) {
    ecmsim::Simulator sim(quick());
    sim.start();
    ProgramSide line(sim.devicePath());
    EXPECT_EQ(line.exchange(3), kChatter);
    for (int poll = 0; poll < 3; ++poll) {
        const Bytes got = line.exchange(71, 30);
        ASSERT_EQ(got.size(), 71u);
        EXPECT_EQ(slice(got, 0, 4), kRequest);
        EXPECT_EQ(slice(got, 4, 3), (Bytes{0xF0, 0x95, 0x01}));
        EXPECT_EQ(sum_mod_256(got, 4), 0);
    }
    EXPECT_EQ(sim.stats().repliesSent, 3);
    EXPECT_EQ(sim.stats().lastBaudSeen, 8192u);
}

TEST(EcmSimulator, NeverFasterThanTheLink) {
    ecmsim::Options o = quick();
    o.responseDelayMs = 0;
    ecmsim::Simulator sim(o);
    sim.start();
    ProgramSide line(sim.devicePath());
    line.exchange(3);
    const auto sent = steady_clock::now();
    line.send(kRequest);
    ASSERT_EQ(line.read(71).size(), 71u);
    EXPECT_GE(steady_clock::now() - sent, ecmsim::kByteTime * 71);
}

TEST(EcmSimulator, SilentAtAWrongLineSpeedUnlessToldOtherwise) {
    for (bool check : {true, false}) {
        ecmsim::Options o = quick();
        o.checkLineSpeed = check;
        ecmsim::Simulator sim(o);
        sim.start();
        ProgramSide line(sim.devicePath(), 9600);
        EXPECT_EQ(line.exchange(3, 200).empty(), check);
        EXPECT_EQ(sim.stats().lastBaudSeen, 9600u);
        EXPECT_EQ(sim.stats().requestsIgnored, check ? 1 : 0);
    }
}

TEST(EcmSimulator, ReopeningStartsAFreshSession) {
    ecmsim::Simulator sim(quick());
    sim.start();
    {
        ProgramSide line(sim.devicePath());
        EXPECT_EQ(line.exchange(3), kChatter);
        EXPECT_EQ(line.exchange(71, 30).size(), 71u);
    }
    std::this_thread::sleep_for(milliseconds(50));
    ProgramSide again(sim.devicePath());
    EXPECT_EQ(again.exchange(3), kChatter);
    EXPECT_EQ(sim.stats().sessions, 2);
}

TEST(EcmSimulator, ClosingMidReplyLeavesNothingForTheNextSession) {
    ecmsim::Simulator sim(quick());
    sim.start();
    {
        ProgramSide line(sim.devicePath());
        line.exchange(3);
        line.send(kRequest);
        EXPECT_EQ(line.read(10).size(), 10u);
    }
    std::this_thread::sleep_for(milliseconds(150));
    ProgramSide again(sim.devicePath());
    EXPECT_EQ(again.exchange(3), kChatter);
}

TEST(EcmSimulator, FixedBytesAppearInEveryReply) {
    ecmsim::Options o = quick();
    o.fixedBytes = {{11, 255}, {34, 125}};
    ecmsim::Simulator sim(o);
    sim.start();
    ProgramSide line(sim.devicePath());
    line.exchange(3);
    const Bytes got = line.exchange(71, 30);
    ASSERT_EQ(got.size(), 71u);
    EXPECT_EQ(got[4 + 10], 255);
    EXPECT_EQ(got[4 + 33], 125);
    EXPECT_EQ(sum_mod_256(got, 4), 0);
}

TEST(EcmSimulator, RefusesFixedBytesOutsideTheData) {
    for (auto [pos, value] : {std::pair{3, 0}, {67, 0}, {11, 256}}) {
        ecmsim::Options o;
        o.fixedBytes = {{pos, value}};
        EXPECT_THROW(ecmsim::Simulator{o}, std::invalid_argument);
    }
}

// What each fault scenario sends for the first request, then for the next few.
TEST(EcmSimulator, FaultScenarios) {
    using S = ecmsim::Scenario;
    struct Case {
        const char* name;
        Bytes first;
        std::vector<std::size_t> laterSizes;
        int pollLimit = 0;
    } cases[] = {
        {"silent", {}, {0}},
        {"stray-before-chatter", {0x00, 0xF0, 0x55, 0xBB}, {71}},
        {"stray-after-chatter", {0xF0, 0x55, 0xBB, 0x00}, {71}},
        {"chatter-only", kChatter, {0, 0}},
        {"short-reply", kChatter, {70, 70}},
        {"stop-after", kChatter, {71, 71, 0, 0}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ecmsim::Options o = quick(*ecmsim::scenarioFromName(c.name));
        o.pollLimit = c.pollLimit;
        ecmsim::Simulator sim(o);
        sim.start();
        ProgramSide line(sim.devicePath());
        EXPECT_EQ(line.exchange(c.first.size(), 150), c.first);
        for (std::size_t size : c.laterSizes)
            EXPECT_EQ(line.exchange(size, 100).size(), size);
    }
    (void)S::Normal;
}

TEST(EcmSimulator, CorruptedReplies) {
    for (const char* name : {"wrong-header", "wrong-checksum"}) {
        SCOPED_TRACE(name);
        ecmsim::Simulator sim(quick(*ecmsim::scenarioFromName(name)));
        sim.start();
        ProgramSide line(sim.devicePath());
        line.exchange(3);
        const Bytes got = line.exchange(71, 30);
        ASSERT_EQ(got.size(), 71u);
        const bool header = std::string(name) == "wrong-header";
        EXPECT_EQ(got[6], header ? 0x02 : 0x01);
        // The header byte is one more than it should be, and so is the checksum.
        EXPECT_EQ(sum_mod_256(got, 4), 1);
    }
}

TEST(EcmSimulator, LateReplyStartsAfterTheGivenDelay) {
    ecmsim::Options o = quick(ecmsim::Scenario::LateReply);
    o.replyAfterMs = 300;
    ecmsim::Simulator sim(o);
    sim.start();
    ProgramSide line(sim.devicePath());
    EXPECT_EQ(line.exchange(3), kChatter);
    const auto sent = steady_clock::now();
    line.send(kRequest);
    EXPECT_TRUE(line.read(1, 250).empty());
    EXPECT_EQ(line.read(71, 1000).size(), 71u);
    EXPECT_GE(steady_clock::now() - sent, milliseconds(300) + ecmsim::kByteTime * 71);
}

TEST(EcmSimulator, NoiseFollowsEachReply) {
    ecmsim::Simulator sim(quick(ecmsim::Scenario::Noise));
    sim.start();
    ProgramSide line(sim.devicePath());
    line.exchange(3);
    for (int i = 0; i < 3; ++i) {
        const std::size_t size = line.exchange(71, 60).size();
        EXPECT_GE(size, 72u);
        EXPECT_LE(size, 74u);
    }
}

TEST(EcmSimulator, HangUpClosesTheLine) {
    ecmsim::Options o = quick(ecmsim::Scenario::HangUpAfter);
    o.pollLimit = 1;
    ecmsim::Simulator sim(o);
    sim.start();
    ProgramSide line(sim.devicePath());
    line.exchange(3);
    EXPECT_EQ(line.exchange(71, 30).size(), 71u);
    line.send(kRequest);
    line.read(1, 300);
    EXPECT_TRUE(line.hungUp);
    EXPECT_TRUE(sim.hungUp());
}

TEST(EcmSimulator, TranscriptRecordsBothDirectionsAndASummary) {
    const std::string path = testing::TempDir() + "carnovo-transcript.txt";
    {
        ecmsim::Options o = quick();
        o.transcriptPath = path;
        ecmsim::Simulator sim(o);
        sim.start();
        ProgramSide line(sim.devicePath());
        line.exchange(3);
        line.exchange(71, 30);
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string t = text.str();
    EXPECT_NE(t.find("program -> ECM: F0 56 01 B9"), std::string::npos) << t;
    EXPECT_NE(t.find("ECM -> program: F0 55 BB"), std::string::npos) << t;
    EXPECT_NE(t.find("ECM -> program: F0 56 01 B9 F0 95 01"), std::string::npos) << t;
    EXPECT_NE(t.find("requests seen 2"), std::string::npos) << t;
    EXPECT_NE(t.find("replies sent 1"), std::string::npos) << t;
    EXPECT_NE(t.find("8192 baud 8N1"), std::string::npos) << t;
}

} // namespace
