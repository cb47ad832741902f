// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/ecm_sim/ecm_simulator.h"

// Kernel termios2 to read the line speed the program set on its side.
#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <unistd.h>

namespace ecmsim {
namespace {

const std::vector<std::uint8_t> kRequest{0xF0, 0x56, 0x01, 0xB9};
const std::vector<std::uint8_t> kChatter{0xF0, 0x55, 0xBB};
constexpr int kReplyLength = 67;

const std::map<std::string, Scenario> kScenarios{
    {"normal", Scenario::Normal},
    {"silent", Scenario::Silent},
    {"stray-before-chatter", Scenario::StrayBeforeChatter},
    {"stray-after-chatter", Scenario::StrayAfterChatter},
    {"chatter-only", Scenario::ChatterOnly},
    {"short-reply", Scenario::ShortReply},
    {"wrong-header", Scenario::WrongHeader},
    {"wrong-checksum", Scenario::WrongChecksum},
    {"late-reply", Scenario::LateReply},
    {"stop-after", Scenario::StopAfter},
    {"noise", Scenario::Noise},
    {"hang-up-after", Scenario::HangUpAfter},
    {"glued-junk", Scenario::GluedJunk},
    {"usb-bunches", Scenario::UsbBunches},
    {"babble", Scenario::Babble},
    {"pause-after", Scenario::PauseAfter},
    {"flipped-bit", Scenario::FlippedBit},
    {"lost-byte", Scenario::LostByte},
    {"doubled-byte", Scenario::DoubledByte},
    {"pause-in-reply", Scenario::PauseInReply},
    {"repeated-chatter", Scenario::RepeatedChatter},
};

} // namespace

std::optional<Scenario> scenarioFromName(const std::string& name) {
    const auto it = kScenarios.find(name);
    return it == kScenarios.end() ? std::nullopt : std::optional(it->second);
}

std::vector<std::string> scenarioNames() {
    std::vector<std::string> names;
    for (const auto& [name, scenario] : kScenarios)
        names.push_back(name);
    return names;
}

Simulator::Simulator(Options options) : options_(std::move(options)), rng_(options_.seed) {
    for (const auto& [position, value] : options_.fixedBytes) {
        if (position < 4 || position > 66 || value < 0 || value > 255)
            throw std::invalid_argument("fixed bytes must be positions 4 to 66, values 0 to 255");
    }
    if (options_.every < 1 || options_.position < 1 || options_.position > kReplyLength ||
        options_.echoPosition < 0 || options_.echoPosition > int(kRequest.size()))
        throw std::invalid_argument("--every wants 1 or more, --pos 1 to 67, --echo-pos 1 to 4");
}

Simulator::~Simulator() {
    stop();
}

void Simulator::start() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("cannot open a pseudo-terminal");
    devicePath_ = ptsname(master_);
    if (!options_.transcriptPath.empty()) {
        transcript_ = std::fopen(options_.transcriptPath.c_str(), "w");
        if (!transcript_)
            throw std::runtime_error("cannot write the transcript " + options_.transcriptPath);
    }
    started_ = Clock::now();
    thread_ = std::thread([this] {
        prctl(PR_SET_TIMERSLACK, 1UL); // see sleepUntil
        run();
    });
}

void Simulator::stop() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    hangUp();
    if (transcript_) {
        const Stats s = stats();
        std::fprintf(transcript_,
                     "summary: sessions %d, requests seen %d, ignored at a wrong line speed %d, "
                     "chatter frames sent %d, replies sent %d, line speed seen %u baud%s\n",
                     s.sessions, s.requestsSeen, s.requestsIgnored, s.chatterSent, s.repliesSent,
                     s.lastBaudSeen, s.lastLineOk ? " 8N1" : " (not 8N1)");
        std::fclose(transcript_);
        transcript_ = nullptr;
    }
}

Stats Simulator::stats() const {
    std::lock_guard lock(statsMutex_);
    return stats_;
}

void Simulator::hangUp() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

void Simulator::run() {
    while (!stopping_ && !hungUp_) {
        if (!waitForOpen())
            return;
        runSession();
    }
}

