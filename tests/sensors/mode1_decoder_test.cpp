#include "sensors/mode1_decoder.h"

#include "common/raised_error.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <set>
#include <vector>

namespace {

const QLocale kC = QLocale::c();
const QString kDeg = QString(QChar(0x00B0));

std::vector<std::int32_t> frame_with(int position, int value, int fill = 0) {
    std::vector<std::int32_t> data(67, fill);
    data[static_cast<std::size_t>(position - 1)] = value;
    return data;
}

QString text_for(mode1::Value which, int position, int byte) {
    return mode1::decode(frame_with(position, byte), kC)[which];
}

TEST(Mode1Decode, AllZeroAndAllFullFrames) {
    EXPECT_EQ(mode1::decode(std::vector<std::int32_t>(67, 0), kC),
              (mode1::Texts{"0", "-40" + kDeg, "-40" + kDeg, "0", "0", "0"}));
    EXPECT_EQ(mode1::decode(std::vector<std::int32_t>(67, 255), kC),
              (mode1::Texts{"6375", "151.25" + kDeg, "151.25" + kDeg, "5", "255", "26"}));
}

TEST(Mode1Decode, EachValueFromItsOwnByte) {
    struct Case {
        mode1::Value which;
        int position;
        int byte;
        QString text;
    } cases[] = {
        {mode1::EngineSpeed, 11, 1, "25"},
        {mode1::EngineSpeed, 11, 32, "800"},
        {mode1::EngineSpeed, 11, 255, "6375"},
        {mode1::Coolant, 7, 26, "-20.5" + kDeg},
        {mode1::Coolant, 7, 53, "-0.25" + kDeg},
        {mode1::Coolant, 7, 54, "0.5" + kDeg},
        {mode1::Coolant, 7, 255, "151.25" + kDeg},
        {mode1::CoolantAtStart, 8, 1, "-39.25" + kDeg},
        {mode1::CoolantAtStart, 8, 80, "20" + kDeg},
        {mode1::ThrottleVolts, 9, 0, "0"},
        {mode1::ThrottleVolts, 9, 1, "0.0196078431372549"},
        {mode1::ThrottleVolts, 9, 26, "0.509803921568627"},
        {mode1::ThrottleVolts, 9, 128, "2.50980392156863"},
        {mode1::ThrottleVolts, 9, 255, "5"},
        {mode1::IdleAirControl, 25, 7, "7"},
        {mode1::IdleAirControl, 25, 200, "200"},
        {mode1::Battery, 34, 125, "12"},
        {mode1::Battery, 34, 126, "13"},
        {mode1::Battery, 34, 135, "14"},
        {mode1::Battery, 34, 5, "0"},
        {mode1::Battery, 34, 15, "2"},
        {mode1::Battery, 34, 255, "26"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text_for(c.which, c.position, c.byte), c.text)
            << "position " << c.position << " byte " << c.byte;
}

// Rounds to 15 significant digits the independent way: through printf's %g.
double rounded15(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return std::strtod(buf, nullptr);
}

TEST(Mode1Decode, EveryByteGivesAPlainRoundedNumber) {
    for (int b = 0; b < 256; ++b) {
        const auto texts = mode1::decode(std::vector<std::int32_t>(67, b), kC);
        const struct {
            QString text;
            double exact;
        } doubles[] = {
            {texts[mode1::Coolant].chopped(1), b * 0.75 - 40},
            {texts[mode1::CoolantAtStart].chopped(1), b * 0.75 - 40},
            {texts[mode1::ThrottleVolts], (5.0 / 255.0) * b},
        };
        for (const auto& d : doubles) {
            SCOPED_TRACE("byte " + std::to_string(b) + " text " + d.text.toStdString());
            EXPECT_FALSE(d.text.contains('e') || d.text.contains('E'));
            EXPECT_FALSE(d.text.contains('.') && d.text.endsWith('0'));
            EXPECT_FALSE(d.text.endsWith('.'));
            EXPECT_FALSE(d.text.startsWith('.') || d.text.startsWith("-."));
            bool ok = false;
            EXPECT_EQ(d.text.toDouble(&ok), rounded15(d.exact));
            EXPECT_TRUE(ok);
        }
        EXPECT_TRUE(texts[mode1::Coolant].endsWith(kDeg));
    }
}

TEST(Mode1Decode, DecimalSeparatorFollowsTheLocale) {
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(mode1::decode(frame_with(7, 26), german)[mode1::Coolant], "-20,5" + kDeg);
    EXPECT_EQ(mode1::decode(frame_with(9, 128), german)[mode1::ThrottleVolts], "2,50980392156863");
}

TEST(Mode1Decode, OnlySixPositionsMatter) {
    const std::vector<std::int32_t> base(67, 100);
    const auto reference = mode1::decode(base, kC);
    const std::set<int> used{7, 8, 9, 11, 25, 34};
    for (int pos = 1; pos <= 67; ++pos) {
        auto changed = base;
        changed[static_cast<std::size_t>(pos - 1)] = 37;
        EXPECT_EQ(mode1::decode(changed, kC) != reference, used.count(pos) == 1)
            << "position " << pos;
    }
}

TEST(Mode1Decode, RefusesDataThatIsNotSixtySevenBytes) {
    const std::vector<std::vector<std::int32_t>> bad = {{},
                                                        std::vector<std::int32_t>(66, 0),
                                                        std::vector<std::int32_t>(68, 0),
                                                        frame_with(34, 256),
                                                        frame_with(1, -1)};
    for (const auto& data : bad) {
        try {
            mode1::decode(data, kC);
            ADD_FAILURE() << "accepted " << data.size() << " values";
        } catch (const RaisedError& e) {
            EXPECT_FALSE(e.description().isEmpty());
        }
    }
}

} // namespace
