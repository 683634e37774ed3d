#pragma once
// The CP290 emulator: a model of the device on a pseudo-terminal.
//
// Principles of operation: start() opens a pty master, keeps one slave
// descriptor of its own open in raw mode (so the line survives clients
// opening and closing it, and nothing is echoed), and runs a worker thread
// that reads frames from the master and answers as the device does. With
// pacing on, each byte in either direction takes the wire time of the chosen
// baud rate (about 16.7 ms at 600 baud), scheduled on absolute deadlines.
// The device state (events, clock, base house code, status) can be read and
// set from the owning thread at any time; access is locked.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

using EventImage = std::array<uint8_t, 8>;

struct SimOptions {
    bool paced = false;            // real 600-baud timing in both directions
    int baud = 600;
    std::string linkPath;          // when set, a symlink to the slave is made here
    std::string stateFile;         // when set, memory is loaded from and saved to it
    bool silent = false;           // never answers
    bool failSelfTest = false;     // the self test reports failure
    int selfTestMs = 12000;        // how long the self test takes
    bool reports = false;          // send the 12-byte report when an event's time comes
    bool logFrames = false;        // print every frame to stdout
};

struct SimClock {
    int minute = 0;
    int hour = 0;
    uint8_t dayBit = 0x01;
};

class Cp290Sim {
public:
    explicit Cp290Sim(SimOptions options = {});
    ~Cp290Sim();
    Cp290Sim(const Cp290Sim&) = delete;
    Cp290Sim& operator=(const Cp290Sim&) = delete;

    bool start(std::string* error = nullptr);
    void stop();
    std::string slavePath() const;  // the symlink when one was asked for, else /dev/pts/N

    // Device memory: slot n (1..128), nullopt when empty.
    std::optional<EventImage> event(int n) const;
    void setEvent(int n, std::optional<EventImage> img);
    void clearEvents();
    std::array<uint8_t, 256> graphics() const;

    uint8_t baseHouseCode() const;
    void setBaseHouseCode(uint8_t code);
    SimClock clock() const;  // runs on from when it was set
    void setClock(SimClock c);
    uint8_t status() const;  // 1 once the device holds programmed data

    void setSilent(bool silent);
    void setFailSelfTest(bool fail);
    void setSelfTestMs(int ms);

    // Every complete frame received (command byte and data, sync stripped), in order.
    std::vector<std::vector<uint8_t>> frames() const;
    void clearFrames();
    size_t bytesReceived() const;
    size_t bytesSent() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace sim
