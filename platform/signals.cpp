#include "platform/signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

std::atomic<SignalCleanup> g_cleanup{nullptr};
volatile std::sig_atomic_t g_stop = 0;
int g_pipe[2] = {-1, -1};

void onEndSignal(int sig)
{
    if (SignalCleanup c = g_cleanup.load())
        c();
    // Die of the signal itself, so the parent sees the status it expects.
    std::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
}

void onQuitSignal(int)
{
    const int saved = errno;
    g_stop = 1;
    const char b = 1;
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &b, 1);
    errno = saved;
}

void install(void (*handler)(int))
{
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    for (int s : kSignals)
        sigaddset(&sa.sa_mask, s);  // one cleanup at a time
    for (int s : kSignals)
        sigaction(s, &sa, nullptr);
}

}  // namespace

void endOnSignals(SignalCleanup cleanup)
{
    g_cleanup.store(cleanup);
    install(onEndSignal);
}

int quitOnSignals()
{
    if (g_pipe[0] < 0 && pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) == -1)
        return -1;
    install(onQuitSignal);
    return g_pipe[0];
}

bool stopRequested()
{
    return g_stop != 0;
}

}  // namespace platform