// The master reports a hang-up while nobody has the slave open.
bool Simulator::waitForOpen() {
    while (!stopping_) {
        if (!lineClosed())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void Simulator::runSession() {
    bump(&Stats::sessions);
    sessionStarted_ = Clock::now();
    chatterDone_ = false;
    repliesThisSession_ = 0;
    silentUntil_ = {};
    pauseIfDue();
    pending_.clear();

    while (!stopping_ && !hungUp_) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 10) < 0 && errno != EINTR)
            return;
        if (p.revents & POLLHUP)
            return; // the program closed the port
        if (!(p.revents & POLLIN) || !receive())
            continue;

        // Answer each complete request; anything else on the line is ignored.
        for (;;) {
            const auto at =
                std::search(pending_.begin(), pending_.end(), kRequest.begin(), kRequest.end());
            if (at == pending_.end()) {
                const std::size_t keep = std::min<std::size_t>(pending_.size(), 3);
                pending_.erase(pending_.begin(), pending_.end() - static_cast<long>(keep));
                break;
            }
            pending_.erase(pending_.begin(), at + static_cast<long>(kRequest.size()));
            answer();
            if (hungUp_ || stopping_)
                return;
        }
    }
}

// Adds what the program sent to pending_; false when nothing came.
bool Simulator::receive() {
    std::uint8_t buffer[256];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    log("program -> ECM", buffer, static_cast<std::size_t>(n));
    pending_.insert(pending_.end(), buffer, buffer + n);
    return true;
}

bool Simulator::lineOk() {
    termios2 tio{};
    const bool read = ioctl(master_, TCGETS2, &tio) == 0;
    const bool ok = read && tio.c_ospeed == kBaud && (tio.c_cflag & CSIZE) == CS8 &&
                    !(tio.c_cflag & PARENB) && !(tio.c_cflag & CSTOPB);
    std::lock_guard lock(statsMutex_);
    stats_.lastBaudSeen = read ? tio.c_ospeed : 0;
    stats_.lastLineOk = ok;
    return ok;
}

void Simulator::answer() {
    bump(&Stats::requestsSeen);
    if (!lineOk() && options_.checkLineSpeed) {
        bump(&Stats::requestsIgnored);
        return;
    }
    const Scenario scenario = options_.scenario;
    if (scenario == Scenario::Silent || Clock::now() < silentUntil_)
        return;
    const std::chrono::milliseconds delay(options_.responseDelayMs);

    if (scenario == Scenario::Babble) {
        babble();
        return;
    }
    if (!chatterDone_) {
        chatterDone_ = true;
        std::vector<std::uint8_t> chatter = kChatter;
        if (scenario == Scenario::StrayBeforeChatter)
            chatter.insert(chatter.begin(), 0x00);
        // A stray byte after the frame comes on its heels, in the same burst,
        // so the program never sees the frame alone.
        const bool glued = scenario == Scenario::StrayAfterChatter;
        if (glued)
            chatter.push_back(0x00);
        send(chatter, delay, glued ? 2 : 1);
        bump(&Stats::chatterSent);
        if (scenario == Scenario::RepeatedChatter) {
            send(kChatter, std::chrono::milliseconds(200));
            bump(&Stats::chatterSent);
        }
        return;
    }

    if (scenario == Scenario::ChatterOnly)
        return;
    const bool limited = scenario == Scenario::StopAfter || scenario == Scenario::HangUpAfter;
    if (limited && repliesThisSession_ >= options_.pollLimit) {
        if (scenario == Scenario::HangUpAfter) {
            hungUp_ = true;
            hangUp();
        }
        return;
    }

    sendExchange(makeReply(), scenario == Scenario::LateReply
                                  ? std::chrono::milliseconds(options_.replyAfterMs)
                                  : delay);
    ++repliesThisSession_;
    bump(&Stats::repliesSent);
    pauseIfDue();
    if (scenario == Scenario::Noise) {
        std::vector<std::uint8_t> noise(1 + rng_ % 3);
        for (auto& b : noise)
            b = static_cast<std::uint8_t>(nextRandom());
        send(noise, std::chrono::milliseconds(2));
    }
}

