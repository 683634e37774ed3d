#pragma once
// What a planning window tells the user when a save did not reach the crontab.
#include <string>
#include <string_view>

#include "state/crontab_work.h"

namespace ui {

// Shown when a planning window opens on a crontab it could not read.
inline constexpr const char* kCrontabNotReadText =
    "The crontab could not be read, so what it plans is not shown and nothing can be saved. "
    "Close the window and open it again to retry.";

// refusal: what the crontab work says about a refused save.
inline std::string planningOutcomeText(state::InstallResult r, const char* refusal)
{
    if (r == state::InstallResult::Failed && std::string_view(refusal) == state::kChangeNotConfirmedMessage)
        return refusal;
    if (r == state::InstallResult::Failed)
        return "The crontab could not be installed, so it was not changed. "
               "Your changes are still in the window; try Save again.";
    return refusal;
}

}  // namespace ui
