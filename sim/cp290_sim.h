#pragma once
// Program folder sim/: cp290-sim, the device emulated on a pseudo-terminal.
// Uses platform/ only, so it shares no code with what it stands in for.
//
// The CP290 emulator: a model of the device on a pseudo-terminal.
//
// Principles of operation: start() opens a pty master, keeps one slave
// descriptor of its own open in raw mode (so the line survives clients
// opening and closing it, and nothing is echoed), and runs a worker thread
// that reads frames from the master and answers as the device does. With
// pacing on, each byte in either direction takes the wire time of the chosen
// baud rate (about 16.7 ms at 600 baud), scheduled on absolute deadlines.
// The device state (events, clock, base house code, status) can be read and
// set from the owning thread at any time; access is locked. The setters poke
// one piece of state directly (they do not erase events as the wire commands
// do) and count as programming: status() becomes 1.
//
// The worker sleeps in poll() on the master, a wake eventfd (stop, a new
// clock) and a timerfd armed at absolute CLOCK_MONOTONIC deadlines (the next
// reply byte, the next minute of the device clock when reports are on).
// Nothing holds the wire back: reply bytes that find the line's buffer full
// are lost, as on a real line that nobody reads.
//
// Frames the device cannot use are acknowledged but not carried out: a wrong
// checksum, a clock time past 23:59, a memory address that is no event's or
// graphics pair's. An event written with 0xFF as its first byte (the upload's
// empty-slot mark) empties the slot, so an upload never carries a slot that
// would read back as empty plus seven stray bytes.
#include <array>
#include <chrono>
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
    int speed = 1;                 // the device clock runs this many times faster
    bool printModules = false;     // print each module's change to stdout ("module A1 on")
    bool logFrames = false;        // print every frame to stdout
    bool keepFrames = true;        // record frames for frames(); off for long runs
    // Misbehaviour, for testing the programs' reply checks:
    int strayBytes = 0;            // this many stray bytes before every reply
    bool reportBeforeReply = false; // an unsolicited report right before every reply
    bool reportMidReply = false;   // an unsolicited report in the middle of every reply
    bool badChecksum = false;      // clock replies and uploads carry a wrong checksum
    bool cutShort = false;         // only the first half of every reply is sent
    bool echo = false;             // a line that sends back what it gets; no device
    bool noise = false;            // a line with nothing but noise on it; no device
    int writesAnswered = -1;       // >= 0: after this many memory writes the device falls silent
    bool keepUnansweredWrite = false;  // the first write left unanswered is still stored
};

// A lamp or appliance module on the power line, as the device last switched it.
struct ModuleState {
    bool known = false;  // switched since the device has been emulated
    bool on = false;
    int level = 0;       // 0 full, 1..15 dimmer (on only)
    bool operator==(const ModuleState&) const = default;
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
    std::string ptyPath() const;    // always /dev/pts/N

    // Device memory: slot n (1..128), nullopt when empty.
    std::optional<EventImage> event(int n) const;
    void setEvent(int n, std::optional<EventImage> img);
    void clearEvents();
    std::array<uint8_t, 256> graphics() const;

    uint8_t baseHouseCode() const;
    void setBaseHouseCode(uint8_t code);
    SimClock clock() const;  // runs on from when it was set
    void setClock(SimClock c);
    // The clock as if set to c `elapsed` ago and running on since.
    void setClock(SimClock c, std::chrono::milliseconds elapsed);
    uint8_t status() const;  // 1 once the device holds programmed data, 0 after a power cut or self test
    // A power cut with a flat backup battery: events, graphics, base house
    // code and clock go back to their power-up values and status() to 0, as
    // on a device never programmed.
    void powerCut();

    // A button pressed on the device's console: the command goes out on the
    // power line (the modules follow) and is reported. houseCode: X10 code in
    // the high nibble; units as in an event image; levelFunc as its byte 7.
    void press(uint8_t houseCode, uint8_t units1to8, uint8_t units9to16, uint8_t levelFunc);
    // The module of house code index 0..15 (A..P) and unit 1..16.
    ModuleState module(int house, int unit) const;

    // Silent: frames are still recorded, but nothing is applied or answered.
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
