#include "sim/cp290_sim.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

#include "platform/device_lock.h"
#include "sim/frame_parser.h"
#include "sim/state_file.h"

namespace sim {

namespace {

constexpr int kSlots = 128;
constexpr int kAckSync = 6;
constexpr unsigned kEventArea = 0x400;
constexpr unsigned kGraphicsEnd = kEventArea + 256;
constexpr int64_t kMsNs = 1'000'000;
constexpr int64_t kMinuteNs = 60'000 * kMsNs;
// A frame whose next byte is this late was abandoned by its sender; without
// this, its remains would swallow the start of the sender's next frame.
constexpr int64_t kFrameGapNs = 1000 * kMsNs;

int64_t monoNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

int64_t wallMs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / kMsNs;
}

int64_t floorDiv(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

uint8_t sum8(const uint8_t* p, size_t n)
{
    unsigned s = 0;
    for (size_t i = 0; i < n; ++i)
        s += p[i];
    return static_cast<uint8_t>(s);
}

// Monday 0x01 ... Sunday 0x40 and round again; anything but a single day bit
// has no successor and stays as it is.
uint8_t rotateDay(uint8_t bit, int64_t days)
{
    if (bit == 0 || bit > 0x40 || (bit & (bit - 1)))
        return bit;
    const int64_t index = ((std::countr_zero(bit) + days % 7) % 7 + 7) % 7;
    return static_cast<uint8_t>(1u << index);
}

SimClock advance(SimClock c, int64_t minutes)
{
    int64_t total = int64_t(c.hour) * 60 + c.minute + minutes;
    const int64_t days = floorDiv(total, 1440);
    total -= days * 1440;
    return SimClock{static_cast<int>(total % 60), static_cast<int>(total / 60), rotateDay(c.dayBit, days)};
}

void setCloexec(int fd)
{
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

std::string sysError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

}  // namespace

struct Cp290Sim::Impl {
    explicit Impl(SimOptions o) : opt(std::move(o)) {}

    SimOptions opt;
    int64_t byteNs = 0;
    int64_t minuteNs = kMinuteNs / std::max(1, opt.speed);  // one minute of the device clock
    std::vector<std::array<uint8_t, 4>> presses;  // console presses not yet sent (mu)

    // Device state, shared with the owning thread.
    mutable std::mutex mu;
    DeviceState mem;           // mem.clock is the reading at clockSetNs
    int64_t clockSetNs = monoNs();
    int64_t reportMinute = 0;  // minutes since clockSetNs already checked for reports
    std::vector<std::vector<uint8_t>> frames;
    size_t received = 0;
    size_t sent = 0;
    bool silent = false;
    bool failSelfTest = false;
    int selfTestMs = 12000;
    int writes = 0;  // memory writes received while answering

    // Worker-only.
    FrameParser parser;
    int64_t rxFree = 0;       // when the last incoming byte has fully arrived
    int64_t lastArrival = 0;
    int64_t busyUntil = 0;    // end of a running self test
    int64_t txFree = 0;       // when the last queued reply byte is due
    struct OutByte {
        uint8_t byte;
        int64_t due;
    };
    std::deque<OutByte> out;
    bool masterBroken = false;
    static constexpr int64_t kExclusiveCheckNs = 1'000'000'000;
    int64_t nextExclusiveCheck = 0;

    int master = -1;
    int slaveKeep = -1;
    int wakeFd = -1;
    int timerFd = -1;
    std::string ptsPath;
    bool linkMade = false;
    std::thread worker;
    std::atomic<bool> stopping{false};
    bool running = false;

    // --- device state helpers (mu held) ---
    SimClock clockAt(int64_t now) const
    {
        return advance(mem.clock, std::max<int64_t>(0, now - clockSetNs) / minuteNs);
    }
    void setClockLocked(SimClock c, int64_t setAt, int64_t now)
    {
        mem.clock = advance(c, 0);
        clockSetNs = setAt;
        reportMinute = std::max<int64_t>(0, now - setAt) / minuteNs;
        mem.status = 1;
    }
    void save()
    {
        if (opt.stateFile.empty())
            return;
        std::string err;
        if (!saveStateFile(opt.stateFile, snapshot(), &err))
            std::fprintf(stderr, "cp290-sim: %s\n", err.c_str());
    }
    DeviceState snapshot() const
    {
        // The file holds the reading at a wall time; it runs on from there.
        const int64_t now = monoNs();
        DeviceState s = mem;
        const int64_t elapsed = std::max<int64_t>(0, now - clockSetNs);
        s.clock = advance(mem.clock, elapsed / minuteNs);
        s.clockWallMs = wallMs() - (elapsed % minuteNs) / kMsNs;
        return s;
    }
    void adopt(const DeviceState& s)
    {
        mem = s;
        const int64_t now = monoNs();
        const int64_t elapsedMs = std::clamp<int64_t>(wallMs() - s.clockWallMs, 0, INT64_MAX / (2 * kMsNs));
        clockSetNs = now - elapsedMs * kMsNs;
        reportMinute = elapsedMs * kMsNs / minuteNs;
    }
    void ack(std::vector<uint8_t>& r, uint8_t status) const
    {
        r.insert(r.end(), kAckSync, 0xFF);
        r.push_back(status);
    }
    void report(std::vector<uint8_t>& r, uint8_t houseFunction, uint8_t units9to16, uint8_t units1to8) const
    {
        ack(r, mem.status);
        const uint8_t body[4] = {houseFunction, units9to16, units1to8, mem.baseCode};
        r.insert(r.end(), body, body + 4);
        r.push_back(sum8(body, 4));
    }
    bool storeMemory(unsigned address, const uint8_t* data, size_t n, uint8_t checksum)
    {
        if (sum8(data, n) != checksum)
            return false;
        if (address < kEventArea) {
            if (address % 8 != 0 || n != 8)
                return false;
            auto& slot = mem.events[address / 8];
            if (data[0] == 0xFF)  // the empty-slot mark: the slot is cleared
                slot.reset();
            else
                slot = EventImage{data[0], data[1], data[2], data[3], data[4], data[5], data[6], data[7]};
            return true;
        }
        if (address >= kGraphicsEnd || address % 2 != 0 || n != 2)
            return false;
        std::copy(data, data + 2, mem.graphics.begin() + (address - kEventArea));
        return true;
    }

    // The misbehaviours asked for, applied to one reply (mu held).
    void misbehave(uint8_t command, std::vector<uint8_t>& reply) const
    {
        if (reply.empty())
            return;
        if (opt.badChecksum && (command == 4 || command == 5))
            reply.back() = static_cast<uint8_t>(reply.back() ^ 0x5A);
        if (opt.cutShort)
            reply.resize((reply.size() + 1) / 2);
        std::vector<uint8_t> r;
        report(r, 0x62, 0x00, 0x80);  // house A, unit 1, on
        if (opt.reportMidReply)
            reply.insert(reply.begin() + static_cast<std::ptrdiff_t>(reply.size() / 2), r.begin(), r.end());
        if (opt.reportBeforeReply)
            reply.insert(reply.begin(), r.begin(), r.end());
        static const uint8_t kStray[] = {0x13, 0xFF, 0x42, 0x00, 0x87};
        for (int i = opt.strayBytes - 1; i >= 0; --i)
            reply.insert(reply.begin(), kStray[i % 5]);
    }
    void queueNoise(int64_t now)
    {
        // Never six 0xFF in a row: noise, not a reply.
        const int64_t step = opt.paced ? byteNs : 20 * kMsNs;
        int64_t t = std::max(now, txFree);
        for (int i = 0; i < 16; ++i) {
            t += step;
            noiseSeed = noiseSeed * 1103515245u + 12345u;
            out.push_back({static_cast<uint8_t>((noiseSeed >> 16) % 0xFF), t});
        }
        txFree = t;
    }
    uint32_t noiseSeed = 1;

    // --- worker ---
    void run();
    void readInput();
    void clearAbandonedExclusive();
    void onFrame(const std::vector<uint8_t>& f, int64_t end);
    void queue(const std::vector<uint8_t>& reply, int64_t start);
    void flushOutput(int64_t now);
    void checkReports(int64_t now);
    static bool firesAt(const EventImage& e, int eventNumber, const SimClock& c);
    // A command goes out on the power line: the modules follow, and with
    // reports on, the report is added to reply. mu held.
    void sendOnPowerLine(std::vector<uint8_t>& reply, uint8_t houseCode, uint8_t units1to8, uint8_t units9to16,
                         uint8_t levelFunc);
    int64_t nextReportCheck() const;
    void wake() const
    {
        if (wakeFd >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(wakeFd, &one, sizeof one);
        }
    }

    bool openPty(std::string& err);
    bool makeLink(std::string& err);
    void closeAll();
};

bool Cp290Sim::Impl::openPty(std::string& err)
{
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return err = sysError("posix_openpt"), false;
    setCloexec(master);
    if (grantpt(master) != 0 || unlockpt(master) != 0)
        return err = sysError("grantpt/unlockpt"), false;
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0)
        return err = sysError("ptsname"), false;
    ptsPath = name;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    // Our own slave descriptor keeps the line up between clients; raw mode so
    // replies are not echoed back to us.
    slaveKeep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveKeep < 0)
        return err = sysError("open " + ptsPath), false;
    termios t{};
    if (tcgetattr(slaveKeep, &t) != 0)
        return err = sysError("tcgetattr"), false;
    cfmakeraw(&t);
    cfsetspeed(&t, B600);
    if (tcsetattr(slaveKeep, TCSANOW, &t) != 0)
        return err = sysError("tcsetattr"), false;
    wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (wakeFd < 0 || timerFd < 0)
        return err = sysError("eventfd/timerfd"), false;
    return true;
}

