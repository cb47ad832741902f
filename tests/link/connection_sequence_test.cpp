// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/connection_sequence.h"

#include "link/frame_checks.h"
#include "link/frames.h"
#include "tests/support/fake_host.h"
#include "tests/support/print.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <random>

namespace {

const QByteArray kChatter = frames::toBytes(frames::kChatterFrame);

// The echoed request and a reply whose engine-speed byte (reply position 11)
// is `rpmByte`, to tell replies apart, with a right checksum.
QByteArray exchange(int rpmByte) {
    QByteArray reply = frames::toBytes(frames::kMode1ReplyHeader) + QByteArray(64, 0x20);
    reply[10] = char(rpmByte);
    reply[66] = char(0x100 - (0xF0 + 0x95 + 0x01 + 62 * 0x20 + rpmByte) % 0x100);
    return frames::toBytes(frames::kMode1Request) + reply;
}

// The same exchange with one reply byte (1-based reply position `pos`) damaged:
// 'f' flips a bit and leaves the checksum as it was, 'l' loses the byte, 'd'
// doubles it. An 8-bit sum misses one reordering in 256: the damage moves on
// to where the sum shows it, summed here so that the program's test can fail.
QByteArray damaged(const QByteArray& ex, char kind, int pos, int bit = 7) {
    auto sumsRight = [](const QByteArray& bytes) {
        unsigned sum = 0;
        for (char c : bytes.mid(4, 67))
            sum += static_cast<unsigned char>(c);
        return bytes.size() >= 71 && sum % 256 == 0;
    };
    QByteArray out;
    for (int i = frames::kLeadingBytes + pos - 1, tries = 0; tries < 67;
         i = frames::kLeadingBytes + (i - 3) % 67, ++tries) {
        out = ex;
        out = kind == 'f'   ? out.replace(i, 1, QByteArray(1, char(ex[i] ^ (1 << bit))))
              : kind == 'l' ? out.remove(i, 1)
                            : out.insert(i, ex[i]);
        if (!sumsRight(out))
            break;
    }
    return out;
}

// Open, 8192 baud, chatter, one exchange; each pass of the chatter wait logs
// the whole buffer.
TEST(Sequence, OpensThePortAndLogsTheWholeBufferEachPass) {
    FakeHost b;
    b.answers = {{0, {{10, kChatter.left(1)}, {30, kChatter.mid(1, 1)}, {50, kChatter.right(1)}}},
                 {1, {{20, exchange(40).left(30)}, {60, exchange(40).mid(30)}}}};
    b.windowEvents = {1015, 1020, 1040, 1090};
    b.decodesLeft = 1;
    b.run();
    EXPECT_EQ(b.received,
              (QStringList{"F0 ", "F0 ", "F0 55 ", "F0 55 BB ", frames::hexText(exchange(40))}));
    const std::vector<std::string> opening{"InputLen=0", "CommPort=3", "open", "baud=8192"};
    // The first request is not listed.
    EXPECT_EQ(std::tuple(b.portCalls, b.sent, b.requests, b.caption),
              std::tuple(opening, QStringList("F0 56  01 B9"), 2, kConnected));
}

// How the first exchange ends: in time, or with one warning and the port
// closed. The chatter deadline is read before the first request goes out, the
// reply deadline after the second; a tick equal to a deadline is still in time
// (a window event wakes a pass at exactly that tick). Stray bytes ahead of the
// echo are skipped; a right header starts polling, a right checksum decodes.
TEST(Sequence, TheFirstExchangeInTimeOrOneWarningAndThePortClosed) {
    const QByteArray flipped = damaged(exchange(32), 'f', 11);
    QByteArray wrongHeader = exchange(32);
    wrongHeader[6] = 0x02;
    const QString timedOut = aldl::kTimedOutPrompt + " / " + aldl::kTimedOutTitle,
                  noData = aldl::kNoDataPrompt + " / " + aldl::kNoDataTitle;
    // clang-format off
    const struct { std::int64_t chatterAfter; QByteArray chatter; std::int64_t replyAfter; QByteArray reply; bool eventAtDeadline; QString warning; } cases[] = {
        {15000, kChatter, 90, exchange(32), false, ""},    {15001, kChatter, 90, exchange(32), false, timedOut},
        {15000, kChatter, 90, exchange(32), true, ""},     {100, kChatter, 2001, exchange(32), false, ""},
        {100, kChatter, 2002, exchange(32), false, noData}, {100, kChatter, 2001, exchange(32), true, ""},
        {100, QByteArray::fromHex("00F055BB"), 90, exchange(32), false, timedOut},
        {100, QByteArray::fromHex("F055BB00"), 90, exchange(32), false, timedOut},
        {100, {}, 90, exchange(32), false, timedOut},      {100, kChatter, 90, exchange(32).left(70), false, noData},
        {100, kChatter, 90, {}, false, noData},            {100, kChatter, 90, wrongHeader, false, aldl::kBadDataPrompt + " / " + aldl::kBadDataTitle},
        {100, kChatter, 90, kChatter + exchange(32), false, ""}, {100, kChatter, 90, "\x00" + exchange(32), false, ""},
        {100, kChatter, 90, flipped, false, ""}, {100, kChatter, 90, kChatter + exchange(32).left(70), false, noData},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.warning.toStdString() + " " + std::to_string(c.chatterAfter) + " " +
                     std::to_string(c.replyAfter));
        FakeHost b;
        b.answers = {{0, {{c.chatterAfter, c.chatter}}}, {1, {{c.replyAfter, c.reply}}}};
        b.eventAtEachDeadline = c.eventAtDeadline;
        b.decodesLeft = 1;
        b.yieldsLeft = 300;
        EXPECT_EQ(b.run(), !c.warning.isEmpty());
        EXPECT_EQ(b.warnings, c.warning.isEmpty() ? QStringList() : QStringList(c.warning));
        if (c.warning.isEmpty()) { // polling began; only a right checksum is decoded
            EXPECT_EQ(b.decoded, c.reply == flipped ? std::vector<int>() : std::vector<int>{32});
            continue;
        }
        EXPECT_EQ(std::tuple(b.portCalls.back(), b.sent.size(), b.caption, b.decoded.size()),
                  std::tuple("close", c.warning == timedOut ? 0 : 1, kNotConnected, 0u));
        // The reply wait logs nothing; a whole but bad exchange is logged once.
        EXPECT_EQ(b.received.contains(frames::hexText(c.reply)), c.reply == wrongHeader);
    }
}

