// powerline_bench: how quickly a direct command reaches the wire, and a
// report reaches the screen, against the time the bytes need at 600 baud.
//
// The emulator runs in this process, paced at 600 baud, with reports on.
//  1. command issued -> frame on the wire: from the call of
//     core::sendDirectCommand() (line lock, open, quiet wait, write) until the
//     frame is written (the emulator has it: a pseudo-terminal delivers at
//     once), plus the 22 bytes' wire time, when the frame's last bit would
//     be on a real line; against that wire time.
//  2. last report byte -> line printed: a "cp290ctl monitor" child holds the
//     line; a console press makes the emulator send a report; from the
//     moment its last byte left the emulator until the monitor's line
//     arrives on its standard output; against the report's wire time.
// Each is measured `runs` times (default 9) in this one run; the medians
// and their ratios to the wire time are printed, one per line:
// The sampling of the emulator's byte count adds up to a few tens of
// microseconds to the second figure.
//   command->wire median_ms <ms> wire_ms <ms> ratio <r>
//   report->monitor median_ms <ms> wire_ms <ms> ratio <r>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/direct_command.h"
#include "platform/paths.h"
#include "sim/cp290_sim.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0, Clock::time_point t1)
{
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void print(const char* what, const std::vector<double>& ms, int wire)
{
    const double m = median(ms);
    std::printf("%s median_ms %.2f wire_ms %d ratio %.4f\n", what, m, wire, m / wire);
}

// Waits until pred() holds, looking every 20 microseconds; false after 10 s.
template <typename Pred>
bool waitFor(Pred pred, Clock::time_point& at)
{
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!pred()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    at = Clock::now();
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    char tmpl[] = "/tmp/powerline-bench.XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    const std::string dir = tmpl;
    setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("CP290_SERIAL_DEVICES", "", 1);

    sim::SimOptions o;
    o.paced = true;
    o.reports = true;
    sim::Cp290Sim device(o);
    if (!device.start())
        return 1;
    const std::string path = device.slavePath();

    std::vector<double> toWire;
    for (int i = 0; i < runs; ++i) {
        device.clearFrames();
        Clock::time_point sent{};
        const auto t0 = Clock::now();
        std::thread send([&] {
            cp290::Report confirmed;
            core::sendDirectCommand(path, {1, 1, cp290::FnOn, 0}, confirmed);
        });
        if (waitFor([&] { return !device.frames().empty(); }, sent))
            toWire.push_back(msSince(t0, sent) + cp290::wireMs(cp290::kDirectFrameLength));
        send.join();
    }
    print("command->wire", toWire, cp290::wireMs(cp290::kDirectFrameLength));

    // The monitor, a child writing to a pipe.
    int out[2];
    if (pipe(out) != 0)
        return 1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        ::close(out[0]);
        const std::string exe = platform::applicationFolder() + "cp290ctl";
        execl(exe.c_str(), exe.c_str(), "--device", path.c_str(), "monitor", static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(out[1]);
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the monitor holds the line
    std::vector<double> toScreen;
    std::string pending;
    for (int i = 0; i < runs; ++i) {
        const size_t before = device.bytesSent();
        device.press(0x60, 0x80, 0x00, i % 2 ? 0x02 : 0x03);
        Clock::time_point last{}, shown{};
        if (!waitFor([&] { return device.bytesSent() >= before + cp290::kReportLength; }, last))
            break;
        pollfd p{out[0], POLLIN, 0};
        while (pending.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
            char buf[512];
            const ssize_t n = read(out[0], buf, sizeof buf);
            if (n <= 0)
                break;
            pending.append(buf, static_cast<size_t>(n));
        }
        shown = Clock::now();
        if (pending.find('\n') == std::string::npos)
            break;
        pending.erase(0, pending.find('\n') + 1);
        toScreen.push_back(msSince(last, shown));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    print("report->monitor", toScreen, cp290::wireMs(cp290::kReportLength));
    device.stop();
    std::system(("rm -rf '" + dir + "'").c_str());
    return toScreen.size() == static_cast<size_t>(runs) && toWire.size() == static_cast<size_t>(runs) ? 0 : 1;
}
