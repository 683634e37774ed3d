#include "sim/control_channel.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace sim {

namespace {

constexpr size_t kMaxClients = 16;

bool powerCut(Cp290Sim& device, const std::vector<std::string>&, std::string&)
{
    device.powerCut();
    return true;
}

// press A 1 on | press A 16 off | press B 2 dim 8
bool press(Cp290Sim& device, const std::vector<std::string>& args, std::string& answer)
{
    static const uint8_t codes[16] = {0x60, 0xE0, 0x20, 0xA0, 0x10, 0x90, 0x50, 0xD0,
                                      0x70, 0xF0, 0x30, 0xB0, 0x00, 0x80, 0x40, 0xC0};
    const std::string& h = args[0];
    char* end = nullptr;
    const long unit = std::strtol(args[1].c_str(), &end, 10);
    const std::string& fn = args[2];
    const long level = args.size() == 4 ? std::strtol(args[3].c_str(), nullptr, 10) : 0;
    const bool dim = fn == "dim" && args.size() == 4 && level >= 1 && level <= 15;
    if (h.size() != 1 || h[0] < 'A' || h[0] > 'P' || *end != '\0' || unit < 1 || unit > 16 ||
        !(dim || ((fn == "on" || fn == "off") && args.size() == 3))) {
        answer = "press takes a house A..P, a unit 1..16 and on, off or dim 1..15";
        return false;
    }
    const uint8_t bit = static_cast<uint8_t>(0x80u >> ((unit - 1) % 8));
    const uint8_t levelFunc = static_cast<uint8_t>(dim ? (level << 4) | 5 : fn == "on" ? 2 : 3);
    device.press(codes[h[0] - 'A'], unit <= 8 ? bit : 0, unit > 8 ? bit : 0, levelFunc);
    return true;
}

bool showState(Cp290Sim& device, const std::vector<std::string>&, std::string& answer)
{
    int events = 0;
    for (int n = 1; n <= 128; ++n)
        events += device.event(n).has_value();
    const SimClock c = device.clock();
    char text[96];
    std::snprintf(text, sizeof text, "status %d base %02X events %d clock %02d:%02d %02X", device.status(),
                  device.baseHouseCode(), events, c.hour, c.minute, c.dayBit);
    answer = text;
    return true;
}

bool listCommands(Cp290Sim&, const std::vector<std::string>&, std::string& answer)
{
    for (const ControlCommand& c : controlCommands())
        answer += (answer.empty() ? "" : " ") + std::string(c.name);
    return true;
}

std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r')
            ++j;
        if (j > i)
            out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

std::string sysError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

bool socketAddress(const std::string& path, sockaddr_un& addr, std::string& err)
{
    addr = {};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path)
        return err = "control socket path too long (at most " + std::to_string(sizeof addr.sun_path - 1) +
                     " bytes): " + path,
               false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

const std::vector<ControlCommand>& controlCommands()
{
    static const std::vector<ControlCommand> table = {
        {"power-cut", "", "a power cut with a flat battery: memory and clock lost, status 0",
         0, 0, powerCut},
        {"state", "", "answers \"status S base HH events N clock HH:MM DD\"", 0, 0,
         showState},
        {"press", "HOUSE UNIT on|off|dim LEVEL", "a button pressed on the device's console: the command goes out "
         "on the power line and is reported", 3, 4, press},
        {"help", "", "answers the command names", 0, 0, listCommands},
    };
    return table;
}

std::string controlHelp()
{
    std::string out;
    for (const ControlCommand& c : controlCommands()) {
        std::string head = std::string("  ") + c.name + (*c.arguments ? std::string(" ") + c.arguments : "");
        head.resize(std::max<size_t>(head.size() + 1, 21), ' ');
        out += head + c.help + "\n";
    }
    return out;
}

std::string controlReply(Cp290Sim& device, const std::string& line)
{
    std::vector<std::string> args = words(line);
    if (args.empty())
        return "error: empty command";
    const std::string name = args.front();
    args.erase(args.begin());
    for (const ControlCommand& c : controlCommands()) {
        if (name != c.name)
            continue;
        if (int(args.size()) < c.minArgs || int(args.size()) > c.maxArgs)
            return "error: " + name + " takes " +
                   (*c.arguments ? std::string("the arguments ") + c.arguments : std::string("no arguments"));
        std::string answer;
        const bool ok = c.run(device, args, answer);
        return ok ? (answer.empty() ? "ok" : "ok " + answer) : "error: " + answer;
    }
    return "error: unknown command: " + name;
}

struct ControlChannel::Impl {
    Impl(Cp290Sim& dev, std::string p) : device(dev), path(std::move(p)) {}

    Cp290Sim& device;
    std::string path;
    int listenFd = -1;
    int wakeFd = -1;
    std::thread worker;
    std::atomic<bool> stopping{false};
    bool made = false;

    struct Client {
        int fd;
        std::string pending;
    };
    std::vector<Client> clients;