bool Cp290Sim::Impl::makeLink(std::string& err)
{
    const std::string& link = opt.linkPath;
    struct stat st{};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        return err = "refusing to replace " + link + ": it is not a symbolic link", false;
    // Made beside and renamed over, so an old link is replaced in one step.
    const std::string tmp = link + ".new" + std::to_string(getpid());
    ::unlink(tmp.c_str());
    if (symlink(ptsPath.c_str(), tmp.c_str()) != 0)
        return err = sysError("cannot create link " + link), false;
    if (rename(tmp.c_str(), link.c_str()) != 0) {
        err = sysError("cannot create link " + link);
        ::unlink(tmp.c_str());
        return false;
    }
    linkMade = true;
    return true;
}

void Cp290Sim::Impl::closeAll()
{
    for (int* fd : {&master, &slaveKeep, &wakeFd, &timerFd})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    if (linkMade) {
        // Only our own link goes; someone may have pointed it elsewhere meanwhile.
        char target[256];
        const ssize_t n = readlink(opt.linkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == ptsPath)
            ::unlink(opt.linkPath.c_str());
        linkMade = false;
    }
}

void Cp290Sim::Impl::run()
{
    while (!stopping.load()) {
        const int64_t now = monoNs();
        checkReports(now);
        if (opt.noise && out.empty())
            queueNoise(now);
        flushOutput(now);

        int64_t next = INT64_MAX;
        if (!out.empty())
            next = out.front().due;
        if (opt.reports || opt.printModules)
            next = std::min(next, nextReportCheck());
        itimerspec its{};
        if (next != INT64_MAX) {
            next = std::max<int64_t>(next, 1);  // an all-zero value would disarm
            its.it_value.tv_sec = next / 1'000'000'000;
            its.it_value.tv_nsec = next % 1'000'000'000;
        }
        timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &its, nullptr);

        if (now >= nextExclusiveCheck) {
            clearAbandonedExclusive();
            nextExclusiveCheck = now + kExclusiveCheckNs;
        }
        pollfd fds[3] = {{masterBroken ? -1 : master, POLLIN, 0}, {wakeFd, POLLIN, 0}, {timerFd, POLLIN, 0}};
        if (poll(fds, 3, kExclusiveCheckNs / 1'000'000) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "cp290-sim: %s\n", sysError("poll").c_str());
            return;
        }
        uint64_t drain = 0;
        if (fds[1].revents & POLLIN)
            [[maybe_unused]] ssize_t n = ::read(wakeFd, &drain, sizeof drain);
        if (fds[2].revents & POLLIN)
            [[maybe_unused]] ssize_t n = ::read(timerFd, &drain, sizeof drain);
        if (fds[0].revents)
            readInput();
    }
}

