// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/connection_sequence.h"
#include "link/frame_checks.h"
#include "link/frames.h"

#include <QStringList>
#include <map>
#include <set>
#include <string>
#include <vector>

inline const QString kConnected = "Connected", kNotConnected = "Not Connected";

struct EndOfTest {};
using Answers = std::map<int, std::vector<std::pair<std::int64_t, QByteArray>>>;

// The connection sequence's window, port and clock, faked, with a scripted
// ECM behind the port; for the sequence's tests and the fuzzer. The clock moves 1 ms on every
// reading, so which reading a deadline comes from shows; a waiting yield jumps to the first moment
// something would wake the real window. It notes any decode of other bytes than the reply the
// header test passed, and any status other than "Connected" for exactly the 2000 ms after an
// accepted reply.
struct FakeHost : aldl::SequenceWindow, aldl::SequencePort, aldl::TickClock {
    std::int64_t now = 1000, lastRead = 0, acceptedAt = 0;
    int yieldsLeft = 100000, threshold = 0, decodesLeft = -1, requests = 0;
    Answers answers; // request number -> (ms after it was sent, bytes that arrive then)
    std::multimap<std::int64_t, QByteArray> inFlight;
    std::set<std::int64_t> windowEvents;
    bool eventAtEachDeadline = false;
    // One wire: an answer starts only once what is already on it has come.
    bool oneWire = false;
    std::vector<std::string> portCalls;
    std::vector<int> thresholds, decoded;
    std::vector<std::int64_t> requestTimes;
    struct Delivery {
        std::int64_t at;
        int afterRequests;
        QByteArray bytes;
    };
    std::vector<Delivery> delivered; // what the program read, with when it was there
    std::vector<std::pair<std::int64_t, QByteArray>> decodedFrames;
    QStringList sent, received, warnings;
    QString caption = kNotConnected;
    std::set<QByteArray> builtReplies; // filled by the script: what the ECM sent
    QByteArray headerPassed;           // the last buffer the header test passed
    std::vector<std::string> violations;

    // Runs the sequence; true when it returned by itself (a failure).
    bool run() {
        try {
            aldl::ConnectionSequence(*this, *this, *this).run();
            return true;
        } catch (const EndOfTest&) {
            return false;
        }
    }

