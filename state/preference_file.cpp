#include "state/preference_file.h"

#include <QSettings>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "platform/whole_file.h"

namespace state {
namespace {

// Key text as QSettings' INI reader takes it back: letters, digits and
// "-_." as they are, everything else %XX (or %UXXXX beyond Latin-1).
std::string escapeKey(const std::string& key)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const QChar ch : QString::fromUtf8(key)) {
        const char16_t u = ch.unicode();
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' ||
            u == '_' || u == '.') {
            out += static_cast<char>(u);
        } else if (u == '/') {
            out += '\\';
        } else if (u <= 0xFF) {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 0xF];
        } else {
            out += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += hex[(u >> shift) & 0xF];
        }
    }
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The key of a stored line, unescaped, or empty when the line holds none.
std::string keyOfLine(const std::string& line)
{
    const size_t eq = line.find('=');
    if (eq == std::string::npos)
        return {};
    size_t b = 0, e = eq;
    while (b < e && (line[b] == ' ' || line[b] == '\t'))
        ++b;
    while (e > b && (line[e - 1] == ' ' || line[e - 1] == '\t'))
        --e;
    if (b == e || line[b] == ';' || line[b] == '#')
        return {};
    QString key;
    for (size_t i = b; i < e; ++i) {
        const char c = line[i];
        if (c == '\\') {
            key += QLatin1Char('/');
        } else if (c == '%' && i + 5 < e && line[i + 1] == 'U') {
            int v = 0;
            bool ok = true;
            for (size_t k = i + 2; k < i + 6; ++k) {
                const int h = hexValue(line[k]);
                ok = ok && h >= 0;
                v = v * 16 + (h < 0 ? 0 : h);
            }
            if (!ok)
                return {};
            key += QChar(static_cast<char16_t>(v));
            i += 5;
        } else if (c == '%' && i + 2 < e && hexValue(line[i + 1]) >= 0 && hexValue(line[i + 2]) >= 0) {
            key += QChar(static_cast<char16_t>(hexValue(line[i + 1]) * 16 + hexValue(line[i + 2])));
            i += 2;
        } else {
            key += QChar::fromLatin1(c);
        }
    }
    return key.toStdString();
}

// One text as an INI value QSettings reads back unchanged: plain when it
// can be, else in double quotes with C escapes. A leading "@" is doubled,
// as the reader takes "@..." for a typed value.
std::string escapeText(const QString& text)
{
    static const char hex[] = "0123456789abcdef";
    const QString t = text.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + text : text;
    bool quote = !t.isEmpty() && (t.front().isSpace() || t.back().isSpace());
    QString body;
    bool afterHexEscape = false;
    auto hexEscape = [&body](char16_t u) {
        body += QLatin1String("\\x");
        body += QLatin1Char(hex[(u >> 4) & 0xF]);
        body += QLatin1Char(hex[u & 0xF]);
    };
    for (const QChar ch : t) {
        const char16_t u = ch.unicode();
        const bool hexDigit = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
        if (afterHexEscape && hexDigit) {
            // A digit right after \x would be read as part of it.
            hexEscape(u);
            continue;
        }
        afterHexEscape = false;
        switch (u) {
        case '"': body += QLatin1String("\\\""); quote = true; continue;
        case '\\': body += QLatin1String("\\\\"); continue;
        case '\n': body += QLatin1String("\\n"); continue;
        case '\r': body += QLatin1String("\\r"); continue;
        case '\t': body += QLatin1String("\\t"); continue;
        case ',': case ';': case '=': case '#':
            quote = true;
            break;
        default:
            break;
        }
        if (u < 0x20 || u == 0x7F) {
            hexEscape(u);
            afterHexEscape = true;
            continue;
        }
        body += ch;  // surrogate pairs stay together for the UTF-8 below
    }
    const std::string bytes = body.toStdString();
    return quote ? '"' + bytes + '"' : bytes;
}

std::string valueText(const PreferenceChange& c)
{
    if (const int32_t* n = std::get_if<int32_t>(&c.value))
        return std::to_string(*n);
    if (const QString* s = std::get_if<QString>(&c.value))
        return escapeText(*s);
    const QStringList& list = std::get<QStringList>(c.value);
    if (list.isEmpty())
        return "@Invalid()";
    std::string out;
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i > 0)
            out += ", ";
        out += escapeText(list[i]);  // an item holding a comma is quoted
    }
    return out;
}