// A program of the suite killed while it held the line leaves exclusive use
// set, and our own descriptor keeps the line - and the flag - alive: every
// later client would be refused. Its lock file tells: the holder it names no
// longer runs and nobody holds the lock.
void Cp290Sim::Impl::clearAbandonedExclusive()
{
    int exclusive = 0;
    if (ioctl(slaveKeep, TIOCGEXCL, &exclusive) != 0 || !exclusive)
        return;
    const platform::LockHolder left = platform::abandonedHolder(ptsPath);
    if (left.pid > 0 && ioctl(slaveKeep, TIOCNXCL) == 0)
        std::fprintf(stderr, "cp290-sim: exclusive use of %s was left set by %s (process %d), which no longer runs; cleared\n",
                     ptsPath.c_str(), left.program.c_str(), left.pid);
}

void Cp290Sim::Impl::readInput()
{
    uint8_t buf[4096];
    for (;;) {
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                // Cannot happen while our slave descriptor is open; never spin on it.
                std::fprintf(stderr, "cp290-sim: the line failed: %s\n", n == 0 ? "end of file" : std::strerror(errno));
                masterBroken = true;
            }
            return;
        }
        const int64_t now = monoNs();
        {
            std::lock_guard lk(mu);
            received += static_cast<size_t>(n);
        }
        if (opt.echo) {
            queue(std::vector<uint8_t>(buf, buf + n), now);
            continue;
        }
        // Paced: the bytes of a burst arrive one byte time after another,
        // starting when it was read or when the previous byte had arrived.
        const int64_t base = opt.paced ? std::max(now, rxFree) : now;
        for (ssize_t i = 0; i < n; ++i) {
            const int64_t arrival = opt.paced ? base + (i + 1) * byteNs : now;
            if (arrival < busyUntil)
                continue;  // the device is busy with its self test and hears nothing
            if (parser.inFrame() && arrival - lastArrival > kFrameGapNs)
                parser.reset();
            lastArrival = arrival;
            if (parser.feed(buf[i]))
                onFrame(parser.frame(), arrival);
        }
        if (opt.paced)
            rxFree = base + n * byteNs;
    }
}

