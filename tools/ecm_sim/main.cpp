// SPDX-License-Identifier: GPL-3.0-or-later
// carnovo-ecm-sim: a simulated ECM on a pseudo-terminal, so that Carnovo can
// be tried without a car. Prints the device to open on its first line.
#include "tools/ecm_sim/ecm_simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <thread>

namespace {

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) {
    g_stop = 1;
}

// Exits at once: only for use while no simulator runs.
[[noreturn]] void fail(const QString& message) {
    std::fprintf(stderr, "carnovo-ecm-sim: %s\n", qPrintable(message));
    std::exit(2);
}

int intValue(const QCommandLineParser& parser, const QString& name) {
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < 0)
        fail(QStringLiteral("--%1 wants a whole number, not '%2'").arg(name, parser.value(name)));
    return value;
}

// A symbolic link to the device. It replaces only a symbolic link, and at
// exit it goes only while it is still the one placed here.
class DeviceLink {
public:
    DeviceLink(std::filesystem::path path, std::filesystem::path device)
        : path_(std::move(path)), device_(std::move(device)) {
        namespace fs = std::filesystem;
        std::error_code error;
        const fs::file_status status = fs::symlink_status(path_, error);
        if (fs::exists(status) && !fs::is_symlink(status))
            throw std::runtime_error("will not replace " + path_.string() +
                                     ": not a symbolic link");
        fs::remove(path_, error);
        fs::create_symlink(device_, path_, error);
        if (error)
            throw std::runtime_error("cannot place the link " + path_.string() + ": " +
                                     error.message());
    }
    ~DeviceLink() {
        std::error_code error;
        if (std::filesystem::read_symlink(path_, error) == device_)
            std::filesystem::remove(path_, error);
    }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

private:
    std::filesystem::path path_;
    std::filesystem::path device_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("carnovo-ecm-sim");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A simulated engine control module on a pseudo-terminal. Point Carnovo at the "
        "printed device (or at --link) with CARNOVO_COM1.");
    parser.addHelpOption();
    const QString scenarios = QString::fromStdString([] {
        std::string all;
        for (const auto& name : ecmsim::scenarioNames())
            all += (all.empty() ? "" : ", ") + name;
        return all;
    }());
    parser.addOptions({
        {"link", "Also place a symbolic link to the device at <path>.", "path"},
        {"duration", "Stop after <seconds> (default: run until a signal).", "seconds"},
        {"delay", "Response delay before each answer, in ms (default 5).", "ms", "5"},
        {"scenario", "Fault scenario: " + scenarios + ".", "name", "normal"},
        {"reply-after", "late-reply: replies start <ms> after the request.", "ms", "0"},
        {"polls", "stop-after, hang-up-after, pause-after: answer <n> polls first.", "n", "0"},
        {"pause-ms", "pause-after, pause-in-reply: stay silent for <ms>, then answer again.", "ms",
         "0"},
        {"every",
         "flipped-bit, lost-byte, doubled-byte, pause-in-reply: damage every <n>th exchange "
         "(default 20).",
         "n", "20"},
        {"pos", "The reply byte (1 to 67) those scenarios damage or pause after (default 11).", "p",
         "11"},
        {"echo-pos",
         "Damage or pause after byte <p> (1 to 4) of the echoed request instead of a reply byte.",
         "p", "0"},
        {"bunch-ms", "usb-bunches: hand bytes over every <ms> (default 16).", "ms", "16"},
        {"any-speed", "Answer whatever line speed the program set (by default only 8192 "
                      "baud, 8N1)."},
        {"set", "Fix reply byte <pos> (4 to 66) at <value>, e.g. --set 11=255.", "pos=value"},
        {"coolant-start", "Coolant temperature at start-up, degrees (default 20).", "degrees",
         "20"},
        {"transcript", "Write every byte with a timestamp to <file>.", "file"},
    });
    parser.process(app);

    ecmsim::Options options;
    const auto scenario = ecmsim::scenarioFromName(parser.value("scenario").toStdString());
    if (!scenario)
        fail("unknown scenario '" + parser.value("scenario") + "'; choose one of " + scenarios);
    options.scenario = *scenario;
    options.responseDelayMs = intValue(parser, "delay");
    options.replyAfterMs = intValue(parser, "reply-after");
    options.pollLimit = intValue(parser, "polls");
    options.pauseMs = intValue(parser, "pause-ms");
    options.bunchMs = intValue(parser, "bunch-ms");
    options.every = intValue(parser, "every");
    options.position = intValue(parser, "pos");
    options.echoPosition = intValue(parser, "echo-pos");
    options.checkLineSpeed = !parser.isSet("any-speed");
    options.coolantStartDegrees = parser.value("coolant-start").toDouble();
    options.transcriptPath = parser.value("transcript").toStdString();
    for (const QString& fixed : parser.values("set")) {
        const QStringList parts = fixed.split('=');
        bool okPos = false, okValue = false;
        const int pos = parts.value(0).toInt(&okPos);
        const int value = parts.value(1).toInt(&okValue);
        if (parts.size() != 2 || !okPos || !okValue)
            fail("--set wants <pos>=<value>, not '" + fixed + "'");
        options.fixedBytes[pos] = value;
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    // Failures in here throw, so the simulator stops before the program exits.
    try {
        ecmsim::Simulator sim(options);
        sim.start();
        std::optional<DeviceLink> link;
        if (!parser.value("link").isEmpty())
            link.emplace(parser.value("link").toStdString(), sim.devicePath());
        std::printf("%s\n", sim.devicePath().c_str());
        std::fflush(stdout);

        const double duration = parser.isSet("duration") ? parser.value("duration").toDouble() : -1;
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::milliseconds(static_cast<long long>(duration * 1000));
        while (!g_stop && !sim.hungUp() &&
               (duration < 0 || std::chrono::steady_clock::now() < until))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));

        sim.stop();
        link.reset();
        const ecmsim::Stats s = sim.stats();
        std::fprintf(stderr, "carnovo-ecm-sim: %d requests seen, %d replies sent, line %u baud\n",
                     s.requestsSeen, s.repliesSent, s.lastBaudSeen);
    } catch (const std::exception& e) {
        fail(e.what());
    }
    return 0;
}
