#include "platform/paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {
std::string withSlash(std::string s)
{
    if (s.empty() || s.back() != '/')
        s += '/';
    return s;
}
}  // namespace

std::string userFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return withSlash(home);
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return withSlash(pw->pw_dir);
    return "/";
}

std::string applicationFolder()
{
    if (const char* dir = std::getenv("CP290_APP_DIR"); dir && *dir)
        return withSlash(dir);
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "./";
    std::string exe(buf, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
}

std::string suiteStateFolder()
{
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        return withSlash(xdg) + "cp290/";
    return userFolder() + ".local/state/cp290/";
}

int makeFolders(const std::string& folder)
{
    for (size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos != folder.size() && folder[pos] != '/')
            continue;
        if (::mkdir(folder.substr(0, pos).c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    return 0;
}

std::string fileNameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool hasDisplay()
{
    for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* v = std::getenv(var);
        if (v && *v)
            return true;
    }
    return false;
}

void allowOffscreenFallback()
{
    if (const char* chosen = std::getenv("QT_QPA_PLATFORM"); chosen && *chosen)
        return;
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    setenv("QT_QPA_PLATFORM", wayland && *wayland ? "wayland;xcb;offscreen" : "xcb;offscreen", 1);
}

}  // namespace platform