void Cp290Sim::Impl::onFrame(const std::vector<uint8_t>& f, int64_t end)
{
    if (opt.logFrames) {
        // Outside the lock: a stalled stdout must not hold up the owner's calls.
        std::string line = "frame";
        char b[4];
        for (uint8_t c : f) {
            std::snprintf(b, sizeof b, " %02X", c);
            line += b;
        }
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    std::vector<uint8_t> reply;
    int64_t start = end;
    {
        std::lock_guard lk(mu);
        if (opt.keepFrames)
            frames.push_back(f);
        if (silent || opt.echo || opt.noise)
            return;
        const uint8_t* d = f.data() + 1;
        const size_t n = f.size() - 1;
        if (f[0] == 3 && opt.writesAnswered >= 0 && writes++ >= opt.writesAnswered) {
            // The acknowledgement is lost; from here on the device is silent.
            silent = true;
            if (opt.keepUnansweredWrite && storeMemory(d[0] | (d[1] << 8), d + 2, n - 3, d[n - 1])) {
                mem.status = 1;
                save();
            }
            return;
        }
        bool changed = false;
        switch (f[0]) {
        case 0:  // base house code: a new code erases every event
            mem.baseCode = d[0];
            mem.events = {};
            mem.status = 1;
            changed = true;
            ack(reply, mem.status);
            break;
        case 1:  // direct command; a corrupt one is acknowledged but not carried out
            ack(reply, mem.status);
            if (sum8(d, 4) == d[4])
                sendOnPowerLine(reply, d[1], d[3], d[2], d[0]);
            break;
        case 2:  // set clock; a corrupt or impossible time is acknowledged, not taken
            if (sum8(d, 3) == d[3] && d[0] < 60 && d[1] < 24) {
                setClockLocked(SimClock{d[0], d[1], d[2]}, end, monoNs());
                changed = true;
            }
            ack(reply, mem.status);
            break;
        case 3:  // memory write; a corrupt one is acknowledged, not stored
            if (storeMemory(d[0] | (d[1] << 8), d + 2, n - 3, d[n - 1])) {
                mem.status = 1;
                changed = true;
            }
            ack(reply, mem.status);
            break;
        case 4: {
            const SimClock c = clockAt(end);
            ack(reply, mem.status);
            const uint8_t body[4] = {static_cast<uint8_t>(c.minute), static_cast<uint8_t>(c.hour), c.dayBit,
                                     mem.baseCode};
            reply.insert(reply.end(), body, body + 4);
            reply.push_back(sum8(body, 4));
            break;
        }
        case 5: {
            ack(reply, mem.status);
            unsigned sum = 0;
            for (const auto& e : mem.events) {
                // The documented sum covers everything after the status
                // byte, the empty slots' marks included.
                if (!e) {
                    reply.push_back(0xFF);
                    sum += 0xFF;
                    continue;
                }
                reply.insert(reply.end(), e->begin(), e->end());
                sum += sum8(e->data(), 8);
            }
            reply.push_back(static_cast<uint8_t>(sum));
            break;
        }
        case 6:
            ack(reply, mem.status);
            reply.insert(reply.end(), mem.graphics.begin(), mem.graphics.end());
            reply.push_back(sum8(mem.graphics.data(), mem.graphics.size()));
            break;
        case 7:  // self test: wipes the events, answers when done; unprogrammed after it
            mem.events = {};
            mem.status = 0;
            changed = true;
            start = end + int64_t(selfTestMs) * kMsNs;
            busyUntil = start;
            ack(reply, failSelfTest ? 1 : 0);
            break;
        }
        // Saved before the answer goes out: a client that saw the
        // acknowledgement finds the change on disk.
        if (changed)
            save();
        misbehave(f[0], reply);
    }
    queue(reply, start);
}

void Cp290Sim::Impl::queue(const std::vector<uint8_t>& reply, int64_t start)
{
    if (reply.empty())
        return;
    int64_t t = std::max(start, txFree);
    for (uint8_t b : reply) {
        // Paced: a byte is there once its ten bits have crossed the wire.
        if (opt.paced)
            t += byteNs;
        out.push_back({b, t});
    }
    txFree = t;
}

void Cp290Sim::Impl::flushOutput(int64_t now)
{
    {
        std::lock_guard lk(mu);
        if (silent) {
            out.clear();
            txFree = 0;
        }
    }
    uint8_t buf[4096];
    while (!out.empty() && out.front().due <= now) {
        size_t k = 0;
        while (k < sizeof buf && k < out.size() && out[k].due <= now) {
            buf[k] = out[k].byte;
            ++k;
        }
        ssize_t n;
        do
            n = ::write(master, buf, k);
        while (n < 0 && errno == EINTR);
        out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(k));
        if (n > 0) {
            std::lock_guard lk(mu);
            sent += static_cast<size_t>(n);
        }
    }
}

