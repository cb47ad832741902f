// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the real connection sequence through the scripted link: the input
// decides what the line delivers for each request, in which bunches and when.
// Any finding of lineViolations() aborts, so libFuzzer keeps the input: it
// checks each decoded reply against the replies this script built.
#include "fuzz/line_oracle.h"

#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

// The echoed request and a right reply whose data bytes the input chose.
QByteArray exchange(FuzzedDataProvider& in) {
    QByteArray reply = frames::toBytes(frames::kMode1ReplyHeader);
    const std::uint8_t fill = in.ConsumeIntegral<std::uint8_t>();
    for (int i = 0; i < 63; ++i)
        reply += char(i == 7 ? in.ConsumeIntegral<std::uint8_t>() : fill);
    unsigned sum = 0;
    for (char c : reply)
        sum += static_cast<unsigned char>(c);
    reply += char((256 - sum % 256) % 256);
    return frames::toBytes(frames::kMode1Request) + reply;
}

QByteArray junk(FuzzedDataProvider& in, int most) {
    const std::string bytes = in.ConsumeBytesAsString(in.ConsumeIntegralInRange(1, most));
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

// One request's answer: damage anywhere in the exchange, then handed over in
// bunches of at most 13 bytes (a USB adapter's 16 ms), never sooner than the
// wire carries them, with pauses where the input puts them.
std::vector<std::pair<std::int64_t, QByteArray>> answer(FuzzedDataProvider& in,
                                                        std::set<QByteArray>& built) {
    QByteArray ex = exchange(in);
    built.insert(ex.mid(frames::kLeadingBytes));
    std::int64_t at = in.ConsumeIntegralInRange(0, 160);
    for (int damage = in.ConsumeIntegralInRange(0, 3); damage > 0; --damage) {
        const int pos = in.ConsumeIntegralInRange(0, int(ex.size()) - 1);
        switch (in.ConsumeIntegralInRange(0, 8)) {
        case 0:
            ex[pos] = char(ex[pos] ^ (1 << in.ConsumeIntegralInRange(0, 7)));
            break;
        case 1:
            ex.remove(pos, 1);
            break;
        case 2:
            ex.insert(pos, ex[pos]);
            break;
        case 3:
            ex.prepend(junk(in, 8));
            break;
        case 4:
            ex.append(junk(in, 4));
            break;
        case 5:
            ex.truncate(pos);
            break;
        case 6:
            ex.prepend(frames::toBytes(frames::kChatterFrame));
            break;
        case 7:
            at = in.ConsumeIntegralInRange(150, 2200);
            break; // a slow ECM, or none in time
        default:
            return {}; // silence
        }
        if (ex.isEmpty())
            return {};
    }
    const int bunch = in.ConsumeIntegralInRange(1, 13);
    const int pauseAfter = in.ConsumeIntegralInRange(0, int(ex.size())),
              pauseMs = in.ConsumeIntegralInRange(0, 40);
    std::vector<std::pair<std::int64_t, QByteArray>> out;
    for (qsizetype k = 0; k < ex.size(); k += bunch) {
        const QByteArray part = ex.mid(k, bunch);
        const std::int64_t pause = k + part.size() > pauseAfter ? pauseMs : 0;
        out.push_back({at + frames::wireMs(k + part.size()) + pause, part});
    }
    return out;
}

// Damage can by chance make bytes that read as a right reply the ECM never
// sent (an 8-bit sum misses one change in 256); no program can tell such a
// reply from a real one, so the input is left out.
bool formsAReplyNeverSent(const RecordingHost& b) {
    QByteArray line;
    for (const auto& [request, parts] : b.answers)
        for (const auto& [at, bytes] : parts)
            line += bytes;
    const QByteArray header = frames::toBytes(frames::kMode1ReplyHeader);
    for (qsizetype at = line.indexOf(header); at >= 0; at = line.indexOf(header, at + 1)) {
        const QByteArray reply = line.mid(at, frames::kReplyLength);
        unsigned sum = 0;
        for (char c : reply)
            sum += static_cast<unsigned char>(c);
        if (reply.size() == frames::kReplyLength && sum % 256 == 0 &&
            !b.builtReplies.contains(reply))
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    RecordingHost b;
    b.oneWire = true;
    const std::int64_t chatterAt = in.ConsumeIntegralInRange(1, 300);
    b.answers[0] = {{chatterAt, frames::toBytes(frames::kChatterFrame)}};
    if (in.ConsumeBool())
        b.answers[0].push_back({chatterAt + 20, frames::toBytes(frames::kChatterFrame)});
    int requests = 1;
    for (; requests < 40 && in.remaining_bytes() > 0; ++requests)
        b.answers[requests] = answer(in, b.builtReplies);
    for (int e = in.ConsumeIntegralInRange(0, 8); e > 0; --e)
        b.windowEvents.insert(1000 + in.ConsumeIntegralInRange(0, 40000));
    b.yieldsLeft = 10 * requests + 40;
    if (formsAReplyNeverSent(b))
        return -1;
    b.run();
    const std::vector<std::string> found = lineViolations(b);
    if (!found.empty()) {
        for (const std::string& v : found)
            std::fprintf(stderr, "%s\n", v.c_str());
        // What the line delivered after each request, to write the finding down as a test.
        for (const auto& d : b.delivered)
            std::fprintf(stderr, "request %d sent at %lld: at %lld %s\n", d.afterRequests - 1,
                         static_cast<long long>(b.requestTimes[size_t(d.afterRequests) - 1]),
                         static_cast<long long>(d.at), qPrintable(frames::hexText(d.bytes)));
        std::abort();
    }
    return 0;
}