struct Line {
    std::string text;  // without its LF
    bool general;      // in the [General] group (or before any group)
};

bool isGroupHeader(const std::string& line, std::string* name)
{
    size_t b = 0;
    while (b < line.size() && (line[b] == ' ' || line[b] == '\t'))
        ++b;
    if (b >= line.size() || line[b] != '[')
        return false;
    const size_t close = line.find(']', b);
    if (close == std::string::npos)
        return false;
    *name = line.substr(b + 1, close - b - 1);
    return true;
}

bool continues(const std::string& line)
{
    std::string t = line;
    while (!t.empty() && (t.back() == '\r'))
        t.pop_back();
    return !t.empty() && t.back() == '\\';
}

// 0 when QSettings reads every change back from `bytes` as written,
// EBADMSG when not, the errno when the check itself cannot be written. A
// hand-edited line (a quote left open, say) can hide the lines after it;
// such a file is left as it is rather than replaced by one that loses the
// new values. Checked on a scratch file of its own name, which QSettings
// has never cached.
int readsBack(const std::string& path, const std::string& bytes, const std::vector<PreferenceChange>& changes)
{
    static unsigned counter = 0;
    const std::string scratch = path + ".check." + std::to_string(::getpid()) + "." + std::to_string(++counter);
    const int fd = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return 0;  // nowhere to check; the write itself will say what is wrong
    size_t done = 0;
    int err = 0;
    while (done < bytes.size() && err == 0) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR)
            err = errno;
        else if (n == 0)
            err = EIO;
        else if (n > 0)
            done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (err != 0) {
        ::unlink(scratch.c_str());
        return err;  // a full disk, as the write itself would meet it
    }
    bool same = true;
    {
        QSettings check(QString::fromStdString(scratch), QSettings::IniFormat);
        std::vector<std::string> last;  // the last change of a key is what must be there
        for (auto c = changes.rbegin(); same && c != changes.rend(); ++c) {
            if (std::find(last.begin(), last.end(), c->key) != last.end())
                continue;
            last.push_back(c->key);
            const QString key = QString::fromStdString(c->key);
            const QVariant v = check.value(key);
            if (std::holds_alternative<std::monostate>(c->value))
                same = !check.contains(key);
            else if (const int32_t* n = std::get_if<int32_t>(&c->value))
                same = v.toString() == QString::number(*n);
            else if (const QString* t = std::get_if<QString>(&c->value))
                same = v.typeId() == QMetaType::QString && v.toString() == *t;
            else {
                const QStringList& want = std::get<QStringList>(c->value);
                const QStringList got = !v.isValid() ? QStringList{} : v.typeId() == QMetaType::QString ? QStringList{v.toString()} : v.toStringList();
                same = check.contains(key) && got == want;
            }
        }
    }
    ::unlink(scratch.c_str());
    return same ? 0 : EBADMSG;
}

}  // namespace

std::string editPreferenceBytes(const std::string& old, const std::vector<PreferenceChange>& changes)
{
    std::vector<Line> lines;
    bool general = true;
    size_t start = 0;
    while (start < old.size()) {
        size_t lf = old.find('\n', start);
        const bool last = lf == std::string::npos;
        std::string text = old.substr(start, last ? std::string::npos : lf - start);
        std::string group;
        if (isGroupHeader(text, &group)) {
            general = group == "General";
        }
        lines.push_back(Line{std::move(text), general});
        start = last ? old.size() : lf + 1;
    }

    for (const PreferenceChange& c : changes) {
        const bool removing = std::holds_alternative<std::monostate>(c.value);
        const std::string newLine = removing ? std::string() : escapeKey(c.key) + '=' + valueText(c);
        bool placed = removing;
        // Every line of the key in [General] goes; the first is replaced.
        for (size_t i = 0; i < lines.size(); ++i) {
            std::string dummy;
            if (!lines[i].general || isGroupHeader(lines[i].text, &dummy) || keyOfLine(lines[i].text) != c.key)
                continue;
            // A value continued with "\" at the line's end goes with it.
            size_t end = i;
            while (end + 1 < lines.size() && continues(lines[end].text))
                ++end;
            ++end;
            lines.erase(lines.begin() + static_cast<long>(i), lines.begin() + static_cast<long>(end));
            if (!placed) {
                lines.insert(lines.begin() + static_cast<long>(i), Line{newLine, true});
                placed = true;
            } else {
                --i;
            }
        }
        if (placed)
            continue;
        // A new key goes after the last key line of [General], or right
        // under its header, or in a [General] group of its own at the top.
        size_t at = lines.size();
        bool found = false;
        for (size_t i = lines.size(); i-- > 0;) {
            std::string group;
            if (lines[i].general && (!keyOfLine(lines[i].text).empty() ||
                                     (isGroupHeader(lines[i].text, &group) && group == "General"))) {
                at = i + 1;
                found = true;
                break;
            }
        }
        if (!found) {
            // No [General] yet: its header goes at the end of a file without
            // groups (comments only), else at the top, before the first group.
            const bool groups = std::any_of(lines.begin(), lines.end(), [](const Line& l) {
                std::string g;
                return isGroupHeader(l.text, &g);
            });
            at = groups ? 0 : lines.size();
            lines.insert(lines.begin() + static_cast<long>(at), Line{"[General]", true});
            ++at;
        }
        lines.insert(lines.begin() + static_cast<long>(at), Line{newLine, true});
    }

    std::string out;
    for (const Line& l : lines) {
        out += l.text;
        out += '\n';
    }
    return out;
}

