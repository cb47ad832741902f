#include "link/connection_sequence.h"

#include "common/raised_error.h"
#include "link/frames.h"
#include "link/traffic.h"

#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

const QByteArray kRequest = frames::toBytes(frames::kMode1Request);
const QByteArray kChatter = frames::toBytes(frames::kChatterFrame);

// The echoed request and a reply whose data bytes carry `fill`, with the
// engine-speed byte (reply position 11) set to `rpmByte` to tell replies apart.
QByteArray exchange(int rpmByte, int fill = 0x20) {
    QByteArray reply = frames::toBytes(frames::kMode1ReplyHeader);
    reply.append(63, static_cast<char>(fill));
    reply.append('\0'); // checksum, never checked
    reply[10] = static_cast<char>(rpmByte);
    return kRequest + reply;
}

struct EndOfTest {};

struct FakeClock : aldl::TickClock {
    std::int64_t now = 1000;
    std::int64_t tick() override { return now; }
};

// Delivers scripted bytes at given ticks, each script entry triggered by a
// numbered request (0 = the first request of the run).
struct ScriptedPort : aldl::SequencePort {
    explicit ScriptedPort(FakeClock& c) : clock(c) {}
    FakeClock& clock;
    std::map<int, std::vector<std::pair<std::int64_t, QByteArray>>> answers;
    std::vector<std::pair<std::int64_t, QByteArray>> pending;
    int requests = 0;
    std::vector<std::string> calls;
    std::function<void()> onOpen;

    // Answer request `n` with `data`, `afterMs` after it was sent.
    void answer(int n, std::int64_t afterMs, QByteArray data) {
        answers[n].push_back({afterMs, std::move(data)});
    }
    void setInputLen(int n) override { calls.push_back("InputLen=" + std::to_string(n)); }
    void setCommPort(int n) override { calls.push_back("CommPort=" + std::to_string(n)); }
    void setPortOpen(bool open) override {
        calls.push_back(open ? "open" : "close");
        if (open && onOpen)
            onOpen();
    }
    void setBaudRate(std::int32_t baud) override {
        calls.push_back("baud=" + std::to_string(baud));
    }
    void output(const QByteArray& b) override {
        EXPECT_EQ(b, kRequest);
        for (const auto& [after, data] : answers[requests])
            pending.push_back({clock.now + after, data});
        ++requests;
    }
    QByteArray input() override {
        QByteArray out;
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->first <= clock.now) {
                out += it->second;
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
        return out;
    }
};

struct FakeWindow : aldl::SequenceWindow {
    explicit FakeWindow(FakeClock& c) : clock(c) {}
    FakeClock& clock;
    int port = 1;
    std::int64_t msPerYield = 1;
    int yieldsLeft = 100000;
    QStringList sent, received;
    QString caption = "Not Connected";
    std::vector<std::vector<std::int32_t>> decoded;
    std::vector<std::pair<QString, QString>> warnings;
    std::int64_t warnedAt = -1;

    int portNumber() override { return port; }
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
        decoded.emplace_back(d.begin(), d.end());
    }
    void showWarning(const QString& p, const QString& t) override {
        warnings.push_back({p, t});
        warnedAt = clock.now;
    }
    void yield() override {
        if (--yieldsLeft < 0)
            throw EndOfTest{};
        clock.now += msPerYield;
    }
};

class Sequence : public ::testing::Test {
protected:
    FakeClock clock;
    ScriptedPort port{clock};
    FakeWindow window{clock};
    aldl::ConnectionSequence sequence{window, port, clock};

    // Runs until the sequence returns or the window has yielded `yields` times.
    bool runFor(int yields) {
        window.yieldsLeft = yields;
        try {
            sequence.run();
            return true; // returned: a failure path
        } catch (const EndOfTest&) {
            return false; // still polling
        }
    }
    void connectNormally() {
        port.answer(0, 40, kChatter);
        port.answer(1, 90, exchange(32));
    }
    std::vector<std::int32_t> dataOf(const QByteArray& frame) {
        std::vector<std::int32_t> d;
        for (char c : frame)
            d.push_back(static_cast<unsigned char>(c));
        return d;
    }
};

TEST_F(Sequence, OpensTheChosenPortAt8192BeforeTheFirstRequest) {
    window.port = 3;
    port.onOpen = [&] { EXPECT_EQ(port.requests, 0); };
    runFor(10);
    const std::vector<std::string> start(port.calls.begin(), port.calls.begin() + 4);
    EXPECT_EQ(start, (std::vector<std::string>{"InputLen=0", "CommPort=3", "open", "baud=8192"}));
    EXPECT_EQ(port.requests, 1);
}

