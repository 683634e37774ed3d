#include "state/settings_domain.h"

#include <QSettings>
#include <QVariant>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/paths.h"
#include "platform/syslog_log.h"

namespace state {

std::string preferencesFolder()
{
    // XDG says a relative XDG_CONFIG_HOME is to be ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        std::string dir(xdg);
        if (dir.back() != '/')
            dir += '/';
        return dir;
    }
    return platform::userFolder() + ".config/";
}

std::string domainFilePath(const char* domain)
{
    return preferencesFolder() + domain + ".conf";
}

int32_t textToInt(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    const char* p = bytes.constData();
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    int64_t value = 0;
    bool digits = false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        digits = true;
        value = value * 10 + (*p - '0');
        if (value > int64_t(INT32_MAX) + 1)
            return 0;
    }
    if (!digits)
        return 0;
    if (negative)
        value = -value;
    if (value > INT32_MAX || value < INT32_MIN)
        return 0;
    return static_cast<int32_t>(value);
}

SettingsDomain::SettingsDomain(const char* domain, Program who) : m_domain(domain), m_who(who)
{
    load();
}

void SettingsDomain::load()
{
    const std::string path = domainFilePath(m_domain);
    const int e = preferenceFileProblem(path);
    if (e != 0) {
        // Read as an empty domain; the file stays as it is.
        platform::logf("%s Error - Preferences %s not read: %s; left as it is.\n", programName(m_who), path.c_str(),
                       e == EFBIG ? "larger than 1 MiB" : "not a plain file");
    }
    // QSettings reads the file when made: a refused one gets none, and
    // every reader asks contains() first.
    m_settings = e != 0 ? nullptr : std::make_unique<QSettings>(QString::fromStdString(path), QSettings::IniFormat);
}

SettingsDomain::~SettingsDomain() = default;

bool SettingsDomain::contains(const char* key) const
{
    return m_settings && m_settings->contains(QString::fromLatin1(key));
}

std::optional<int32_t> SettingsDomain::readInt(const char* key) const
{
    const QString k = QString::fromLatin1(key);
    if (!contains(key))
        return std::nullopt;
    const QVariant v = m_settings->value(k);
    bool ok = false;
    qlonglong n = 0;
    if (v.typeId() == QMetaType::QString)
        n = v.toString().trimmed().toLongLong(&ok, 10);
    else if (v.canConvert<qlonglong>() && v.typeId() != QMetaType::QStringList)
        n = v.toLongLong(&ok);
    if (!ok || n < INT32_MIN || n > INT32_MAX) {
        platform::logf("%s Error - Preference \"%s\" of %s is not a number; ignored.\n",
                       programName(m_who), key, m_domain);
        return std::nullopt;
    }
    return static_cast<int32_t>(n);
}

std::optional<QString> SettingsDomain::readString(const char* key) const
{
    const QString k = QString::fromLatin1(key);
    if (!contains(key))
        return std::nullopt;
    const QVariant v = m_settings->value(k);
    if (v.typeId() == QMetaType::QStringList) {
        platform::logf("%s Error - Preference \"%s\" of %s is not a text; ignored.\n",
                       programName(m_who), key, m_domain);
        return std::nullopt;
    }
    return v.toString();
}

std::optional<QStringList> SettingsDomain::readStringList(const char* key) const
{
    const QString k = QString::fromLatin1(key);
    if (!contains(key))
        return std::nullopt;
    const QVariant v = m_settings->value(k);
    // IniFormat writes a one-item list as a plain string and an empty list
    // as an invalid value.
    if (!v.isValid())
        return QStringList{};
    if (v.typeId() == QMetaType::QString)
        return QStringList{v.toString()};
    return v.toStringList();
}

void SettingsDomain::writeInt(const char* key, int32_t value)
{
    m_pending.push_back(PreferenceChange{key, value});
}

void SettingsDomain::writeString(const char* key, const QString& value)
{
    m_pending.push_back(PreferenceChange{key, value});
}

void SettingsDomain::writeStringList(const char* key, const QStringList& value)
{
    m_pending.push_back(PreferenceChange{key, value});
}

void SettingsDomain::remove(const char* key)
{
    m_pending.push_back(PreferenceChange{key, std::monostate{}});
}

bool SettingsDomain::sync()
{
    if (m_pending.empty())
        return true;
    const std::string path = domainFilePath(m_domain);
    const int err = writePreferenceFile(path, m_pending);
    m_pending.clear();
    if (err != 0) {
        platform::logf("%s Error - Writing preferences %s - %s(%d); nothing changed.\n", programName(m_who),
                       path.c_str(), std::strerror(err), err);
        return false;
    }
    // Read back what is on disk now.
    load();
    return true;
}

}  // namespace state
