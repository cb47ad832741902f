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
    QStringList sent, received, warnings;
    QString caption = kNotConnected;
    QByteArray headerPassed; // the last buffer the header test passed
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
        for (auto it = inFlight.begin(); it != inFlight.end() && it->first <= now;)
            out += it->second, it = inFlight.erase(it);
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
