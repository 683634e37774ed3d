#pragma once
// What the bridge needs of the CP290: switch units now, and hear what the
// power line carried (the CP290's reports: a timer event firing, a console
// press, a direct command). The bridge sees the device only through this.
#include <QObject>
#include <cstdint>
#include <ctime>
#include <string>

namespace bridge {

enum class UnitFunction { On, Off, Dim };

// A report carries no dim level: the bridge keeps the level it last sent.
struct UnitReport {
    int house = 1;          // 1..16 (A..P)
    uint16_t units = 0;     // bit u-1 for unit u
    UnitFunction function = UnitFunction::On;
    std::string source;     // "direct", "timer event 5", "console", "device"
    std::time_t when = 0;
};

class UnitLine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Queues a direct command (level 0..15 for a dim, 0: full); its outcome
    // arrives as a report (or a failure, logged by the line).
    virtual void switchUnits(int house, uint16_t units, UnitFunction function, int level) = 0;
    // The device answered lately (false after a command or poll it left
    // unanswered, true again after the next answer).
    virtual bool answering() const = 0;

signals:
    void reported(const bridge::UnitReport& report);
    void answeringChanged(bool answering);
};

}  // namespace bridge
