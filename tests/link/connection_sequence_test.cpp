#include "link/connection_sequence.h"

#include "common/raised_error.h"
#include "link/frames.h"
#include "link/traffic.h"
#include "tests/support/bytes.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace {

const QByteArray kRequest = frames::toBytes(frames::kMode1Request);
const QByteArray kChatter = frames::toBytes(frames::kChatterFrame);

// The echoed request and a reply whose engine-speed byte (reply position 11)
// is `rpmByte`, to tell replies apart. The checksum is never checked.
QByteArray exchange(int rpmByte) {
    QByteArray reply = frames::toBytes(frames::kMode1ReplyHeader) + QByteArray(64, 0x20);
    reply[10] = static_cast<char>(rpmByte);
    return kRequest + reply;
}

struct EndOfTest {};

// A scripted ECM behind a fake clock and a fake window. The clock moves only
// when the window yields, 1 ms a time.
struct Bench : aldl::SequenceWindow, aldl::SequencePort, aldl::TickClock {
    std::int64_t now = 1000;
    int yieldsLeft = 100000;
    int requests = 0;
    // Request number -> (ms after it was sent, bytes that arrive then).
    std::map<int, std::vector<std::pair<std::int64_t, QByteArray>>> answers;
    std::vector<std::pair<std::int64_t, QByteArray>> inFlight;
    std::vector<std::string> portCalls;
    QStringList sent, received;
    QString caption = "Not Connected";
    std::vector<int> decodedRpmBytes;
    std::vector<std::int32_t> lastData;
    std::vector<std::pair<QString, QString>> warnings;
    std::int64_t warnedAt = -1;

    void answer(int request, std::int64_t afterMs, const QByteArray& data) {
        answers[request].push_back({afterMs, data});
    }
    // Runs the sequence; true when it returned by itself (a failure).
    bool run(int yields = 100000) {
        yieldsLeft = yields;
        try {
            aldl::ConnectionSequence(*this, *this, *this).run();
            return true;
        } catch (const EndOfTest&) {
            return false;
        }
    }

    std::int64_t tick() override { return now; }
    void setInputLen(int n) override { portCalls.push_back("InputLen=" + std::to_string(n)); }
    void setCommPort(int n) override { portCalls.push_back("CommPort=" + std::to_string(n)); }
    void setPortOpen(bool open) override { portCalls.push_back(open ? "open" : "close"); }
    void setBaudRate(std::int32_t b) override { portCalls.push_back("baud=" + std::to_string(b)); }
    void output(const QByteArray& b) override {
        EXPECT_EQ(b, kRequest);
        for (const auto& [after, data] : answers[requests])
            inFlight.push_back({now + after, data});
        ++requests;
    }
    QByteArray input() override {
        QByteArray out;
        std::erase_if(inFlight, [&](const auto& a) {
            if (a.first > now)
                return false;
            out += a.second;
            return true;
        });
        return out;
    }
    int portNumber() override { return 3; }
    void addSentLine(const QString& t) override { sent << t; }
    void parse_as_hex(QByteArray t) override {
        if (!t.isEmpty())
            received << traffic::hex_text(t);
    }
    void check_packet(const QByteArray& buffer, bool& connected) override {
        connected = traffic::has_reply_header(buffer);
        if (connected)
            caption = "Connected";
    }
    void apply_data(std::span<const std::int32_t> d) override {
        lastData.assign(d.begin(), d.end());
        decodedRpmBytes.push_back(d[10]);
    }
    void showWarning(const QString& p, const QString& t) override {
        warnings.push_back({p, t});
        warnedAt = now;
    }
    void yield() override {
        if (--yieldsLeft < 0)
            throw EndOfTest{};
        ++now;
    }
};

std::vector<std::int32_t> values(const QByteArray& frame) {
    return std::vector<std::int32_t>(reinterpret_cast<const unsigned char*>(frame.data()),
                                     reinterpret_cast<const unsigned char*>(frame.data()) +
                                         frame.size());
}

TEST(Sequence, AWholeRunPollsWithOneRequestPerExchange) {
    Bench b;
    b.answer(0, 40, kChatter);
    for (int n = 1; n < 6; ++n)
        b.answer(n, 90, exchange(30 + n));
    EXPECT_FALSE(b.run(600));

    EXPECT_EQ(std::vector<std::string>(b.portCalls.begin(), b.portCalls.begin() + 4),
              (std::vector<std::string>{"InputLen=0", "CommPort=3", "open", "baud=8192"}));
    EXPECT_EQ(b.caption, "Connected");
    EXPECT_EQ(b.decodedRpmBytes, (std::vector<int>{31, 32, 33, 34, 35}));
    EXPECT_TRUE(b.warnings.empty());
    EXPECT_EQ(b.sent.size(), b.requests - 1); // the first request is not listed
    EXPECT_EQ(b.sent.front(), "F0 56  01 B9");
    EXPECT_LE(b.requests, 7);
    EXPECT_EQ(std::count(b.portCalls.begin(), b.portCalls.end(), "close"), 0);
}

TEST(Sequence, ChatterWaitLogsTheWholeBufferOnEveryPass) {
    Bench b;
    b.answer(0, 2, bytes({0xF0}));
    b.answer(0, 4, bytes({0x55}));
    b.answer(0, 6, bytes({0xBB}));
    b.run(7);
    EXPECT_EQ(b.received, (QStringList{"F0 ", "F0 ", "F0 55 ", "F0 55 ", "F0 55 BB "}));
    EXPECT_EQ(b.requests, 2);
}

