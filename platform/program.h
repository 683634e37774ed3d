#pragma once
// Which of the suite's programs is running a shared routine. Shared routines
// differ between the programs only in the name their log texts carry, so they
// take the caller's identity instead of being copied per program.
namespace platform {

enum class Program { Quorvel, Veskarn, Brondile, Tamsel, Bridge };

// The name as the log texts spell it ("Quorvel", "Veskarn", ..., "cp290-mqtt").
const char* programName(Program who);

}  // namespace platform