    std::int64_t tick() override { return lastRead = now++; }
    void setInputLen(int n) override { portCalls.push_back("InputLen=" + std::to_string(n)); }
    void setCommPort(int n) override { portCalls.push_back("CommPort=" + std::to_string(n)); }
    void setPortOpen(bool open) override { portCalls.push_back(open ? "open" : "close"); }
    void setBaudRate(std::int32_t b) override { portCalls.push_back("baud=" + std::to_string(b)); }
    void setRThreshold(int bytes) override { thresholds.push_back(threshold = bytes); }
    void output(const QByteArray& b) override {
        if (b != frames::toBytes(frames::kMode1Request))
            violations.push_back("sent " + frames::hexText(b).toStdString());
        requestTimes.push_back(now);
        const auto& answer = answers[requests];
        std::int64_t later = 0;
        if (oneWire && !answer.empty() && !inFlight.empty())
            later = std::max<std::int64_t>(0, inFlight.rbegin()->first + 2 - now);
        for (const auto& [after, data] : answer)
            inFlight.insert({now + after + later, data});
        ++requests;
    }
    QByteArray input() override {
        QByteArray out;
        for (auto it = inFlight.begin(); it != inFlight.end() && it->first <= now;) {
            delivered.push_back({it->first, requests, it->second});
            out += it->second, it = inFlight.erase(it);
        }
        return out;
    }
    int portNumber() override { return 3; }
    void addSentLine(const QString& t) override { sent << t; }
    void parse_as_hex(QByteArray t) override {
        if (!t.isEmpty())
            received << frames::hexText(t);
    }
    void check_packet(const QByteArray& buffer, bool& connected) override {
        if ((connected = frames::hasReplyHeader(buffer)))
            caption = kConnected, headerPassed = buffer, acceptedAt = now;
    }
    void showNotConnected() override {
        if (lastRead <= acceptedAt + aldl::kReplyTimeoutMs)
            violations.push_back("Not Connected too soon at " + std::to_string(lastRead));
        caption = kNotConnected;
    }
    void apply_data(std::span<const std::int32_t> d) override {
        QByteArray frame;
        for (std::int32_t v : d)
            frame += char(v);
        if (!frame.startsWith(frames::toBytes(frames::kMode1ReplyHeader)) ||
            frame != headerPassed.mid(frames::kLeadingBytes, frames::kReplyLength))
            violations.push_back("decoded " + frames::hexText(frame).toStdString());
        decoded.push_back(d[10]);
        decodedFrames.push_back({now, frame});
        if (--decodesLeft == 0)
            throw EndOfTest{};
    }
    void showWarning(const QString& p, const QString& t) override { warnings << p + " / " + t; }
    void yield() override {
        if (--yieldsLeft < 0)
            throw EndOfTest{};
        if (caption == kConnected && lastRead > acceptedAt + aldl::kReplyTimeoutMs)
            violations.push_back("still Connected at " + std::to_string(lastRead));
    }
    void yieldUntil(std::int64_t deadline) override {
        yield();
        if (caption == kConnected && deadline > acceptedAt + aldl::kReplyTimeoutMs)
            violations.push_back("sleeps Connected past the silence at " + std::to_string(now));
        std::int64_t wake = eventAtEachDeadline && now < deadline ? deadline : deadline + 1;
        if (auto e = windowEvents.lower_bound(now); e != windowEvents.end())
            wake = std::min(wake, *e);
        qsizetype waiting = 0;
        for (const auto& [at, data] : inFlight)
            if ((waiting += data.size()) >= std::max(threshold, 1)) {
                wake = std::min(wake, at);
                break;
            }
        now = std::max(now, wake);
    }
};

// Checks a run against what the ECM sent and the line delivered: each decoded
// reply is one the ECM built (`builtReplies`, before the line damaged any)
// and lies, whole, in what the program read, after the one decoded before it; on a line that hands
// bytes over no faster than the wire carries them (`paced`), once it went quiet with an exchange
// begun but not whole, the next request follows within the missing bytes' time on the wire plus 60
// ms. Adds the fake host's own findings about the status.
inline std::vector<std::string> lineViolations(const FakeHost& b, bool paced = true) {
    std::vector<std::string> out = b.violations;
    const QByteArray header = QByteArray::fromHex("F09501"), echo = QByteArray::fromHex("F05601B9"),
                     chatter = QByteArray::fromHex("F055BB");
    QByteArray stream;
    for (const auto& d : b.delivered)
        stream += d.bytes;
    qsizetype cursor = 0;
    for (const auto& [at, frame] : b.decodedFrames) {
        const qsizetype found = stream.indexOf(frame, cursor);
        if (!b.builtReplies.contains(frame) || found < 0)
            out.push_back("decoded at " + std::to_string(at) + ": " +
                          frames::hexText(frame).toStdString());
        else
            cursor = found + frame.size();
    }
    for (int i = 1; paced && i + 1 < int(b.requestTimes.size()); ++i) {
        QByteArray ex;
        std::int64_t quietFrom = 0;
        for (const auto& d : b.delivered)
            if (d.afterRequests == i + 1)
                ex += d.bytes, quietFrom = std::max(quietFrom, d.at);
        qsizetype ahead = 0;
        while (ex.mid(ahead, 3) == chatter)
            ahead += 3;
        const qsizetype at = ex.mid(4, 3) == header ? 0 : ex.indexOf(echo + header);
        const qsizetype missing = std::max<qsizetype>(at, 0) + 71 - ex.size();
        const std::int64_t took = b.requestTimes[size_t(i) + 1] - quietFrom;
        if (ex.size() - ahead > 4 && missing > 0 && took > frames::wireMs(missing) + 60)
            out.push_back("exchange " + std::to_string(i) + " short by " + std::to_string(missing) +
                          " ended " + std::to_string(took) + " ms after the line went quiet");
    }
    return out;
}
