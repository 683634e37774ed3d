#pragma once
// Test surroundings for the shared state: environment variables set for one
// test and restored after it, and a stand-in crontab(1) that keeps the
// user's crontab in a file of the test's temporary folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace state_test {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// `crontab -l` prints <dir>/installed or says "no crontab for ..." and exits
// 1; like the system's crontab it exits 0 even when its output could not be
// written. `crontab FILE` installs FILE; `crontab -r` removes it. While
// <dir>/failing exists every call fails as an unusable crontab command does.
// While <dir>/hanging exists every call first stalls for 12 seconds (its
// process ID added to <dir>/hung), then goes on as usual. While <dir>/slow
// exists an install takes 0.2 seconds; with <dir>/claims-installed it exits 0
// without installing, with <dir>/installs-then-fails it installs and exits 1.
class CrontabStandIn {
public:
    explicit CrontabStandIn(const std::string& dir)
        : m_script(dir + "/crontab-standin"), m_store(dir + "/installed"), m_failing(dir + "/failing"),
          m_hanging(dir + "/hanging"), m_hung(dir + "/hung"), m_slow(dir + "/slow")
    {
        testing_support::writeFile(m_script,
            "#!/bin/bash\n"
            "if [ -e '" + m_hanging + "' ]; then echo $$ >> '" + m_hung + "'; sleep 12; fi\n"
            "if [ -e '" + m_failing + "' ]; then echo 'crontab: cannot open spool' >&2; exit 2; fi\n"
            "case \"$1\" in\n"
            "  -l) if [ -f '" + m_store + "' ]; then cat '" + m_store + "' 2>/dev/null; exit 0; "
            "else echo \"no crontab for ${USER:-user}\" >&2; exit 1; fi ;;\n"
            "  -r) rm -f '" + m_store + "' ;;\n"
            "  *) if [ -e '" + m_slow + "' ]; then sleep 0.2; fi\n"
            "     if [ -e '" + dir + "/claims-installed' ]; then exit 0; fi\n"
            "     cp \"$1\" '" + m_store + ".new' && mv '" + m_store + ".new' '" + m_store + "' || exit 1\n"
            "     if [ -e '" + dir + "/installs-then-fails' ]; then exit 1; fi ;;\n"
            "esac\n");
        std::filesystem::permissions(m_script, std::filesystem::perms::owner_all);
    }
    const std::string& script() const { return m_script; }
    void install(const std::string& bytes) { testing_support::writeFile(m_store, bytes); }
    bool present() const { return std::filesystem::exists(m_store); }
    std::string installed() const { return testing_support::readFile(m_store); }
    void setFailing(bool on)
    {
        if (on)
            testing_support::writeFile(m_failing, "");
        else
            std::filesystem::remove(m_failing);
    }
    void setSlow() { testing_support::writeFile(m_slow, ""); }
    void setFlag(const std::string& name, bool on)
    {
        const std::string path = std::filesystem::path(m_store).parent_path().string() + "/" + name;
        if (on)
            testing_support::writeFile(path, "");
        else
            std::filesystem::remove(path);
    }
    void setHanging(bool on)
    {
        if (on)
            testing_support::writeFile(m_hanging, "");
        else
            std::filesystem::remove(m_hanging);
    }
    // Process IDs of the calls that stalled.
    std::vector<int> hungCalls() const
    {
        std::vector<int> out;
        std::istringstream in(std::filesystem::exists(m_hung) ? testing_support::readFile(m_hung) : "");
        for (int pid; in >> pid;)
            out.push_back(pid);
        return out;
    }

private:
    std::string m_script, m_store, m_failing, m_hanging, m_hung, m_slow;
};

}  // namespace state_test
