#include "state/helper_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <string_view>
#include <unistd.h>

#include "platform/syslog_log.h"

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
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            open = false;  // end, or a pipe that can no longer be read
        return;
    }
}

}  // namespace

std::string crontabProgram()
{
    const char* e = std::getenv("CP290_CRONTAB");
    return e && *e ? std::string(e) : std::string("crontab");
}

bool listCrontab(const char* who, std::chrono::milliseconds bound, std::string& listing)
{
    // crontab(1) says this, and exits 1, when the user has no crontab.
    static constexpr std::string_view kNoCrontab = "no crontab for ";
    listing.clear();
    // The listing comes through a pipe and is kept only when the command
    // succeeded: it exits 0 even when its own output could not be written.
    std::string complaint;
    const ProcessResult r = runAndWait({crontabProgram(), "-l"}, bound, -1, &complaint, &listing);
    if (r.ok())
        return true;
    listing.clear();
    if (r.started && !r.timedOut && complaint.rfind(kNoCrontab, 0) == 0)
        return true;
    if (!r.started) {
        platform::logf("%s Error - Starting %s - %s(%d).\n", who, crontabProgram().c_str(),
                       std::strerror(r.error), r.error);
    } else if (r.timedOut) {
        platform::logf("%s Error - crontab -l did not finish within %d seconds; stopped.\n", who,
                       static_cast<int>(bound.count() / 1000));
    } else {
        // The command's complaint, fit for one log line.
        std::string text;
        for (const char c : complaint.substr(0, 200))
            text += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        platform::logf("%s Error - crontab -l failed with status %d: %s\n", who, r.exitStatus, text.c_str());
    }
    return false;
}

ProcessResult runAndWait(const std::vector<std::string>& argv, std::chrono::milliseconds bound,
                         int stdoutFd, std::string* stderrText, std::string* stdoutText)
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

    // Output collected through pipes, drained while the program runs so a
    // full pipe never stalls it.
    struct Capture {
        std::string* into;
        int fd[2] = {-1, -1};
        bool open = false;
    };
    Capture captures[2] = {{stdoutText}, {stderrText}};
    const auto closeCaptures = [&captures] {
        for (Capture& c : captures)
            for (int& fd : c.fd)
                if (fd >= 0) {
                    close(fd);
                    fd = -1;
                }
    };
    for (Capture& c : captures) {
        if (c.into && pipe2(c.fd, O_CLOEXEC) != 0) {
            r.error = errno;
            closeCaptures();
            return r;
        }
    }
    // Reports a failed exec to the parent; closed by a successful one.
    int execPipe[2];
    if (pipe2(execPipe, O_CLOEXEC) != 0) {
        r.error = errno;
        closeCaptures();
        return r;
    }

    const pid_t pid = fork();
    if (pid == 0) {
        const int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            dup2(devnull, 0);
        if (stdoutText)
            dup2(captures[0].fd[1], 1);
        else if (stdoutFd >= 0)
            dup2(stdoutFd, 1);
        if (stderrText)
            dup2(captures[1].fd[1], 2);
        execvp(args[0], args.data());
        const int e = errno;
        (void)!write(execPipe[1], &e, sizeof e);
        _exit(127);
    }
    const int forkErr = errno;
    close(execPipe[1]);
    for (Capture& c : captures)
        if (c.fd[1] >= 0) {
            close(c.fd[1]);
            c.fd[1] = -1;
        }
    if (pid < 0) {
        r.error = forkErr;
        close(execPipe[0]);
        closeCaptures();
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

    for (Capture& c : captures) {
        c.open = c.into != nullptr;
        if (c.open)
            fcntl(c.fd[0], F_SETFL, fcntl(c.fd[0], F_GETFL) | O_NONBLOCK);
    }
    const auto drain = [&captures] {
        for (Capture& c : captures)
            if (c.open)
                readAvailable(c.fd[0], *c.into, c.open);
    };
    const int pidfd = pidfdOpen(pid);
    const auto deadline = Clock::now() + bound;
    int status = 0;
    bool reaped = false;
    bool statusLost = false;
    while (!reaped) {
        const pid_t w = waitpid(pid, &status, WNOHANG);
        if (w == pid || (w < 0 && errno != EINTR)) {
            // ECHILD: the kernel reaped the child (SIGCHLD ignored); its
            // status is gone and must not read as success.
            statusLost = w != pid;
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
        pollfd fds[3];
        nfds_t n = 0;
        if (pidfd >= 0)
            fds[n++] = {pidfd, POLLIN, 0};
        for (const Capture& c : captures)
            if (c.open)
                fds[n++] = {c.fd[0], POLLIN, 0};
        // Without a pidfd the child's end is noticed on the next short nap.
        const int napMs = pidfd >= 0 ? static_cast<int>(left.count()) : std::min<int>(20, static_cast<int>(left.count()));
        poll(fds, n, napMs);
        drain();
    }
    if (pidfd >= 0)
        close(pidfd);
    drain();
    closeCaptures();
    if (!statusLost)
        r.exitStatus = statusOf(status);
    return r;
}

}  // namespace state
