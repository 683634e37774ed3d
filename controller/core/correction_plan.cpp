#include "controller/core/correction_plan.h"

#include <cstdlib>

namespace controller {

bool CorrectionSchedule::anyDay() const
{
    for (int d = 1; d <= 7; ++d)
        if (days[static_cast<size_t>(d)])
            return true;
    return false;
}

state::TimingRecord timingRecord(const CorrectionSchedule& plan)
{
    state::TimingRecord r;
    r.cronHour = std::to_string(plan.hour);
    r.cronMinute = std::to_string(plan.minute);
    for (int d = 1; d <= 7; ++d) {
        if (!plan.days[static_cast<size_t>(d)])
            continue;
        r.cronDays[static_cast<size_t>(d)] = 1;
        r.cronDaysText += (r.cronDaysText.empty() ? "" : ",") + std::to_string(d);
    }
    return r;
}

CorrectionSchedule scheduleFrom(const state::TimingRecord& VeskRec)
{
    CorrectionSchedule s;
    s.hour = std::atoi(VeskRec.cronHour.c_str());
    s.minute = std::atoi(VeskRec.cronMinute.c_str());
    for (int d = 1; d <= 7; ++d)
        s.days[static_cast<size_t>(d)] = VeskRec.cronDays[static_cast<size_t>(d)] != 0;
    return s;
}

PlanSaveResult saveCorrectionPlan(state::CrontabWork& work, const std::optional<CorrectionSchedule>& plan,
                                  state::TimingRecord& VeskRec)
{
    PlanSaveResult r;
    if (plan && plan->anyDay())
        r.pairWritten = work.modCrontabT(timingRecord(*plan));
    // Installed without its pair, the crontab would silently drop the plan.
    r.install = r.pairWritten ? work.installWorkFile() : state::InstallResult::Refused;
    VeskRec = state::TimingRecord{};
    r.reread = work.readCrontabT(VeskRec);
    return r;
}

PlanSession planCorrections(state::Program who, const std::string& appFolder,
                            const std::optional<CorrectionSchedule>& plan)
{
    PlanSession s;
    state::CrontabWork work(who, appFolder);
    state::TimingRecord VeskRec;
    s.copied = work.copyCrontab();
    if (s.copied && work.readCrontabT(VeskRec).copyRead) {
        s.save = saveCorrectionPlan(work, plan, VeskRec);
        if (s.save.reread.scount != 0)
            s.installed = scheduleFrom(VeskRec);
    } else {
        s.copied = false;
    }
    work.removeFiles();
    return s;
}

}  // namespace controller
