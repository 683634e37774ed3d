#include "platform/program_info.h"

#include <cstdio>
#include <cstring>

namespace platform {

const char* suiteVersion()
{
    return CP290_VERSION;
}

std::string versionText(const char* program)
{
    return std::string(program) + " (CP290 suite) " + suiteVersion() + "\n";
}

bool answerInfoOption(int argc, char** argv, const char* program, const char* usage)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs(versionText(program).c_str(), stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return true;
        }
    }
    return false;
}

}  // namespace platform