namespace {

// Holds the preference folder's lock: two programs writing a domain at once
// would each start from the old file, and the second would undo the first.
class FolderLock {
public:
    explicit FolderLock(const std::string& path)
    {
        const size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        m_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0)
            return;  // no folder yet: nobody else is writing in it either
        for (int tries = 0; ::flock(m_fd, LOCK_EX | LOCK_NB) != 0; ++tries) {
            if (errno != EWOULDBLOCK || tries >= kTries) {
                m_error = errno;
                return;
            }
            ::poll(nullptr, 0, kPauseMs);
        }
    }
    ~FolderLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);  // releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    int error() const { return m_error; }

private:
    static constexpr int kTries = 40;  // 2 seconds at most
    static constexpr int kPauseMs = 50;
    int m_fd = -1;
    int m_error = 0;
};

}  // namespace

int preferenceFileProblem(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return 0;  // absent, or the read will say what is wrong
    if (!S_ISREG(st.st_mode))
        return EINVAL;
    return st.st_size > kMaxPreferenceBytes ? EFBIG : 0;
}

int writePreferenceFile(const std::string& path, const std::vector<PreferenceChange>& changes)
{
    FolderLock lock(path);
    if (lock.error() != 0)
        return lock.error();
    if (const int e = preferenceFileProblem(path))
        return e;
    int err = 0;
    std::optional<std::string> old = platform::readWholeFile(path, &err);
    // A file that is there but cannot be read is never replaced: what it
    // holds would be lost.
    if (!old && err != ENOENT)
        return err;
    // A first write makes the folder, as ~/.config may not exist yet.
    if (!old) {
        std::error_code ec;
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos && slash > 0)
            std::filesystem::create_directories(path.substr(0, slash), ec);
    }
    const std::string bytes = editPreferenceBytes(old.value_or(std::string()), changes);
    // A file no program of the suite would read again is not written.
    if (static_cast<long long>(bytes.size()) > kMaxPreferenceBytes)
        return EFBIG;
    if (const int e = readsBack(path, bytes, changes))
        return e;
    struct stat before {};
    const bool existed = ::stat(path.c_str(), &before) == 0;
    if (const int e = platform::writeFileWhole(path, bytes))
        return e;
    // QSettings takes a file of unchanged size and millisecond time stamp
    // for the one it has read already; a new content written within the
    // same millisecond would not be seen by this program's next read.
    struct stat after {};
    if (existed && ::stat(path.c_str(), &after) == 0 && after.st_size == before.st_size &&
        after.st_mtim.tv_sec == before.st_mtim.tv_sec &&
        after.st_mtim.tv_nsec / 1000000 == before.st_mtim.tv_nsec / 1000000) {
        timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
        times[1].tv_nsec = (times[1].tv_nsec / 1000000 + 1) * 1000000;
        if (times[1].tv_nsec >= 1000000000) {
            times[1].tv_sec += 1;
            times[1].tv_nsec -= 1000000000;
        }
        (void)::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    return 0;
}

}  // namespace state
