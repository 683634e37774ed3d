#pragma once
// Running the helpers and the crontab command, and waiting for them with a
// bound. The wait sleeps in poll() on a pidfd (or, on kernels without one,
// in short poll() naps between waitpid checks); a program still running at
// the bound is killed and reaped, so no caller ever hangs on one.
#include <chrono>
#include <string>
#include <vector>

namespace state {

struct ProcessResult {
    bool started = false;   // false: fork or exec failed, see error
    bool timedOut = false;  // killed at the bound
    int exitStatus = -1;    // exit status, or 128 + signal; -1 when not known
    int error = 0;          // errno of a failed start
    bool ok() const { return started && !timedOut && exitStatus == 0; }
};

// Runs argv[0] (looked up in PATH when it holds no "/") with the process's
// environment. stdoutFd >= 0 becomes the program's standard output; when
// stdoutText is given the output is collected into it instead (stdoutFd is
// then unused). When stderrText is given the program's standard error is
// collected into it, else it is inherited. Standard input is /dev/null.
ProcessResult runAndWait(const std::vector<std::string>& argv, std::chrono::milliseconds bound,
                         int stdoutFd = -1, std::string* stderrText = nullptr,
                         std::string* stdoutText = nullptr);

// The crontab command: CP290_CRONTAB when set, else "crontab" from PATH.
std::string crontabProgram();

// "crontab -l" within kCrontabBound-like `bound`. A user without a crontab
// gets an empty listing and true. Any other failure logs one line
// "<who> Error - ..." and returns false: an empty listing then would pass
// for a crontab without lines. Shared by the copy helper and the schedule
// loader, which reads the crontab without any file in the user folder.
bool listCrontab(const char* who, std::chrono::milliseconds bound, std::string& listing);

}  // namespace state
