#pragma once
// The real cron daemon as a throw-away user, for the tests that prove the
// crontab lines the suite writes run as cron runs them. Root only: the tests
// skip themselves, visibly, otherwise. The user, its home, its crontab and a
// daemon the test started are all gone when the objects die, also when the
// test fails.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <string>
#include <thread>

#include "tests/support/test_support.h"
#include <unistd.h>
#include <vector>

#include "state/helper_process.h"

namespace testing_support {

inline constexpr const char* kCronDaemon = "/usr/sbin/cron";
inline constexpr const char* kCronPidFile = "/run/crond.pid";

inline bool runCommand(const std::vector<std::string>& argv)
{
    return state::runAndWait(argv, std::chrono::seconds(20)).ok();
}

// The suite's programs copied where a throw-away user can run them: the
// build folder may sit below folders only their owner can enter (a clone in
// a mktemp folder). Removed with the object.
class ReachableApp {
public:
    explicit ReachableApp(const char* binDir)
    {
        ::chmod(m_dir.path().c_str(), 0755);
        for (const char* program : {"tamsel", "brondile", "veskarn", "pindrel", "mavrone"})
            std::filesystem::copy_file(std::string(binDir) + "/" + program, m_dir.file(program));
    }
    std::string folder() const { return m_dir.path() + "/"; }

private:
    TempDir m_dir;
};

// Why the real cron cannot be used here, or "" when it can.
inline std::string realCronUnavailable()
{
    if (::geteuid() != 0)
        return "needs root to create a throw-away user (CI runs it as root)";
    if (::access(kCronDaemon, X_OK) != 0)
        return "no cron daemon at /usr/sbin/cron; install the cron package";
    if (::access("/usr/sbin/useradd", X_OK) != 0)
        return "no useradd to create a throw-away user";
    return "";
}

inline void skipVisibly(const char* test, const std::string& why)
{
    std::fprintf(stderr, "\n*** SKIPPED %s: %s ***\n\n", test, why.c_str());
}

struct ThrowAwayUser {
    std::string name;
    std::string home;
    uid_t uid = 0;
    gid_t gid = 0;
    bool created = false;

    explicit ThrowAwayUser(const std::string& prefix)
        : name(prefix + std::to_string(::getpid() % 100000)), home("/tmp/" + name)
    {
    }
    // Creates the user with a home of its own; false when useradd failed.
    bool create()
    {
        if (!runCommand({"useradd", "--create-home", "--home-dir", home, "--shell", "/bin/sh", name}))
            return false;
        created = true;
        const passwd* pw = ::getpwnam(name.c_str());
        if (!pw)
            return false;
        uid = pw->pw_uid;
        gid = pw->pw_gid;
        return true;
    }
    // Everything under the user's home becomes the user's.
    bool ownHome() { return runCommand({"chown", "-R", name + ":", home}); }
    ~ThrowAwayUser()
    {
        if (!created)
            return;
        runCommand({"crontab", "-u", name, "-r"});
        EXPECT_TRUE(runCommand({"userdel", "--remove", name})) << "could not remove user " << name;
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    }
};

// Cron rereads the crontabs only when the spool folder's modification time,
// in whole seconds, differs from the one it last read: a crontab installed
// in the same second as a reread goes unseen until the next change. Cron
// rereads when it starts and at each minute; these keep installs clear of both.
inline void waitForNextSecond()
{
    const std::time_t now = std::time(nullptr);
    while (std::time(nullptr) == now)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}
inline void stayClearOfCronMinute()
{
    for (;;) {
        const std::time_t now = std::time(nullptr);
        std::tm t{};
        ::localtime_r(&now, &t);
        if (t.tm_sec >= 3 && t.tm_sec <= 55)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
}

// The cron daemon, stopped again only when this test started it.
struct CronDaemon {
    pid_t started = 0;

    // A process that exists and is not a zombie (a stopped daemon nobody
    // has reaped yet still answers kill(pid, 0)).
    static bool alive(pid_t pid)
    {
        if (pid <= 0 || ::kill(pid, 0) != 0)
            return false;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string field;
        for (int i = 0; i < 3 && stat >> field; ++i) {
        }
        return field != "Z" && field != "X";
    }
    static pid_t running()
    {
        std::ifstream in(kCronPidFile);
        pid_t pid = 0;
        return in >> pid && alive(pid) ? pid : 0;
    }
    // True when cron runs (already, or started here).
    bool ensure()
    {
        if (running())
            return true;
        if (!runCommand({kCronDaemon}))
            return false;
        for (int i = 0; i < 50 && !running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        started = running();
        // A daemon just started reads the crontabs now; see waitForNextSecond.
        if (started > 0)
            waitForNextSecond();
        return started > 0;
    }
    // Waits (bounded) until the daemon is gone, so the next test that needs
    // cron never takes the dying one for a running one.
    ~CronDaemon()
    {
        if (started <= 0)
            return;
        ::kill(started, SIGTERM);
        for (int i = 0; i < 100 && alive(started); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
};

// A wrapper that runs `crontab -u user ...`, for the helpers' CP290_CRONTAB,
// so the suite's own crontab code edits that user's crontab only.
inline std::string crontabForUser(const std::string& folder, const std::string& user)
{
    const std::string wrapper = folder + "/crontab-for-" + user;
    std::ofstream(wrapper) << "#!/bin/sh\nexec crontab -u '" << user << "' \"$@\"\n";
    std::filesystem::permissions(wrapper, std::filesystem::perms::owner_all);
    return wrapper;
}

}  // namespace testing_support