int64_t Cp290Sim::Impl::nextReportCheck() const
{
    std::lock_guard lk(mu);
    return clockSetNs + (reportMinute + 1) * minuteNs;
}

void Cp290Sim::Impl::checkReports(int64_t now)
{
    if (!opt.reports && !opt.printModules)
        return;
    std::vector<uint8_t> reply;
    {
        std::lock_guard lk(mu);
        for (const auto& p : presses)
            sendOnPowerLine(reply, p[0], p[1], p[2], p[3]);
        presses.clear();
        const int64_t minute = now < clockSetNs ? reportMinute : (now - clockSetNs) / minuteNs;
        if (minute > reportMinute && !silent) {
            const SimClock c = advance(mem.clock, minute);
            for (size_t n = 0; n < mem.events.size(); ++n) {
                const auto& e = mem.events[n];
                if (e && ((*e)[1] & c.dayBit) && firesAt(*e, static_cast<int>(n) + 1, c))
                    sendOnPowerLine(reply, (*e)[6], (*e)[4], (*e)[5], (*e)[7]);
            }
        }
        reportMinute = std::max(reportMinute, minute);
    }
    queue(reply, now);
}

// Security mode: the event fires on each of its days at its time moved by
// an offset of -15 to +15 minutes, the same all day and different from day
// to day: ((event number x 7 + day index x 13) mod 31) - 15, day index 0
// for Monday. A normal event fires at its time.
static int securityOffset(int eventNumber, uint8_t dayBit)
{
    return (eventNumber * 7 + std::countr_zero(dayBit) * 13) % 31 - 15;
}

