// mqtt_bench: how long cp290-mqtt takes between the hub and the power line,
// against the time the bytes need on the 600-baud wire.
//
// A real broker (mosquitto on 127.0.0.1) and the emulator, paced at 600
// baud, in this process; cp290-mqtt runs as its own process, as installed.
// Two measurements, each the median of its rounds:
//   command: a message on cp290/A1/set until the last byte of the direct
//            command is on the wire (the frame written to the line, plus its
//            22 bytes' wire time: 367 ms);
//   report:  a timer event firing until the hub has the unit's new state
//            (the report's 12 bytes on the wire: 200 ms).
//
//   mqtt_bench           10 rounds each
//   mqtt_bench --quick   3 rounds each
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "link/cp290_protocol.h"
#include "link/serial_link.h"
#include "tests/support/mqtt_hub.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Waits (2 ms steps, at most 10 s) until `done` holds; false on time-out.
template <typename F>
bool waitUntil(F&& done)
{
    const Clock::time_point start = Clock::now();
    while (!done()) {
        if (msSince(start) > 10000)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 && std::strcmp(argv[1], "--quick") == 0 ? 3 : 10;
    sim::SimOptions options;
    options.paced = true;
    options.reports = true;
    sim::Cp290Sim device(options);
    std::string error;
    if (!device.start(&error)) {
        std::fprintf(stderr, "mqtt_bench: the emulator did not start: %s\n", error.c_str());
        return 1;
    }
    TempDir home;
    std::filesystem::create_directories(home.file("config"));
    std::string names = "Bench";
    for (int u = 2; u <= 16; ++u)
        names += ", Device " + std::to_string(u);
    writeFile(home.file("config/Lumbrasken.conf"), "[General]\nPort%20Number=1\nSerial%20Path=" + device.slavePath() +
                                                       "\nA%20Devices=" + names + "\n");
    Broker broker;
    HubClient hub(broker.port());
    hub.subscribe("cp290/#");
    Background bridge("cp290-mqtt", {"--broker", broker.address()},
                      {{"HOME", home.path()},
                       {"XDG_CONFIG_HOME", home.file("config")},
                       {"XDG_STATE_HOME", home.file("state")},
                       {"CP290_CRONTAB", "/bin/true"},
                       {"CP290_LOG_STDERR", "1"}},
                      home.file("bridge.log"));
    if (!hub.waitFor("cp290/status", "online")) {
        std::fprintf(stderr, "mqtt_bench: the bridge did not come online\n%s", readFile(home.file("bridge.log")).c_str());
        return 1;
    }

    std::vector<double> command, report;
    for (int i = 0; i < rounds; ++i) {
        const int before = framesOf(device, cp290::CmdDirect);
        const bool on = i % 2 == 0;
        const Clock::time_point sent = Clock::now();
        hub.publish("cp290/A1/set", on ? "ON" : "OFF");
        if (!waitUntil([&] { return framesOf(device, cp290::CmdDirect) > before; })) {
            std::fprintf(stderr, "mqtt_bench: no direct command reached the emulator\n");
            break;
        }
        command.push_back(msSince(sent));
        hub.waitFor("cp290/A1/state", on ? R"({"brightness":16,"state":"ON"})" : R"({"state":"OFF"})");

        // A1 switched back by a timer event at 10:01, the device clock set
        // half a second before it.
        const uint8_t function = on ? cp290::FnOff : cp290::FnOn;
        device.setEvent(1, sim::EventImage{8, 0x7F, 10, 1, 0x80, 0, 0x60, function});
        device.setClock({0, 10, 0x01}, std::chrono::milliseconds(59500));
        const Clock::time_point fires = Clock::now() + std::chrono::milliseconds(500);
        if (!hub.waitFor("cp290/A1/state", on ? R"({"state":"OFF"})" : R"({"brightness":16,"state":"ON"})"))
            break;
        report.push_back(msSince(fires));
    }
    const double commandWire = cp290::wireMs(cp290::kDirectFrameLength);
    const double reportWire = cp290::wireMs(cp290::kReportLength);
    if (command.size() < static_cast<size_t>(rounds) || report.size() < static_cast<size_t>(rounds)) {
        std::fprintf(stderr, "mqtt_bench: a round timed out\n%s", readFile(home.file("bridge.log")).c_str());
        return 1;
    }
    // The emulator has a frame as soon as it is written; its last byte is on
    // the wire one frame time later.
    const double onWire = median(command) + commandWire;
    std::printf("command -> frame on the wire: median %.0f ms (%.0f ms to the line, wire %.0f ms) ratio %.2f over %d "
                "rounds\n",
                onWire, median(command), commandWire, onWire / commandWire, rounds);
    std::printf("report -> state published:    median %.0f ms (wire %.0f ms) ratio %.2f over %d rounds\n",
                median(report), reportWire, median(report) / reportWire, rounds);
    return 0;
}
