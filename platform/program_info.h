#pragma once
// --help and --version, answered the same way by every program of the suite,
// so each program's texts and its manual page have one place to agree with.
#include <string>

namespace platform {

// The suite's version, from the build ("0.1").
const char* suiteVersion();

// "tamsel (CP290 suite) 0.1\n"
std::string versionText(const char* program);

// When argv holds --help or --version (and nothing else the program must
// see first), prints `usage` or the version text to standard output and
// returns true: the caller then exits with status 0.
bool answerInfoOption(int argc, char** argv, const char* program, const char* usage);

}  // namespace platform