bool Cp290Sim::Impl::firesAt(const EventImage& e, int eventNumber, const SimClock& c)
{
    int at = e[2] * 60 + e[3];
    if (e[0] == 9)
        at = std::clamp(at + securityOffset(eventNumber, c.dayBit), 0, 1439);
    return at == c.hour * 60 + c.minute;
}

void Cp290Sim::Impl::sendOnPowerLine(std::vector<uint8_t>& reply, uint8_t houseCode, uint8_t units1to8,
                                     uint8_t units9to16, uint8_t levelFunc)
{
    static const uint8_t codes[16] = {0x60, 0xE0, 0x20, 0xA0, 0x10, 0x90, 0x50, 0xD0,
                                      0x70, 0xF0, 0x30, 0xB0, 0x00, 0x80, 0x40, 0xC0};
    const auto* found = std::find(codes, codes + 16, houseCode & 0xF0);
    const int function = levelFunc & 0x0F;
    bool changed = false;
    for (int u = 0; u < 16 && found != codes + 16 && (function == 2 || function == 3 || function == 5); ++u) {
        if (!((u < 8 ? units1to8 << u : units9to16 << (u - 8)) & 0x80))
            continue;
        const int index = static_cast<int>(found - codes) * 16 + u;
        const ModuleState now{true, function != 3, function == 5 ? levelFunc >> 4 : 0};
        if (mem.modules[static_cast<size_t>(index)] == now)
            continue;
        mem.modules[static_cast<size_t>(index)] = now;
        changed = true;
        if (opt.printModules) {
            std::printf("module %s\n", moduleText(index, now).c_str());
            std::fflush(stdout);
        }
    }
    if (changed)
        save();
    if (opt.reports)
        report(reply, static_cast<uint8_t>((houseCode & 0xF0) | function), units9to16, units1to8);
}

// --- public interface ---

Cp290Sim::Cp290Sim(SimOptions options) : d(std::make_unique<Impl>(std::move(options)))
{
    d->silent = d->opt.silent;
    d->failSelfTest = d->opt.failSelfTest;
    d->selfTestMs = std::max(0, d->opt.selfTestMs);
}

Cp290Sim::~Cp290Sim()
{
    stop();
}

bool Cp290Sim::start(std::string* error)
{
    std::string err;
    auto fail = [&] {
        d->closeAll();
        if (error)
            *error = err;
        return false;
    };
    if (d->running)
        return err = "already running", fail();
    if (d->opt.baud <= 0 || d->opt.baud > 4'000'000)
        return err = "baud rate out of range: " + std::to_string(d->opt.baud), fail();
    d->byteNs = 10'000'000'000LL / d->opt.baud;
    if (!d->opt.stateFile.empty()) {
        DeviceState loaded;
        bool found = false;
        if (!loadStateFile(d->opt.stateFile, loaded, found, &err))
            return fail();
        std::lock_guard lk(d->mu);
        if (found)
            d->adopt(loaded);
        // Written once now, so a path that cannot be written is found at start.
        if (!saveStateFile(d->opt.stateFile, d->snapshot(), &err))
            return fail();
    }
    if (!d->openPty(err) || (!d->opt.linkPath.empty() && !d->makeLink(err)))
        return fail();
    d->parser.reset();
    d->out.clear();
    d->rxFree = d->txFree = d->busyUntil = d->lastArrival = 0;
    d->masterBroken = false;
    d->stopping = false;
    d->worker = std::thread([this] { d->run(); });
    d->running = true;
    return true;
}

void Cp290Sim::stop()
{
    if (!d->running)
        return;
    d->stopping = true;
    d->wake();
    d->worker.join();
    d->running = false;
    d->closeAll();
    std::lock_guard lk(d->mu);
    d->save();
}

