// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <chrono>
#include <cstdint>

// The fixed frames of the ALDL link. The program never assembles a frame: it
// sends and recognises these byte sequences, and checks a reply's checksum.
namespace frames {

inline constexpr std::array<std::uint8_t, 4> kMode1Request{0xF0, 0x56, 0x01, 0xB9};
inline constexpr std::array<std::uint8_t, 3> kChatterFrame{0xF0, 0x55, 0xBB};
inline constexpr std::array<std::uint8_t, 3> kMode1ReplyHeader{0xF0, 0x95, 0x01};

inline constexpr int kReplyLength = 67;
// The request comes back on the one-wire bus ahead of the reply.
inline constexpr int kLeadingBytes = 4;
inline constexpr int kExchangeLength = kLeadingBytes + kReplyLength;
// 1-based buffer position of the reply's first byte within an exchange.
inline constexpr int kReplyHeaderPosition = kLeadingBytes + 1;

// The line's speed, and the time one byte takes on it: a start bit, 8 data
// bits and a stop bit.
inline constexpr std::int32_t kBaud = 8192;
inline constexpr int kBitsPerByte = 10;
inline constexpr std::chrono::nanoseconds kByteTime{1'000'000'000LL * kBitsPerByte / kBaud};

// Milliseconds that `bytes` take on the wire, rounded up.
constexpr std::int64_t wireMs(std::int64_t bytes) {
    return (bytes * kBitsPerByte * 1000 + kBaud - 1) / kBaud;
}

template <std::size_t N> QByteArray toBytes(const std::array<std::uint8_t, N>& frame) {
    return QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(N));
}

// The 12-character text shown for every request sent: "F0 56  01 B9".
QString requestText();

// Each byte as upper-case hex without leading zeros, each followed by a space:
// F0 56 01 B9 gives "F0 56 1 B9 ". Empty input gives empty text.
QString hexText(const QByteArray& bytes);

} // namespace frames
