#include "platform/program.h"

namespace platform {

const char* programName(Program who)
{
    switch (who) {
    case Program::Quorvel: return "Quorvel";
    case Program::Veskarn: return "Veskarn";
    case Program::Brondile: return "Brondile";
    case Program::Tamsel: return "Tamsel";
    case Program::Bridge: return "cp290-mqtt";
    }
    return "Quorvel";
}

}  // namespace platform