TEST_F(Sequence, AWholeRunReachesPollingWithOneRequestPerExchange) {
    connectNormally();
    for (int n = 2; n < 6; ++n)
        port.answer(n, 90, exchange(30 + n));
    EXPECT_FALSE(runFor(40 + 100 + 4 * 100 + 50));

    EXPECT_EQ(window.caption, "Connected");
    EXPECT_TRUE(window.warnings.empty());
    ASSERT_EQ(window.decoded.size(), 5u);
    std::vector<int> rpmBytes;
    for (const auto& d : window.decoded)
        rpmBytes.push_back(d[10]);
    EXPECT_EQ(rpmBytes, (std::vector<int>{32, 32, 33, 34, 35}));
    EXPECT_EQ(window.decoded[0], dataOf(exchange(32).mid(4)));
    // The first request is not listed; every later one is.
    EXPECT_EQ(port.requests, window.sent.size() + 1);
    EXPECT_GE(port.requests, 6);
    EXPECT_LE(port.requests, 7);
    for (const QString& line : window.sent)
        EXPECT_EQ(line, "F0 56  01 B9");
    EXPECT_EQ(std::count(port.calls.begin(), port.calls.end(), "close"), 0);
}

TEST_F(Sequence, ChatterWaitLogsTheWholeBufferOnEveryPass) {
    window.msPerYield = 5;
    port.answer(0, 10, bytes({0xF0}));
    port.answer(0, 20, bytes({0x55}));
    port.answer(0, 30, bytes({0xBB}));
    runFor(7);
    EXPECT_EQ(window.received, (QStringList{"F0 ", "F0 ", "F0 55 ", "F0 55 ", "F0 55 BB "}));
    EXPECT_EQ(port.requests, 2); // the chatter frame was recognised
    EXPECT_TRUE(window.sent == QStringList{"F0 56  01 B9"});
}

TEST_F(Sequence, ChatterMustBeTheWholeBuffer) {
    for (const QByteArray& chatter :
         {bytes({0x00, 0xF0, 0x55, 0xBB}), bytes({0xF0, 0x55, 0xBB, 0x00}), bytes({0xF0, 0x55}),
          QByteArray()}) {
        SCOPED_TRACE(traffic::hex_text(chatter).toStdString());
        FakeClock c;
        ScriptedPort p{c};
        FakeWindow w{c};
        p.answer(0, 100, chatter);
        aldl::ConnectionSequence s{w, p, c};
        w.yieldsLeft = 20000;
        s.run();
        ASSERT_EQ(w.warnings.size(), 1u);
        EXPECT_EQ(w.warnings[0], std::make_pair(aldl::kTimedOutPrompt, aldl::kTimedOutTitle));
        EXPECT_EQ(w.warnedAt, 1000 + 15001);
        EXPECT_EQ(p.calls.back(), "close");
        EXPECT_EQ(p.requests, 1);
        EXPECT_TRUE(w.sent.isEmpty());
    }
}

// The pass that starts at a tick equal to the deadline still runs; the one
// after it does not.
TEST_F(Sequence, ATickEqualToADeadlineIsStillInTime) {
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
        SCOPED_TRACE(std::to_string(c.chatterAfter) + " " + std::to_string(c.replyAfter));
        FakeClock clk;
        ScriptedPort p{clk};
        FakeWindow w{clk};
        p.answer(0, c.chatterAfter, kChatter);
        p.answer(1, c.replyAfter, exchange(32));
        aldl::ConnectionSequence s{w, p, clk};
        w.yieldsLeft = 17500;
        try {
            s.run();
        } catch (const EndOfTest&) {
        }
        EXPECT_EQ(w.warnings.empty() ? QString() : w.warnings[0].first, c.warning);
        EXPECT_EQ(w.decoded.empty(), !c.warning.isEmpty());
    }
}

TEST_F(Sequence, ExactlySeventyOneBytesAreTheFrameFromPositionFive) {
    port.answer(0, 10, kChatter);
    QByteArray ex = exchange(32);
    for (int i = 7; i < 71; ++i)
        ex[i] = static_cast<char>(i);
    port.answer(1, 90, ex);
    runFor(120);
    ASSERT_GE(window.decoded.size(), 1u);
    EXPECT_EQ(window.decoded[0], dataOf(ex.mid(4)));
    EXPECT_EQ(window.received.last().split(' ', Qt::SkipEmptyParts).size(), 71);
}

TEST_F(Sequence, ALongerBufferIsJudgedAtFiveButDecodedFromItsEnd) {
    port.answer(0, 10, kChatter);
    QByteArray ex = exchange(32);
    ex += bytes({0xF0, 0x95, 0x01, 0x99});
    port.answer(1, 90, ex); // 75 bytes in one read
    runFor(120);
    ASSERT_GE(window.decoded.size(), 1u);
    EXPECT_EQ(window.decoded[0], dataOf(ex.mid(8)));
    EXPECT_EQ(window.caption, "Connected");
}