    void run();
    // Handles what a client sent; false when the client is to be dropped.
    bool serve(Client& c);
    void closeAll()
    {
        for (Client& c : clients)
            ::close(c.fd);
        clients.clear();
        if (listenFd >= 0)
            ::close(listenFd);
        if (wakeFd >= 0)
            ::close(wakeFd);
        listenFd = wakeFd = -1;
        if (made)
            ::unlink(path.c_str());
        made = false;
    }
};

void ControlChannel::Impl::run()
{
    while (!stopping) {
        std::vector<pollfd> fds{{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        for (const Client& c : clients)
            fds.push_back({c.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "cp290-sim: control channel: %s\n", std::strerror(errno));
            return;
        }
        if (stopping)
            return;
        // Clients first: the indexes of fds follow clients as it is now.
        for (size_t i = clients.size(); i-- > 0;) {
            if (fds[i + 2].revents == 0)
                continue;
            if (!serve(clients[i])) {
                ::close(clients[i].fd);
                clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if (fds[0].revents & POLLIN) {
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0 && clients.size() < kMaxClients)
                clients.push_back({fd, {}});
            else if (fd >= 0)
                ::close(fd);
        }
    }
}

bool ControlChannel::Impl::serve(Client& c)
{
    char buf[512];
    const ssize_t n = ::read(c.fd, buf, sizeof buf);
    if (n < 0)
        return errno == EINTR || errno == EAGAIN;
    if (n == 0)
        return false;
    c.pending.append(buf, static_cast<size_t>(n));
    std::string replies;
    for (size_t nl; (nl = c.pending.find('\n')) != std::string::npos;) {
        replies += controlReply(device, c.pending.substr(0, nl)) + "\n";
        c.pending.erase(0, nl + 1);
    }
    const bool tooLong = c.pending.size() > kMaxControlLine;
    if (tooLong)
        replies += "error: command line longer than " + std::to_string(kMaxControlLine) + " bytes\n";
    // A reply is a few dozen bytes; a client that does not read them is
    // dropped rather than waited for.
    const ssize_t w = ::send(c.fd, replies.data(), replies.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return !tooLong && (replies.empty() || w == ssize_t(replies.size()));
}

ControlChannel::ControlChannel(Cp290Sim& device, std::string path)
    : d(std::make_unique<Impl>(device, std::move(path)))
{
}

ControlChannel::~ControlChannel()
{
    stop();
}

const std::string& ControlChannel::path() const
{
    return d->path;
}

bool ControlChannel::start(std::string* error)
{
    std::string err;
    auto fail = [&] {
        d->closeAll();
        if (error)
            *error = err;
        return false;
    };
    if (d->worker.joinable())
        return err = "control channel already running", fail();
    sockaddr_un addr{};
    if (!socketAddress(d->path, addr, err))
        return fail();
    struct stat st{};
    if (lstat(d->path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode))
            return err = "refusing to replace " + d->path + ": it is not a socket", fail();
        ::unlink(d->path.c_str());  // left by an emulator that did not stop cleanly
    }
    d->listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    d->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d->listenFd < 0 || d->wakeFd < 0)
        return err = sysError("control socket"), fail();
    // Only the owner may cut the device's power.
    const mode_t old = ::umask(077);
    const int bound = ::bind(d->listenFd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    ::umask(old);
    if (bound != 0)
        return err = sysError("bind " + d->path), fail();
    d->made = true;
    if (::listen(d->listenFd, 8) != 0)
        return err = sysError("listen " + d->path), fail();
    d->stopping = false;
    d->worker = std::thread([this] { d->run(); });
    return true;
}

void ControlChannel::stop()
{
    if (d->worker.joinable()) {
        d->stopping = true;
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(d->wakeFd, &one, sizeof one);
        d->worker.join();
    }
    d->closeAll();
}

bool sendControl(const std::string& path, const std::string& command, std::string& reply, int timeoutMs,
                 std::string* error)
{
    std::string err;
    sockaddr_un addr{};
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto fail = [&](const std::string& why) {
        if (fd >= 0)
            ::close(fd);
        if (error)
            *error = why;
        return false;
    };
    if (!socketAddress(path, addr, err))
        return fail(err);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        return fail(sysError("connect " + path));
    const std::string line = command + "\n";
    if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size()))
        return fail(sysError("send " + path));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    reply.clear();
    for (;;) {
        if (const size_t nl = reply.find('\n'); nl != std::string::npos) {
            reply.resize(nl);
            ::close(fd);
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        const int ready = left > 0 ? ::poll(&p, 1, int(left)) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return fail("no reply from " + path + " within " + std::to_string(timeoutMs) + " ms");
        char buf[256];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0 && !(n < 0 && errno == EINTR))
            return fail("the control channel " + path + " closed without a reply");
        if (n > 0)
            reply.append(buf, static_cast<size_t>(n));
        if (reply.size() > 64 * kMaxControlLine)
            return fail("reply from " + path + " too long");
    }
}

}  // namespace sim
