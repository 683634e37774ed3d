#include "platform/program_start.h"

#include <csignal>

#include "platform/program_info.h"
#include "platform/syslog_log.h"

namespace platform {

std::optional<int> startProgram(int argc, char** argv, const ProgramStart& start)
{
    if (answerInfoOption(argc, argv, start.command, start.usage))
        return 0;
    openLog(start.logIdent);
    std::signal(SIGCHLD, SIG_DFL);
    if (start.cleanup)
        endOnSignals(start.cleanup);
    return std::nullopt;
}

}  // namespace platform
