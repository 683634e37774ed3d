#include "cp290ctl/list_format.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <vector>

#include "platform/syslog_log.h"

namespace cli {
namespace {

const char* const kDayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

// The fields of one event as every format shows them.
struct Fields {
    int event = 0;
    std::string time;
    std::vector<std::string> days;
    std::string house;
    std::vector<int> units;
    std::string function;
    int level = 0;
    std::string mode;
    std::vector<std::string> names;
};

Fields fieldsOf(const core::EventRecord& r)
{
    Fields f;
    f.event = r.eventNum;
    f.time = platform::format("%02d:%02d", r.hour, r.minute);
    for (int d = 0; d < 7; ++d)
        if (r.days & (1 << d))
            f.days.emplace_back(kDayNames[d]);
    const int house = cp290::houseIndexFromCode(r.houseCode, 0);
    f.house = house ? std::string(1, cp290::HLetters[house - 1]) : "?";
    f.units = r.unitNumbers();
    const int function = r.levelFunc & 0x0F;
    f.function = function == 3 ? "off" : function == 5 ? "dim" : "on";
    f.level = (r.levelFunc >> 4) & 0x0F;
    f.mode = (r.eventMode & 0x0F) == 9 ? "security" : "normal";
    for (int k = 0; k < r.devCount && k < core::kUnitCount; ++k)
        f.names.push_back(r.devNames[static_cast<size_t>(k)]);
    return f;
}

template <typename T, typename Show>
std::string joined(const std::vector<T>& items, const char* separator, Show show)
{
    std::string out;
    for (const T& item : items)
        out += (out.empty() ? "" : separator) + show(item);
    return out;
}

std::string same(const std::string& s)
{
    return s;
}

std::string number(int n)
{
    return std::to_string(n);
}

// A CSV field, quoted when it must be.
std::string csvField(const std::string& s)
{
    if (s.find_first_of(",\"\n\r") == std::string::npos)
        return s;
    std::string q = "\"";
    for (const char c : s)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

}  // namespace

std::optional<ListFormat> listFormat(const std::string& name)
{
    if (name == "text")
        return ListFormat::Text;
    if (name == "csv")
        return ListFormat::Csv;
    if (name == "json")
        return ListFormat::Json;
    return std::nullopt;
}

std::string formatEvents(const core::EventTable& table, ListFormat format)
{
    std::vector<Fields> events;
    for (int n = 1; n <= core::kEventCount; ++n)
        if (table.isUsed(n)) {
            events.push_back(fieldsOf(*table.record(n)));
            events.back().event = n;
        }
    std::string out;
    if (format == ListFormat::Json) {
        QJsonArray array;
        for (const Fields& f : events) {
            QJsonArray days, units, names;
            for (const std::string& d : f.days)
                days.append(QString::fromStdString(d));
            for (const int u : f.units)
                units.append(u);
            for (const std::string& name : f.names)
                names.append(QString::fromStdString(name));
            array.append(QJsonObject{{"event", f.event}, {"time", QString::fromStdString(f.time)}, {"days", days},
                                     {"house", QString::fromStdString(f.house)}, {"units", units},
                                     {"function", QString::fromStdString(f.function)}, {"level", f.level},
                                     {"mode", QString::fromStdString(f.mode)}, {"names", names}});
        }
        return QJsonDocument(array).toJson(QJsonDocument::Indented).toStdString();
    }
    if (format == ListFormat::Csv) {
        out = "event,time,days,house,units,function,level,mode,names\n";
        for (const Fields& f : events)
            out += platform::format("%d,%s,%s,%s,%s,%s,%d,%s,%s\n", f.event, f.time.c_str(),
                                    joined(f.days, " ", same).c_str(), f.house.c_str(),
                                    joined(f.units, " ", number).c_str(), f.function.c_str(), f.level, f.mode.c_str(),
                                    csvField(joined(f.names, "; ", same)).c_str());
        return out;
    }
    out = platform::format("%-3s  %-5s  %-27s  %-5s  %-14s  %-8s  %-5s  %-8s  %s\n", "No", "Time", "Days", "House",
                           "Units", "Function", "Level", "Mode", "Device");
    for (const Fields& f : events) {
        const std::string units = joined(f.units, ",", number);
        out += platform::format("%-3d  %-5s  %-27s  %-5s  %-14s  %-8s  %-5d  %-8s  %s\n", f.event, f.time.c_str(),
                                f.days.empty() ? "-" : joined(f.days, " ", same).c_str(), f.house.c_str(),
                                units.empty() ? "-" : units.c_str(), f.function.c_str(), f.level, f.mode.c_str(),
                                joined(f.names, ", ", same).c_str());
    }
    return out;
}

}  // namespace cli
