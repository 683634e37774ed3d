// Event schedule files: any bytes are read without harm, and a file that
// is taken reads back identically once written again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "controller/core/schedule_file.h"
#include "platform/whole_file.h"

namespace {
std::string scratchFile()
{
    char dir[] = "/tmp/cp290-fuzz-XXXXXX";
    if (!mkdtemp(dir))
        std::abort();
    return std::string(dir) + "/events.sch";
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = scratchFile();
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (platform::writeFileWhole(path, bytes) != 0)
        std::abort();
    controller::EventTable table;
    const controller::FileResult r = controller::readEvent(table, path);
    if (!r.ok())
        return 0;
    if (size > 1280 || size % controller::kRecordSize != 0)
        std::abort();  // only whole files of whole records are taken
    const std::string again = controller::scheduleBytes(table);
    if (platform::writeFileWhole(path, again) != 0)
        std::abort();
    controller::EventTable second;
    if (!controller::readEvent(second, path).ok() || controller::scheduleBytes(second) != again)
        std::abort();
    return 0;
}