// Polling decodes only a whole, right reply behind the header that passed,
// whatever else the line carries; pauses a reply may make are waited out.
TEST(Sequence, PollingDecodesOnlyTheReplyThatPassed) {
    const QByteArray ex32 = exchange(32);
    // clang-format off
    const struct { const char* name; Answers answers; std::vector<int> decoded; } cases[] = {
        {"junk glued to each reply", {{1, {{90, exchange(31) + QByteArray::fromHex("F095")}}}, {2, {{90, exchange(32) + QByteArray::fromHex("0102")}}}, {3, {{90, exchange(33)}}}}, {31, 32, 33}},
        {"stray bytes ahead of the echo", {{1, {{90, exchange(31)}}}, {2, {{1, QByteArray::fromHex("F09501")}, {90, exchange(32)}}}, {3, {{1, QByteArray::fromHex("5A")}, {90, exchange(33)}}}}, {31, 32, 33}},
        {"a lost echo byte, then a lost header byte", {{1, {{90, exchange(31)}}}, {2, {{90, ex32.left(2) + ex32.mid(3)}}}, {3, {{90, ex32.left(5) + ex32.mid(6)}}}, {4, {{90, exchange(34)}}}}, {31, 34}},
        {"pauses of 30 ms mid-reply and 35 ms before its last byte", {{1, {{90, ex32.left(40)}, {120, ex32.mid(40)}}}, {2, {{90, ex32.left(70)}, {125, ex32.right(1)}}}, {3, {{90, exchange(33)}}}}, {32, 32, 33}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost b;
        b.answers = c.answers;
        b.answers[0] = {{40, kChatter}};
        b.yieldsLeft = 14;
        b.run();
        EXPECT_EQ(b.decoded, c.decoded);
        EXPECT_TRUE(b.warnings.isEmpty() && b.violations.empty()) << b.violations.front();
    }
}

// Seeded random lines of replies that all come in time, some damaged (in the
// header too) and some paused up to 30 ms: every whole reply is decoded, so
// the one after a damaged exchange is too, and the status stays. Any line at
// all is the fuzzer's (fuzz/). Replay one seed with CARNOVO_SEQUENCE_SEED=n.
TEST(Sequence, RandomLinesDecodeEveryWholeReply) {
    const int replay = qEnvironmentVariableIntValue("CARNOVO_SEQUENCE_SEED");
    for (int seed = replay ? replay : 1; seed <= (replay ? replay : 150); ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](int n) { return int(rng() % unsigned(n)); };
        FakeHost d;
        d.answers[0] = {{40, kChatter}};
        if (pick(2))
            d.answers[0].push_back({60, kChatter});
        std::vector<int> whole;
        for (int n = 1; n <= 60; ++n) {
            const QByteArray ex = exchange(n);
            const std::int64_t after = 5 + pick(150), pause = 1 + pick(30);
            const int kind = n == 1 ? 0 : pick(5), pos = 1 + pick(67), split = 7 + pick(64);
            d.answers[n] = {{after, kind % 4 ? damaged(ex, " fld"[kind], pos, pick(8)) : ex}};
            if (kind % 4 == 0)
                whole.push_back(n);
            if (kind == 4)
                d.answers[n] = {{after, ex.left(split)}, {after + pause, ex.mid(split)}};
        }
        d.decodesLeft = int(whole.size());
        d.run();
        EXPECT_EQ(d.decoded, whole) << "seed " << seed;
        EXPECT_TRUE(d.violations.empty()) << "seed " << seed << ": " << d.violations.front();
    }
}

} // namespace