std::string Cp290Sim::slavePath() const
{
    return d->opt.linkPath.empty() ? d->ptsPath : d->opt.linkPath;
}

std::string Cp290Sim::ptyPath() const
{
    return d->ptsPath;
}

std::optional<EventImage> Cp290Sim::event(int n) const
{
    std::lock_guard lk(d->mu);
    if (n < 1 || n > kSlots)
        return std::nullopt;
    return d->mem.events[static_cast<size_t>(n - 1)];
}

void Cp290Sim::setEvent(int n, std::optional<EventImage> img)
{
    if (n < 1 || n > kSlots)
        return;
    std::lock_guard lk(d->mu);
    if (img && (*img)[0] == 0xFF)  // would read back as an empty slot anyway
        img.reset();
    d->mem.events[static_cast<size_t>(n - 1)] = img;
    d->mem.status = 1;
    d->save();
}

void Cp290Sim::clearEvents()
{
    std::lock_guard lk(d->mu);
    d->mem.events = {};
    d->save();
}

void Cp290Sim::powerCut()
{
    {
        std::lock_guard lk(d->mu);
        d->mem = DeviceState{};
        const int64_t now = monoNs();
        d->clockSetNs = now;
        d->reportMinute = 0;
        d->save();
    }
    d->wake();  // the next minute boundary has moved
}

std::array<uint8_t, 256> Cp290Sim::graphics() const
{
    std::lock_guard lk(d->mu);
    return d->mem.graphics;
}

uint8_t Cp290Sim::baseHouseCode() const
{
    std::lock_guard lk(d->mu);
    return d->mem.baseCode;
}

void Cp290Sim::setBaseHouseCode(uint8_t code)
{
    std::lock_guard lk(d->mu);
    d->mem.baseCode = code;
    d->mem.status = 1;
    d->save();
}

SimClock Cp290Sim::clock() const
{
    std::lock_guard lk(d->mu);
    return d->clockAt(monoNs());
}

void Cp290Sim::setClock(SimClock c)
{
    setClock(c, std::chrono::milliseconds(0));
}

void Cp290Sim::setClock(SimClock c, std::chrono::milliseconds elapsed)
{
    {
        std::lock_guard lk(d->mu);
        const int64_t now = monoNs();
        d->setClockLocked(c, now - std::max<int64_t>(0, elapsed.count()) * kMsNs, now);
        d->save();
    }
    d->wake();  // the next minute boundary has moved
}

void Cp290Sim::press(uint8_t houseCode, uint8_t units1to8, uint8_t units9to16, uint8_t levelFunc)
{
    {
        std::lock_guard lk(d->mu);
        d->presses.push_back({houseCode, units1to8, units9to16, levelFunc});
    }
    d->wake();
}

ModuleState Cp290Sim::module(int house, int unit) const
{
    std::lock_guard lk(d->mu);
    if (house < 0 || house > 15 || unit < 1 || unit > 16)
        return {};
    return d->mem.modules[static_cast<size_t>(house * 16 + unit - 1)];
}

uint8_t Cp290Sim::status() const
{
    std::lock_guard lk(d->mu);
    return d->mem.status;
}

void Cp290Sim::setSilent(bool silent)
{
    {
        std::lock_guard lk(d->mu);
        d->silent = silent;
    }
    d->wake();
}

void Cp290Sim::setFailSelfTest(bool fail)
{
    std::lock_guard lk(d->mu);
    d->failSelfTest = fail;
}

void Cp290Sim::setSelfTestMs(int ms)
{
    std::lock_guard lk(d->mu);
    d->selfTestMs = std::max(0, ms);
}

std::vector<std::vector<uint8_t>> Cp290Sim::frames() const
{
    std::lock_guard lk(d->mu);
    return d->frames;
}

void Cp290Sim::clearFrames()
{
    std::lock_guard lk(d->mu);
    d->frames.clear();
}

size_t Cp290Sim::bytesReceived() const
{
    std::lock_guard lk(d->mu);
    return d->received;
}

size_t Cp290Sim::bytesSent() const
{
    std::lock_guard lk(d->mu);
    return d->sent;
}

}  // namespace sim
