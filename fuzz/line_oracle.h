// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/frames.h"
#include "tests/support/fake_host.h"

#include <set>
#include <string>
#include <vector>

// The fake host, noting also what the line delivered and what was decoded,
// and told which replies the scripted ECM built.
struct RecordingHost : FakeHost {
    struct Delivery {
        std::int64_t at;
        int afterRequests;
        QByteArray bytes;
    };
    std::vector<Delivery> delivered; // what the program read, with when it was there
    std::vector<std::pair<std::int64_t, QByteArray>> decodedFrames;
    std::set<QByteArray> builtReplies; // before the line damaged any
    std::vector<std::int64_t> requestTimes;

    void output(const QByteArray& bytes) override {
        requestTimes.push_back(now);
        FakeHost::output(bytes);
    }
    QByteArray input() override {
        for (auto it = inFlight.begin(); it != inFlight.end() && it->first <= now; ++it)
            delivered.push_back({it->first, requests, it->second});
        return FakeHost::input();
    }
    void apply_data(std::span<const std::int32_t> d) override {
        QByteArray frame;
        for (std::int32_t v : d)
            frame += char(v);
        decodedFrames.push_back({now, frame});
        FakeHost::apply_data(d);
    }
};

// The fuzzer's oracle. Checks a run against what the ECM sent and the line
// delivered: each decoded reply is one the ECM built (`builtReplies`, before
// the line damaged any) and lies, whole, in what the program read, after the
// one decoded before it. Once the line went quiet with an exchange begun but
// not whole, the next request follows within the missing bytes' time on the
// wire plus 60 ms (the script hands bytes over no faster than the wire
// carries them). Adds the fake host's own findings about the status.
inline std::vector<std::string> lineViolations(const RecordingHost& b) {
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
    for (int i = 1; i + 1 < int(b.requestTimes.size()); ++i) {
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