TEST_F(Sequence, FirstExchangeFailures) {
    struct Case {
        QByteArray reply;
        std::pair<QString, QString> warning;
        std::int64_t warnedAfterRequest;
        QString caption;
    } cases[] = {
        {exchange(32).left(70), {aldl::kNoDataPrompt, aldl::kNoDataTitle}, 2001, "Not Connected"},
        {QByteArray(), {aldl::kNoDataPrompt, aldl::kNoDataTitle}, 2001, "Not Connected"},
        {[] {
             QByteArray e = exchange(32);
             e[6] = 0x02;
             return e;
         }(),
         {aldl::kBadDataPrompt, aldl::kBadDataTitle},
         90,
         "Not Connected"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.warning.first.toStdString());
        FakeClock clk;
        ScriptedPort p{clk};
        FakeWindow w{clk};
        p.answer(0, 10, kChatter);
        p.answer(1, 90, c.reply);
        aldl::ConnectionSequence s{w, p, clk};
        s.run();
        ASSERT_EQ(w.warnings.size(), 1u);
        EXPECT_EQ(w.warnings[0], c.warning);
        EXPECT_EQ(w.warnedAt, 1000 + 10 + c.warnedAfterRequest);
        EXPECT_EQ(p.calls.back(), "close");
        EXPECT_EQ(w.caption, c.caption);
        EXPECT_TRUE(w.decoded.empty());
        EXPECT_EQ(w.sent.size(), 1);
        // The reply wait logs nothing; a bad exchange is logged once before the verdict.
        const QString last = w.received.last();
        EXPECT_EQ(last == traffic::hex_text(c.reply), c.reply.size() == 71);
    }
}

TEST_F(Sequence, PollingSkipsShortOrBadExchangesAndKeepsTheValues) {
    connectNormally();
    QByteArray bad = exchange(50);
    bad[5] = 0x11;
    port.answer(2, 90, exchange(40));
    port.answer(3, 90, exchange(41).left(70)); // times out after 2 s
    port.answer(4, 90, bad);
    port.answer(5, 90, exchange(42));
    EXPECT_FALSE(runFor(150 + 100 + 2100 + 100 + 100 + 20));
    std::vector<int> rpmBytes;
    for (const auto& d : window.decoded)
        rpmBytes.push_back(d[10]);
    EXPECT_EQ(rpmBytes, (std::vector<int>{32, 40, 42}));
    EXPECT_TRUE(window.warnings.empty());
    EXPECT_TRUE(window.received.contains(traffic::hex_text(exchange(41).left(70))));
    EXPECT_TRUE(window.received.contains(traffic::hex_text(bad)));
}

TEST_F(Sequence, StrayBytesAheadOfAnExchangeAreSkipped) {
    struct Case {
        const char* name;
        int request; // the request whose answer carries the noise
        std::int64_t after;
        QByteArray noise;
    } cases[] = {
        {"trailing the previous reply", 2, 91, bytes({0x5A})},
        {"before the echo", 3, 1, bytes({0x01, 0x02, 0x03})},
        {"looks like a header", 3, 1, bytes({0xF0, 0x95, 0x01})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clk;
        ScriptedPort p{clk};
        FakeWindow w{clk};
        p.answer(0, 40, kChatter);
        p.answer(1, 90, exchange(32));
        p.answer(2, 90, exchange(40));
        p.answer(3, 90, exchange(41));
        p.answer(4, 90, exchange(42));
        p.answer(c.request, c.after, c.noise);
        aldl::ConnectionSequence s{w, p, clk};
        w.yieldsLeft = 150 + 3 * 100 + 20;
        EXPECT_THROW(s.run(), EndOfTest);
        std::vector<int> rpmBytes;
        for (const auto& d : w.decoded)
            rpmBytes.push_back(d[10]);
        EXPECT_EQ(rpmBytes, (std::vector<int>{32, 40, 41, 42}));
        // Everything received is still logged.
        EXPECT_TRUE(w.received.filter(traffic::hex_text(c.noise) + "F0 56 1 B9 F0 95 1 ").size() ==
                    1);
    }
}

TEST_F(Sequence, ErrorsOnTheWayAreNotCaught) {
    struct FailingPort : ScriptedPort {
        using ScriptedPort::ScriptedPort;
        void setBaudRate(std::int32_t) override {
            throw RaisedError(8015, "mscomm32", "Could not set port to specified baud rate");
        }
    } failing{clock};
    aldl::ConnectionSequence s{window, failing, clock};
    try {
        s.run();
        ADD_FAILURE() << "the error was swallowed";
    } catch (const RaisedError& e) {
        EXPECT_EQ(e.number(), 8015);
    }
    EXPECT_TRUE(window.warnings.empty());
}

} // namespace
