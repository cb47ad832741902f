#include "tools/ecm_sim/ecm_simulator.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <numeric>
#include <poll.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono;
const Bytes kRequest{0xF0, 0x56, 0x01, 0xB9};
const Bytes kChatter{0xF0, 0x55, 0xBB};
const Bytes kEchoAndHeader{0xF0, 0x56, 0x01, 0xB9, 0xF0, 0x95, 0x01};

// The program's end of the line: the pty slave, raw at 8192 baud.
struct ProgramSide {
    explicit ProgramSide(const std::string& path)
        : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios2 tio{};
        tio.c_cflag = CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
        tio.c_ospeed = tio.c_ispeed = 8192;
        EXPECT_EQ(ioctl(fd, TCSETS2, &tio), 0);
    }
    ~ProgramSide() { ::close(fd); }
    void send(const Bytes& b) { ASSERT_EQ(::write(fd, b.data(), b.size()), ssize_t(b.size())); }
    // Collects bytes until `count` arrived or `ms` passed, counting the reads that brought some.
    Bytes read(std::size_t count, int ms = 1000) {
        Bytes out;
        for (const auto until = steady_clock::now() + milliseconds(ms);
             out.size() < count && steady_clock::now() < until;) {
            pollfd p{fd, POLLIN, 0};
            std::uint8_t buf[128];
            const ssize_t n = ::poll(&p, 1, 5) > 0 ? ::read(fd, buf, sizeof buf) : 0;
            out.insert(out.end(), buf, buf + std::max<ssize_t>(n, 0));
            reads += n > 0;
        }
        return out;
    }
    int fd, reads = 0;
};

ecmsim::Options quick(const char* scenario = "normal") {
    ecmsim::Options o;
    o.scenario = *ecmsim::scenarioFromName(scenario);
    o.responseDelayMs = 1;
    return o;
}

// What each scenario sends: a whole exchange starts with the echo and the
// reply header and carries a valid checksum.
TEST(EcmSimulator, FaultScenarioBytes) {
    // clang-format off
    const struct { const char* name; Bytes first; std::vector<std::size_t> laterSizes; } cases[] = {
        {"normal", kChatter, {71, 71, 71}},     {"stray-before-chatter", {0x00, 0xF0, 0x55, 0xBB}, {71}},
        {"short-reply", kChatter, {70, 70}},    {"stray-after-chatter", {0xF0, 0x55, 0xBB, 0x00}, {71}},
        {"stop-after", kChatter, {71, 71, 0}},  {"glued-junk", kChatter, {73, 73}},
        {"pause-after", kChatter, {71, 71, 0, 71}}, // the last request comes after the pause
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ecmsim::Options o = quick(c.name);
        o.pollLimit = 2;
        o.pauseMs = 110;
        ecmsim::Simulator sim(o);
        sim.start();
        ProgramSide line(sim.devicePath());
        std::vector<std::size_t> sizes{c.first.size()};
        sizes.insert(sizes.end(), c.laterSizes.begin(), c.laterSizes.end());
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            line.send(kRequest);
            // Bytes glued to the exchange's last one come in the same read.
            const Bytes got = line.read(std::min<std::size_t>(sizes[k], 71));
            EXPECT_EQ(got.size(), sizes[k]);
            EXPECT_TRUE(line.read(1, 60).empty());
            EXPECT_TRUE(k > 0
                            ? got.size() < 71 ||
                                  (Bytes(got.begin(), got.begin() + 7) == kEchoAndHeader &&
                                   std::accumulate(got.begin() + 4, got.begin() + 71, 0) % 256 == 0)
                            : got == c.first);
        }
    }
}

// Never faster than the link, in bunches where a USB adapter makes them, and a
// babbling line never forms the chatter frame.
TEST(EcmSimulator, PacedAtTheLinksRate) {
    // clang-format off
    const struct { const char* scenario; std::size_t bytes; int minReads, maxReads, slackBytes; } cases[] = {
        {"normal", 71, 1, 71, 10}, {"usb-bunches", 71, 2, 4, 66}, {"babble", 200, 1, 200, 100}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        ecmsim::Options o = quick(c.scenario);
        o.responseDelayMs = 0;
        o.bunchMs = 40; // 87 ms of exchange in 2 to 4 bunches
        ecmsim::Simulator sim(o);
        sim.start();
        ProgramSide line(sim.devicePath());
        line.send(kRequest);
        if (c.bytes == 71) // past the chatter frame
            line.read(3);
        line.reads = 0;
        const auto sent = steady_clock::now();
        if (c.bytes == 71)
            line.send(kRequest);
        const Bytes got = line.read(c.bytes);
        const auto took = steady_clock::now() - sent;
        ASSERT_EQ(got.size(), c.bytes);
        EXPECT_GE(took, ecmsim::kByteTime * c.bytes);
        EXPECT_LT(took, ecmsim::kByteTime * (c.bytes + c.slackBytes));
        EXPECT_TRUE(line.reads >= c.minReads && line.reads <= c.maxReads) << line.reads;
        EXPECT_EQ(std::search(got.begin(), got.end(), kChatter.begin(), kChatter.end()), got.end());
    }
}

TEST(EcmSimulator, StopsPromptlyWhileNobodyReadsAFullLine) {
    ecmsim::Simulator sim(quick());
    sim.start();
    ProgramSide line(sim.devicePath());
    int master = -1; // the simulator's end, found by the device it serves
    for (int fd = 0; fd < 1024; ++fd) {
        char name[64];
        if (ptsname_r(fd, name, sizeof name) == 0 && sim.devicePath() == name)
            master = fd;
    }
    const Bytes filler(4096, 0);
    while (::write(master, filler.data(), filler.size()) > 0) {
    }
    line.send(kRequest); // the chatter frame finds no room
    std::this_thread::sleep_for(milliseconds(50));
    auto stopped = std::async(std::launch::async, [&] { sim.stop(); });
    const bool prompt = stopped.wait_for(milliseconds(300)) == std::future_status::ready;
    line.read(1 << 20, 200); // lets a stuck simulator go
    EXPECT_TRUE(prompt);
}

} // namespace
