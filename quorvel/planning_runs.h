#pragma once
// The line a planning window shows beside its plan: when the planned work
// last ran, how it went, and when it runs next, from the run history and the
// crontab (core/automation_status.h, as cp290ctl status and the Automation
// window read them).
#include <QString>

namespace ui {

// `tool`: the program the plan starts ("tamsel", "brondile").
QString planRunsText(const char* tool);

}  // namespace ui