// The echoed request and the reply, with the scenario's damage.
void Simulator::sendExchange(std::vector<std::uint8_t> reply, std::chrono::milliseconds delay) {
    const Scenario scenario = options_.scenario;
    if (scenario == Scenario::WrongHeader)
        reply[2] = 0x02;
    if (scenario == Scenario::WrongChecksum)
        reply[kReplyLength - 1] = static_cast<std::uint8_t>(reply[kReplyLength - 1] + 1);
    if (scenario == Scenario::ShortReply)
        reply.pop_back();
    std::vector<std::uint8_t> exchange = kRequest; // the one-wire bus echoes the request
    exchange.insert(exchange.end(), reply.begin(), reply.end());
    const bool damaged = (repliesThisSession_ + 1) % options_.every == 0;
    const long index = options_.echoPosition > 0
                           ? options_.echoPosition - 1
                           : static_cast<long>(kRequest.size()) + options_.position - 1;
    const auto at = exchange.begin() + index;
    if (damaged && scenario == Scenario::FlippedBit)
        *at ^= 0x80;
    if (damaged && scenario == Scenario::LostByte)
        exchange.erase(at);
    if (damaged && scenario == Scenario::DoubledByte)
        exchange.insert(at, *at);
    if (damaged && scenario == Scenario::PauseInReply) {
        send({exchange.begin(), at + 1}, delay);
        send({at + 1, exchange.end()}, std::chrono::milliseconds(options_.pauseMs));
        return;
    }
    // Junk on the heels of the last byte, so the program never sees the exchange end alone.
    const bool glued = scenario == Scenario::GluedJunk;
    for (int i = 0; glued && i < 2; ++i)
        exchange.push_back(static_cast<std::uint8_t>(nextRandom()));
    send(exchange, delay, glued ? 3 : 1);
}

void Simulator::pauseIfDue() {
    if (options_.scenario == Scenario::PauseAfter && repliesThisSession_ == options_.pollLimit)
        silentUntil_ = Clock::now() + std::chrono::milliseconds(options_.pauseMs);
}

// A wrong device, or the right one at a wrong speed: random bytes at the
// link's full rate until the program lets go. The stream never holds a
// chatter frame, which would pass for the ECM's.
void Simulator::babble() {
    const auto start = Clock::now() + std::chrono::milliseconds(options_.responseDelayMs);
    const unsigned chatterHead = kChatter[0] << 8 | kChatter[1];
    unsigned lastTwo = 0;
    std::vector<std::uint8_t> chunk(8);
    for (long sent = 0;; sent += static_cast<long>(chunk.size())) {
        for (auto& b : chunk) {
            b = static_cast<std::uint8_t>(nextRandom());
            if (lastTwo == chatterHead && b == kChatter[2])
                b = static_cast<std::uint8_t>(b + 1);
            lastTwo = (lastTwo << 8 | b) & 0xFFFF;
        }
        if (!sendFrom(start + kByteTime * sent, chunk))
            return;
        receive(); // requests go unanswered
        pending_.clear();
    }
}

void Simulator::bump(int Stats::*counter) {
    std::lock_guard lock(statsMutex_);
    ++(stats_.*counter);
}

// A small linear congruential generator: the same seed gives the same engine.
std::uint32_t Simulator::nextRandom() {
    rng_ = rng_ * 1103515245u + 12345u;
    return rng_ >> 16;
}

std::vector<std::uint8_t> Simulator::makeReply() {
    const double t = std::chrono::duration<double>(Clock::now() - sessionStarted_).count();

    // An idling engine warming up from its start temperature towards 90 degrees.
    const double start = options_.coolantStartDegrees;
    const double coolant = 90 - (90 - start) * std::exp(-t / 300);
    auto coolantByte = [](double degrees) {
        return static_cast<std::uint8_t>(std::clamp(std::lround((degrees + 40) / 0.75), 0L, 255L));
    };
    const bool blip = std::fmod(t, 7.0) < 0.4;
    iac_ = std::clamp(iac_ + static_cast<int>(nextRandom() % 3) - 1, 20, 60);

    std::vector<std::uint8_t> reply(kReplyLength, 0);
    reply[0] = 0xF0;
    reply[1] = 0x95;
    reply[2] = 0x01;
    for (int pos = 4; pos <= 66; ++pos)
        reply[pos - 1] = static_cast<std::uint8_t>((pos * 37) & 0x7F);
    reply[7 - 1] = coolantByte(coolant);
    reply[8 - 1] = coolantByte(start);
    reply[9 - 1] = static_cast<std::uint8_t>(blip ? 70 + nextRandom() % 30 : 25 + nextRandom() % 3);
    reply[11 - 1] = static_cast<std::uint8_t>(31 + nextRandom() % 3); // 775 to 825 rpm
    reply[25 - 1] = static_cast<std::uint8_t>(iac_);
    reply[34 - 1] = static_cast<std::uint8_t>(139 + nextRandom() % 3); // about 14 V
    for (const auto& [position, value] : options_.fixedBytes)
        reply[position - 1] = static_cast<std::uint8_t>(value);

    unsigned sum = 0;
    for (int i = 0; i < kReplyLength - 1; ++i)
        sum += reply[i];
    reply[kReplyLength - 1] = static_cast<std::uint8_t>((256 - sum % 256) % 256);
    return reply;
}

