// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/frames.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A simulated ECM on a pseudo-terminal. The program opens the slave side as
// its serial port; the simulator answers on the master side with ALDL frames,
// paced like the real 8192-baud link.
namespace ecmsim {

enum class Scenario {
    Normal,
    Silent,             // never answers
    StrayBeforeChatter, // 00 F0 55 BB
    StrayAfterChatter,  // F0 55 BB 00
    ChatterOnly,        // chatter, then no reply
    ShortReply,         // replies one byte short: 70 bytes in the exchange
    WrongHeader,        // replies start F0 95 02
    WrongChecksum,      // replies carry a checksum off by one
    LateReply,          // replies start `replyAfterMs` after the request
    StopAfter,          // stops answering after `pollLimit` replies
    Noise,              // random bytes after each reply
    HangUpAfter,        // closes the line after `pollLimit` replies
    GluedJunk,          // two noise bytes in the same write as each exchange's last byte
    UsbBunches,         // bytes handed over every `bunchMs`, like a USB adapter's latency timer
    Babble,             // after the first request, random bytes at full rate, never a chatter frame
    PauseAfter,         // silent for `pauseMs` after `pollLimit` replies, then answers again
    // Every `every`th exchange is damaged at reply position `position` (1-based),
    // or at echo position `echoPosition` when that is set:
    FlippedBit,      // its top bit flipped, the checksum left as it was
    LostByte,        // that byte never sent: 70 bytes in the exchange
    DoubledByte,     // that byte sent twice: 72 bytes in the exchange
    PauseInReply,    // silent for `pauseMs` after that byte
    RepeatedChatter, // the chatter frame twice, 200 ms apart
};

std::optional<Scenario> scenarioFromName(const std::string& name);
std::vector<std::string> scenarioNames();

struct Options {
    Scenario scenario = Scenario::Normal;
    int responseDelayMs = 5;
    int replyAfterMs = 0;
    int pollLimit = 0;
    int bunchMs = 16;
    int pauseMs = 0;
    int every = 20;
    int position = 11;
    // When set, those scenarios damage this byte (1 to 4) of the echoed request instead.
    int echoPosition = 0;
    // Answer only while the line runs at 8192 baud, 8 data bits, no parity, 1 stop bit.
    bool checkLineSpeed = true;
    // Fixed values for reply positions 4 to 66 (1-based).
    std::map<int, int> fixedBytes;
    double coolantStartDegrees = 20;
    std::string transcriptPath;
    unsigned seed = 1;
};

struct Stats {
    int sessions = 0;
    int requestsSeen = 0;
    int requestsIgnored = 0; // wrong line speed
    int chatterSent = 0;
    int repliesSent = 0;
    std::uint32_t lastBaudSeen = 0;
    bool lastLineOk = false;
    // The least time a byte took on the wire after the one before: between
    // the ends of two writes, or, behind a USB adapter, between the times the
    // bytes it hands over came. Never less than a byte time.
    std::chrono::nanoseconds closestBytes = std::chrono::nanoseconds::max();
};

using frames::kBaud;
using frames::kByteTime;

class Simulator {
public:
    explicit Simulator(Options options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pseudo-terminal and starts answering on a thread of its own.
    void start();
    // Stops the thread and closes the line. Writes the transcript's summary.
    void stop();

    const std::string& devicePath() const { return devicePath_; }
    Stats stats() const;
    // True once the line was hung up on purpose (HangUpAfter).
    bool hungUp() const { return hungUp_; }

private:
    using Clock = std::chrono::steady_clock;

    // The next mode 1 reply of the engine model (67 bytes, valid checksum).
    std::vector<std::uint8_t> makeReply();

    void run();
    void runSession();
    bool waitForOpen();
    void answer();
    bool lineOk();
    bool receive();
    void pauseIfDue();
    void sendExchange(std::vector<std::uint8_t> reply, std::chrono::milliseconds delay);
    void babble();
    void send(const std::vector<std::uint8_t>& bytes, std::chrono::milliseconds delay,
              std::size_t lastBurst = 1);
    bool sendFrom(Clock::time_point start, const std::vector<std::uint8_t>& bytes,
                  std::size_t lastBurst = 1);
    void left(std::size_t count, Clock::time_point when);
    Clock::time_point handedOver(Clock::time_point due) const;
    bool writeAll(const std::uint8_t* bytes, std::size_t count, Clock::time_point& handed);
    void log(const char* direction, const std::uint8_t* bytes, std::size_t count);
    bool sleepUntil(Clock::time_point when);
    bool lineClosed() const;
    void bump(int Stats::*counter);
    std::uint32_t nextRandom();
    void hangUp();

    Options options_;
    int master_ = -1;
    std::string devicePath_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> hungUp_{false};
    mutable std::mutex statsMutex_;
    Stats stats_;
    std::FILE* transcript_ = nullptr;
    Clock::time_point started_;
    Clock::time_point sessionStarted_;
    Clock::time_point lastLeft_; // when the last byte sent left the wire
    bool chatterDone_ = false;
    int repliesThisSession_ = 0;
    Clock::time_point silentUntil_;
    std::vector<std::uint8_t> pending_;
    std::uint32_t rng_;
    int iac_ = 40;
};

} // namespace ecmsim
