// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/exchange_reader.h"

#include "link/frames.h"
#include "tests/support/fake_host.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kExchange = frames::toBytes(frames::kMode1Request) +
                             frames::toBytes(frames::kMode1ReplyHeader) + QByteArray(64, 0x20);

// The exchange byte by byte at the wire's pace.
Answers::mapped_type trickle() {
    Answers::mapped_type line;
    for (int i = 0; i < kExchange.size(); ++i)
        line.push_back({90 + frames::wireMs(i + 1), kExchange.mid(i, 1)});
    return line;
}

// When a read ends: a whole exchange at once, after a few wake-ups even when
// its bytes trickle in; a short one soon after the line went quiet, but not
// during a pause the ECM may make.
TEST(ExchangeReader, EndsWhenWholeOrAfterASilence) {
    // clang-format off
    const struct { const char* name; Answers::mapped_type line; bool whole; std::int64_t endsBy; } cases[] = {
        {"paused for 30 ms", {{90, kExchange.left(40)}, {120, kExchange.mid(40)}}, true, 122},
        {"trickling", trickle(), true, 90 + frames::wireMs(71) + 2},
        {"11 short", {{90, kExchange.left(60)}}, false, 90 + aldl::kByteGapMs + 2},
    };
    // clang-format on
    for (const auto& c : cases) {
        FakeHost b;
        b.answers[0] = c.line;
        b.output(frames::toBytes(frames::kMode1Request));
        const std::int64_t sentAt = b.tick();
        aldl::ExchangeReader reader(b, b, [&](int bytes, std::int64_t deadline) {
            b.setRThreshold(bytes);
            b.yieldUntil(deadline);
        });
        EXPECT_EQ(reader.read(sentAt, true).whole, c.whole) << c.name;
        EXPECT_LE(b.now - sentAt, c.endsBy) << c.name;
        EXPECT_GE(b.now - sentAt, c.endsBy - 12) << c.name;
        EXPECT_LE(b.thresholds.size(), 3u) << c.name;
    }
}

} // namespace
