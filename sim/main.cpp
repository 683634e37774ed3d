// cp290-sim: the CP290 emulator on a pseudo-terminal, for use without the
// device. Prints one "ready" line once the line is open, then answers until
// SIGINT, SIGTERM or SIGHUP, and saves its state on the way out.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>

#include "platform/program_info.h"
#include "sim/control_channel.h"
#include "sim/cp290_sim.h"

namespace {

constexpr int kUsageError = 2;  // also a line or state file that could not be set up

void usage(FILE* to)
{
    std::fputs(
        "Usage: cp290-sim [options]\n"
        "       cp290-sim --send PATH COMMAND [ARGUMENT...]\n"
        "Emulates a CP290 home-automation interface on a pseudo-terminal.\n"
        "\n"
        "  --paced            real line timing, 10 bits per byte at the baud rate (default)\n"
        "  --no-pacing        answer at once\n"
        "  --baud N           baud rate for pacing (default 600)\n"
        "  --link PATH        make a symbolic link to the line at PATH (an existing link is\n"
        "                     replaced, any other file is left alone and is an error)\n"
        "  --state FILE       load the device memory from FILE and save it there after\n"
        "                     every change\n"
        "  --silent           read everything, never answer\n"
        "  --fail-self-test   the self test reports failure\n"
        "  --self-test-ms N   how long the self test takes (default 12000)\n"
        "  --reports          send a report when an event's time comes and after direct\n"
        "                     commands\n"
        "  --speed N          the device clock runs N times faster (1 to 3600), for\n"
        "                     demonstrations and tests\n"
        "  --house            print each module's change as it happens: \"module A1 on\",\n"
        "                     \"module A2 dim 8\", \"module A3 off\" (the state file keeps them)\n"
        "  --stray-bytes N    send N stray bytes before every reply\n"
        "  --report-before-reply  send an unsolicited report right before every reply\n"
        "  --report-mid-reply send an unsolicited report in the middle of every reply\n"
        "  --bad-checksum     clock replies and event reads carry a wrong checksum\n"
        "  --cut-short        send only the first half of every reply\n"
        "  --echo             no device: send back every byte received\n"
        "  --noise            no device: a steady stream of noise bytes, no replies\n"
        "  --log              print every frame received to stdout, one line each:\n"
        "                     \"frame\" and the command and data bytes in hex\n"
        "  --control PATH     accept commands on a Unix socket at PATH (an old socket\n"
        "                     is replaced, any other file is left alone and is an error)\n"
        "  --send PATH COMMAND [ARGUMENT...]\n"
        "                     send one command to the emulator listening at PATH, print\n"
        "                     its reply; exit 0 for \"ok ...\", 1 for \"error: ...\" or no reply\n"
        "  --help             show this text\n"
        "  --version          show the version\n"
        "\n"
        "When ready it prints one line to stdout:\n"
        "  cp290-sim ready on /dev/pts/N\n"
        "or, with --link:\n"
        "  cp290-sim ready on /dev/pts/N link PATH\n"
        "(PATH runs to the end of the line). It runs until SIGINT, SIGTERM or SIGHUP.\n"
        "\n"
        "The control socket takes one command per line and answers one line each:\n"
        "\"ok\", \"ok ANSWER\" or \"error: WHY\". Commands:\n",
        to);
    std::fputs(sim::controlHelp().c_str(), to);
}

// cp290-sim --send PATH COMMAND...: the channel's client for a shell.
int sendCommand(int argc, char** argv)
{
    std::string command;
    for (int i = 3; i < argc; ++i)
        command += (i > 3 ? " " : "") + std::string(argv[i]);
    std::string reply, error;
    if (!sim::sendControl(argv[2], command, reply, 10000, &error)) {
        std::fprintf(stderr, "cp290-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", reply.c_str());
    return reply == "ok" || reply.rfind("ok ", 0) == 0 ? 0 : 1;
}

int badUsage(const std::string& message)
{
    std::fprintf(stderr, "cp290-sim: %s\nTry 'cp290-sim --help'.\n", message.c_str());
    return kUsageError;
}

bool parseInt(const std::string& s, long lo, long hi, int& out)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::string(argv[1]) == "--send") {
        if (argc < 4)
            return badUsage("--send needs a socket path and a command");
        return sendCommand(argc, argv);
    }
    sim::SimOptions options;
    std::string controlPath;
    options.paced = true;     // as the device is
    options.keepFrames = false;  // nobody asks for them, and the program may run for weeks

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= argc)
                return false;
            value = argv[++i];
            return true;
        };
        const bool wantsValue = arg == "--baud" || arg == "--link" || arg == "--state" || arg == "--self-test-ms" ||
                               arg == "--stray-bytes" || arg == "--control" || arg == "--speed";
        if (hasValue && !wantsValue)
            return badUsage("option " + arg + " takes no value");
        if (wantsValue && !takeValue())
            return badUsage("option " + arg + " needs a value");

        if (arg == "--help") {
            usage(stdout);
            return 0;
        } else if (arg == "--version") {
            std::fputs(platform::versionText("cp290-sim").c_str(), stdout);
            return 0;
        } else if (arg == "--paced") {
            options.paced = true;
        } else if (arg == "--no-pacing") {
            options.paced = false;
        } else if (arg == "--baud") {
            if (!parseInt(value, 1, 4'000'000, options.baud))
                return badUsage("invalid baud rate: " + value);
        } else if (arg == "--link") {
            if (value.empty())
                return badUsage("--link needs a path");
            options.linkPath = value;
        } else if (arg == "--state") {
            if (value.empty())
                return badUsage("--state needs a file");
            options.stateFile = value;
        } else if (arg == "--silent") {
            options.silent = true;
        } else if (arg == "--fail-self-test") {
            options.failSelfTest = true;
        } else if (arg == "--self-test-ms") {
            if (!parseInt(value, 0, 600'000, options.selfTestMs))
                return badUsage("invalid self-test time: " + value);
        } else if (arg == "--speed") {
            if (!parseInt(value, 1, 3600, options.speed))
                return badUsage("invalid speed: " + value);
        } else if (arg == "--house") {
            options.printModules = true;
        } else if (arg == "--reports") {
            options.reports = true;
        } else if (arg == "--stray-bytes") {
            if (!parseInt(value, 0, 1000, options.strayBytes))
                return badUsage("invalid stray byte count: " + value);
        } else if (arg == "--report-before-reply") {
            options.reportBeforeReply = true;
        } else if (arg == "--report-mid-reply") {
            options.reportMidReply = true;
        } else if (arg == "--bad-checksum") {
            options.badChecksum = true;
        } else if (arg == "--cut-short") {
            options.cutShort = true;
        } else if (arg == "--echo") {
            options.echo = true;
        } else if (arg == "--noise") {
            options.noise = true;
        } else if (arg == "--log") {
            options.logFrames = true;
        } else if (arg == "--control") {
            if (value.empty())
                return badUsage("--control needs a path");
            controlPath = value;
        } else {
            return badUsage("unknown option: " + arg);
        }
    }

    // Blocked before the worker starts, so only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);  // a closed stdout must not end the device

    sim::Cp290Sim device(options);
    std::string error;
    if (!device.start(&error)) {
        std::fprintf(stderr, "cp290-sim: %s\n", error.c_str());
        return kUsageError;
    }
    sim::ControlChannel control(device, controlPath);
    if (!controlPath.empty() && !control.start(&error)) {
        std::fprintf(stderr, "cp290-sim: %s\n", error.c_str());
        device.stop();
        return 1;
    }
    if (options.linkPath.empty())
        std::printf("cp290-sim ready on %s\n", device.ptyPath().c_str());
    else
        std::printf("cp290-sim ready on %s link %s\n", device.ptyPath().c_str(), options.linkPath.c_str());
    std::fflush(stdout);

    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
    control.stop();
    device.stop();
    return 0;
}
