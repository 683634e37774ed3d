#include "state/helper_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace state {
namespace {

using Clock = std::chrono::steady_clock;

int pidfdOpen(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

int statusOf(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void readAvailable(int fd, std::string& into, bool& open)
{
    char buf[1024];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            open = false;
        return;  // EAGAIN or end
    }
}

}  // namespace

std::string crontabProgram()
{
    const char* e = std::getenv("CP290_CRONTAB");
    return e && *e ? std::string(e) : std::string("crontab");
}

ProcessResult runAndWait(const std::vector<std::string>& argv, std::chrono::milliseconds bound,
                         int stdoutFd, std::string* stderrText)
{
    ProcessResult r;
    if (argv.empty()) {
        r.error = EINVAL;
        return r;
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int errPipe[2] = {-1, -1};
    if (stderrText && pipe2(errPipe, O_CLOEXEC) != 0) {
        r.error = errno;
        return r;
    }
    // Reports a failed exec to the parent; closed by a successful one.
    int execPipe[2];
    if (pipe2(execPipe, O_CLOEXEC) != 0) {
        r.error = errno;
        if (stderrText) {
            close(errPipe[0]);
            close(errPipe[1]);
        }
        return r;
    }

    const pid_t pid = fork();
    if (pid == 0) {
        const int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            dup2(devnull, 0);
        if (stdoutFd >= 0)
            dup2(stdoutFd, 1);
        if (stderrText)
            dup2(errPipe[1], 2);
        execvp(args[0], args.data());
        const int e = errno;
        (void)!write(execPipe[1], &e, sizeof e);
        _exit(127);
    }
    const int forkErr = errno;
    close(execPipe[1]);
    if (stderrText)
        close(errPipe[1]);
    if (pid < 0) {
        r.error = forkErr;
        close(execPipe[0]);
        if (stderrText)
            close(errPipe[0]);
        return r;
    }

    int execErr = 0;
    ssize_t got;
    do
        got = read(execPipe[0], &execErr, sizeof execErr);
    while (got < 0 && errno == EINTR);
    close(execPipe[0]);
    r.started = got != static_cast<ssize_t>(sizeof execErr);
    if (!r.started)
        r.error = execErr;

    bool errOpen = stderrText != nullptr;
    if (errOpen)
        fcntl(errPipe[0], F_SETFL, fcntl(errPipe[0], F_GETFL) | O_NONBLOCK);
    const int pidfd = pidfdOpen(pid);
    const auto deadline = Clock::now() + bound;
    int status = 0;
    bool reaped = false;
    while (!reaped) {
        const pid_t w = waitpid(pid, &status, WNOHANG);
        if (w == pid || (w < 0 && errno != EINTR)) {
            reaped = true;
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            r.timedOut = true;
            reaped = true;
            break;
        }
        pollfd fds[2];
        nfds_t n = 0;
        if (pidfd >= 0)
            fds[n++] = {pidfd, POLLIN, 0};
        if (errOpen)
            fds[n++] = {errPipe[0], POLLIN, 0};
        // Without a pidfd the child's end is noticed on the next short nap.
        const int napMs = pidfd >= 0 ? static_cast<int>(left.count()) : std::min<int>(20, static_cast<int>(left.count()));
        poll(fds, n, napMs);
        if (errOpen)
            readAvailable(errPipe[0], *stderrText, errOpen);
    }
    if (pidfd >= 0)
        close(pidfd);
    if (stderrText) {
        if (errOpen)
            readAvailable(errPipe[0], *stderrText, errOpen);
        close(errPipe[0]);
    }
    r.exitStatus = statusOf(status);
    return r;
}

}  // namespace state