TEST(Sequence, ChatterMustBeTheWholeBufferOrTheWaitRunsItsFifteenSeconds) {
    for (const QByteArray& chatter :
         {bytes({0x00, 0xF0, 0x55, 0xBB}), bytes({0xF0, 0x55, 0xBB, 0x00}), QByteArray()}) {
        Bench b;
        b.answer(0, 100, chatter);
        EXPECT_TRUE(b.run());
        EXPECT_EQ(b.warnings,
                  (decltype(b.warnings){{aldl::kTimedOutPrompt, aldl::kTimedOutTitle}}));
        EXPECT_EQ(b.warnedAt, 1000 + 15001);
        EXPECT_EQ(b.portCalls.back(), "close");
        EXPECT_TRUE(b.sent.isEmpty());
    }
}

// The pass that starts at a tick equal to the deadline still reads; the
// next one does not run.
TEST(Sequence, ATickEqualToADeadlineIsStillInTime) {
    struct Case {
        std::int64_t chatterAfter, replyAfter;
        QString warning;
    } cases[] = {
        {15001, 100, ""},
        {15002, 100, aldl::kTimedOutPrompt},
        {100, 2001, ""},
        {100, 2002, aldl::kNoDataPrompt},
    };
    for (const auto& c : cases) {
        Bench b;
        b.answer(0, c.chatterAfter, kChatter);
        b.answer(1, c.replyAfter, exchange(32));
        b.run(17500);
        EXPECT_EQ(b.warnings.empty() ? QString() : b.warnings[0].first, c.warning)
            << c.chatterAfter << " " << c.replyAfter;
    }
}

TEST(Sequence, TheFrameIsTheLastSixtySevenBytes) {
    QByteArray exact = exchange(32);
    for (int i = 7; i < 71; ++i)
        exact[i] = static_cast<char>(i);
    const QByteArray longer = exact + bytes({0xF0, 0x95, 0x01, 0x99}); // 75 bytes at once
    for (const QByteArray& ex : {exact, longer}) {
        Bench b;
        b.answer(0, 10, kChatter);
        b.answer(1, 90, ex);
        b.run(120);
        EXPECT_EQ(b.lastData, values(ex.right(67))) << ex.size();
        EXPECT_EQ(b.caption, "Connected");
        EXPECT_EQ(b.received.last(), traffic::hex_text(ex));
    }
}

TEST(Sequence, FirstExchangeFailures) {
    QByteArray wrongHeader = exchange(32);
    wrongHeader[6] = 0x02;
    struct Case {
        QByteArray reply;
        std::pair<QString, QString> warning;
        std::int64_t warnedAfterRequest;
    } cases[] = {
        {exchange(32).left(70), {aldl::kNoDataPrompt, aldl::kNoDataTitle}, 2001},
        {QByteArray(), {aldl::kNoDataPrompt, aldl::kNoDataTitle}, 2001},
        {wrongHeader, {aldl::kBadDataPrompt, aldl::kBadDataTitle}, 90},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.warning.first.toStdString());
        Bench b;
        b.answer(0, 10, kChatter);
        b.answer(1, 90, c.reply);
        EXPECT_TRUE(b.run());
        EXPECT_EQ(b.warnings, (decltype(b.warnings){c.warning}));
        EXPECT_EQ(b.warnedAt, 1000 + 10 + c.warnedAfterRequest);
        EXPECT_EQ(b.portCalls.back(), "close");
        EXPECT_EQ(b.caption, "Not Connected");
        EXPECT_TRUE(b.decodedRpmBytes.empty());
        // The reply wait logs nothing; a whole but bad exchange is logged once.
        EXPECT_EQ(b.received.last() == traffic::hex_text(c.reply), c.reply.size() == 71);
    }
}

TEST(Sequence, PollingSkipsShortOrBadExchangesAndKeepsTheValues) {
    Bench b;
    QByteArray bad = exchange(50);
    bad[5] = 0x11;
    b.answer(0, 40, kChatter);
    b.answer(1, 90, exchange(32));
    b.answer(2, 90, exchange(40));
    b.answer(3, 90, exchange(41).left(70)); // times out after 2 s
    b.answer(4, 90, bad);
    b.answer(5, 90, exchange(42));
    EXPECT_FALSE(b.run(2600));
    EXPECT_EQ(b.decodedRpmBytes, (std::vector<int>{32, 40, 42}));
    EXPECT_TRUE(b.warnings.empty());
    EXPECT_TRUE(b.received.contains(traffic::hex_text(bad)));
}

TEST(Sequence, StrayBytesAheadOfAnExchangeAreSkipped) {
    struct Case {
        int request; // whose answer carries the noise
        std::int64_t after;
        QByteArray noise;
    } cases[] = {
        {2, 91, bytes({0x5A})},            // trailing the previous reply
        {3, 1, bytes({0x01, 0x02, 0x03})}, // before the echo
        {3, 1, bytes({0xF0, 0x95, 0x01})}, // looking like a header
    };
    for (const auto& c : cases) {
        Bench b;
        b.answer(0, 40, kChatter);
        for (int n = 1; n < 5; ++n)
            b.answer(n, 90, exchange(38 + n));
        b.answer(c.request, c.after, c.noise);
        b.run(470);
        EXPECT_EQ(b.decodedRpmBytes, (std::vector<int>{39, 40, 41, 42}));
        EXPECT_EQ(b.received.filter(traffic::hex_text(c.noise) + "F0 56 1 B9 F0 95 1 ").size(), 1);
    }
}

} // namespace
