// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/exchange_reader.h"

#include "link/frames.h"
#include "tests/support/fake_host.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kExchange = frames::toBytes(frames::kMode1Request) +
                             frames::toBytes(frames::kMode1ReplyHeader) + QByteArray(64, 0x20);

// When a read ends and what it hands back: whole exchanges at once, behind
// stray bytes too; a short one at the deadline, or, when silence may end it,
// soon after the line went quiet (the wire time of the missing bytes plus a
// margin), but not during a pause the ECM may make.
TEST(ExchangeReader, EndsWhenWholeAtTheDeadlineOrAfterASilence) {
    const QByteArray stray = QByteArray::fromHex("5A00");
    // clang-format off
    const struct { const char* name; Answers::mapped_type line; bool onSilence; bool whole; qsizetype start; std::int64_t endsBy; } cases[] = {
        {"whole", {{90, kExchange}}, true, true, 0, 92},
        {"behind stray bytes", {{90, stray + kExchange}}, true, true, 2, 92},
        {"paused for 30 ms", {{90, kExchange.left(40)}, {120, kExchange.mid(40)}}, true, true, 0, 122},
        {"11 short, silence ends it", {{90, kExchange.left(60)}}, true, false, 0, 90 + aldl::kByteGapMs + 2},
        {"40 short, later", {{90, kExchange.left(31)}}, true, false, 0, 90 + frames::wireMs(40) + aldl::kReadSlackMs + 2},
        {"short, the deadline ends it", {{90, kExchange.left(60)}}, false, false, 0, 2002},
        {"only the echo", {{90, kExchange.left(4)}}, true, false, 0, 2002},
        {"nothing", {}, true, false, 0, 2002},
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
        const aldl::Exchange read = reader.read(sentAt, c.onSilence);
        EXPECT_EQ(std::tuple(read.whole, read.start), std::tuple(c.whole, c.start)) << c.name;
        EXPECT_LE(b.now - sentAt, c.endsBy) << c.name;
        EXPECT_GE(b.now - sentAt, c.endsBy - 12) << c.name;
    }
}

} // namespace
