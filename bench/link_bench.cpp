// link_bench: how close the controller's downloads and uploads come to the
// 600-baud wire, and what they cost in CPU while they wait.
//
// The emulator runs in this process, paced at 600 baud (ten bits per byte).
// For SendEventList and a full GetEventList the bench takes the wall time
// and divides it by the time the bytes that crossed the line need on the
// wire (both directions, one after the other, as the protocol alternates).
// CPU is that of the calling thread only (CLOCK_THREAD_CPUTIME_ID): the
// emulator's worker thread is not the program under test, so it is reported
// separately as part of the whole process.
//
//   link_bench           all 128 events (about 75 s down, 18 s up)
//   link_bench --quick   16 events (SendEventList of a 16-event selection)
//
// The last two lines are "wall/wire <ratio>" and "cpu/wall <ratio>".
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "core/cp290_operations.h"
#include "sim/cp290_sim.h"

namespace {

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double processCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    auto sec = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6; };
    return sec(ru.ru_utime) + sec(ru.ru_stime);
}

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Measure {
    double wall = 0, wire = 0, cpu = 0, processCpu = 0;
    size_t bytes = 0;
};

// `unawaited`: bytes on the line that the operation does not wait for.
template <typename F>
Measure measure(sim::Cp290Sim& device, int baud, size_t unawaited, F&& operation)
{
    const size_t bytes0 = device.bytesReceived() + device.bytesSent();
    const double wall0 = now(), cpu0 = threadCpuSeconds(), proc0 = processCpuSeconds();
    operation();
    Measure m;
    m.wall = now() - wall0;
    m.cpu = threadCpuSeconds() - cpu0;
    m.processCpu = processCpuSeconds() - proc0;
    // Let a byte still on its way land before counting, then leave it out.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    m.bytes = device.bytesReceived() + device.bytesSent() - bytes0 - unawaited;
    m.wire = static_cast<double>(m.bytes) * 10.0 / baud;
    return m;
}

void report(const char* what, const Measure& m)
{
    std::printf("%-9s %5zu bytes  wire %7.3f s  wall %7.3f s  wall/wire %.4f  thread cpu %.3f s  process cpu %.3f s\n",
                what, m.bytes, m.wire, m.wall, m.wall / m.wire, m.cpu, m.processCpu);
}

}  // namespace

int main(int argc, char** argv)
{
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else {
            std::fprintf(stderr, "usage: link_bench [--quick]\n");
            return 2;
        }
    }
    const int events = quick ? 16 : core::kEventCount;

    sim::SimOptions options;
    options.paced = true;
    options.baud = 600;
    sim::Cp290Sim device(options);
    std::string error;
    if (!device.start(&error)) {
        std::fprintf(stderr, "link_bench: emulator did not start: %s\n", error.c_str());
        return 1;
    }

    core::EventTable table;
    std::vector<int> selection;
    for (int n = 1; n <= events; ++n) {
        const cp290::EventImage img = {0x08, 0x7F, static_cast<uint8_t>(n % 24), static_cast<uint8_t>(n % 60),
                                       0x80, 0x01, 0x60, 0x02};
        table.storeEvent(n, img);
        selection.push_back(n);
    }
    core::NullOperationsUi ui;
    core::Cp290Operations ops(table, ui);
    ops.setDevicePath(device.slavePath());

    std::printf("link_bench: %d events, emulator paced at %d baud\n", events, options.baud);
    std::fflush(stdout);
    bool ok = true;
    const Measure down = measure(device, options.baud, 0, [&] {
        const core::OpResult r =
            quick ? ops.SendEventList(core::SendSelected, selection) : ops.SendEventList(core::SendAll);
        ok = ok && r.ok();
    });
    report("download", down);
    std::fflush(stdout);
    // The upload's closing checksum byte is read and checked like the rest.
    const Measure up = measure(device, options.baud, 0, [&] { ok = ok && ops.GetEventList().ok(); });
    report("upload", up);
    if (!ok || table.getHighEvent() != events) {
        std::fprintf(stderr, "link_bench: the operations failed against the emulator\n");
        return 1;
    }

    const double wall = down.wall + up.wall;
    std::printf("process cpu/wall (emulator thread included) %.4f\n", (down.processCpu + up.processCpu) / wall);
    std::printf("wall/wire %.4f\n", wall / (down.wire + up.wire));
    std::printf("cpu/wall %.4f\n", (down.cpu + up.cpu) / wall);
    return 0;
}