bool Simulator::lineClosed() const {
    pollfd p{master_, 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
}

// A byte waits for the one before it, so a wake-up that comes late makes the
// whole reply late: the system's sleeps overshoot by tens of microseconds,
// which over a reply's 71 bytes is several per cent of the link. So the
// thread sleeps with the least timer slack, wakes short of the time, and
// spins the rest.
bool Simulator::sleepUntil(Clock::time_point when) {
    constexpr auto kSpin = std::chrono::microseconds(150);
    while (!stopping_) {
        const auto now = Clock::now();
        if (now >= when)
            return true;
        if (when - now > kSpin)
            std::this_thread::sleep_for(
                std::min<Clock::duration>(when - now - kSpin, std::chrono::milliseconds(20)));
    }
    return false;
}

void Simulator::send(const std::vector<std::uint8_t>& bytes, std::chrono::milliseconds delay,
                     std::size_t lastBurst) {
    sendFrom(Clock::now() + delay, bytes, lastBurst);
}

// Bytes leave as on a wire: each no sooner than one byte time after the one
// before it actually left, so a late byte makes the rest late, never faster.
// Byte k is due complete on the wire at start + (k + 1) byte times; the last
// `lastBurst` bytes go out together, when the last of them is complete.
// Sending stops when the program closes the port: a pseudo-terminal would
// keep the rest and hand it to whoever opens it next.
bool Simulator::sendFrom(Clock::time_point start, const std::vector<std::uint8_t>& bytes,
                         std::size_t lastBurst) {
    const std::size_t burstFrom =
        bytes.size() - std::min(bytes.size(), std::max<std::size_t>(lastBurst, 1));
    // When byte k is complete, the one before it having been complete at `previous`.
    auto onWire = [&](std::size_t k, Clock::time_point previous) {
        return std::max(start + kByteTime * static_cast<long>(k + 1), previous + kByteTime);
    };
    for (std::size_t k = 0, end; k < bytes.size(); k = end) {
        Clock::time_point last = onWire(k, lastLeft_);
        for (end = k + 1; end < bytes.size() && end > burstFrom; ++end)
            last = onWire(end, last);
        const auto at = handedOver(last);
        // What is on the wire by then goes in the same write.
        for (; end < burstFrom && onWire(end, last) <= at; ++end)
            last = onWire(end, last);
        Clock::time_point handed;
        if (!sleepUntil(at) || lineClosed() || !writeAll(&bytes[k], end - k, handed))
            return false;
        left(end - k, at == last ? handed : last);
    }
    log("ECM -> program", bytes.data(), bytes.size());
    return true;
}

// Notes when the last of the bytes just written left the wire: without an
// adapter the write is the wire, and a late one delays the rest; an adapter
// hands over late what the wire brought on time. Also notes the least time
// a byte took on the wire, from the one before.
void Simulator::left(std::size_t count, Clock::time_point when) {
    {
        std::lock_guard lock(statsMutex_);
        stats_.closestBytes = std::min<Clock::duration>(
            stats_.closestBytes, (when - lastLeft_) / static_cast<long>(count));
    }
    lastLeft_ = when;
}

// A USB adapter hands over what it received when its latency timer runs out.
Simulator::Clock::time_point Simulator::handedOver(Clock::time_point due) const {
    if (options_.scenario != Scenario::UsbBunches || options_.bunchMs <= 0)
        return due;
    const Clock::duration bunch = std::chrono::milliseconds(options_.bunchMs);
    return started_ + bunch * ((due - started_ + bunch - Clock::duration(1)) / bunch);
}

// A full line is retried until the program reads, lets go, or we stop.
// `handed` is when the line was given the last of the bytes: a byte leaves
// then, and the write call's own cost is this machine's time, not the wire's.
bool Simulator::writeAll(const std::uint8_t* bytes, std::size_t count, Clock::time_point& handed) {
    while (count > 0) {
        handed = Clock::now();
        const ssize_t n = ::write(master_, bytes, count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<std::size_t>(n);
        } else if (errno != EAGAIN || stopping_ || lineClosed()) {
            return false;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return true;
}

void Simulator::log(const char* direction, const std::uint8_t* bytes, std::size_t count) {
    if (!transcript_)
        return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_);
    std::fprintf(transcript_, "%8lld ms %s:", static_cast<long long>(ms.count()), direction);
    for (std::size_t i = 0; i < count; ++i)
        std::fprintf(transcript_, " %02X", bytes[i]);
    std::fputc('\n', transcript_);
    std::fflush(transcript_);
}

} // namespace ecmsim
