#pragma once
// The emulator's control channel: what happens to the device besides its
// serial line (a power cut, ...), asked for from outside while it runs.
//
// Principles of operation: a Unix stream socket at a path given by the user.
// A client writes one command per line ("power-cut\n") and reads one reply
// line per command: "ok", "ok <answer>" or "error: <why>". Several clients
// may be connected at once; each command is carried out whole before its
// reply is written. A thread of the channel's own sleeps in poll() on the
// listening socket, its clients and a wake eventfd; it calls the device's
// public (locked) interface only, so the serial worker never waits on it.
//
// The commands are one table (controlCommands()): a command is added by
// adding an entry, which also puts it into --help and the "help" command.
// A line longer than kMaxControlLine is refused and its client disconnected,
// so a client cannot grow the channel's memory.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "sim/cp290_sim.h"

namespace sim {

constexpr size_t kMaxControlLine = 1024;

struct ControlCommand {
    const char* name;
    const char* arguments;  // as shown in the help ("" when none)
    const char* help;       // one line
    int minArgs;
    int maxArgs;
    // Carries the command out; `answer` is the reply's text after "ok " or
    // "error: ". Returns false when the command was refused.
    bool (*run)(Cp290Sim& device, const std::vector<std::string>& args, std::string& answer);
};

const std::vector<ControlCommand>& controlCommands();

// The commands' help, one indented line each, for --help.
std::string controlHelp();

// The reply line (without its newline) to one command line.
std::string controlReply(Cp290Sim& device, const std::string& line);

class ControlChannel {
public:
    ControlChannel(Cp290Sim& device, std::string path);
    ~ControlChannel();
    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

    // Makes the socket (an old socket at the path is replaced, any other
    // file is left alone and is an error) and starts serving it.
    bool start(std::string* error = nullptr);
    // Stops serving and removes the socket.
    void stop();
    const std::string& path() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A client: sends one command line to the channel at `path` and reads its
// reply line, waiting at most timeoutMs in all. False (with `error`) when
// the channel could not be reached or did not answer; the reply itself may
// still be an "error: ..." line.
bool sendControl(const std::string& path, const std::string& command, std::string& reply, int timeoutMs,
                 std::string* error = nullptr);

}  // namespace sim
