#pragma once
#include "platform/program.h"

namespace state {
using platform::Program;
using platform::programName;
}  // namespace state
