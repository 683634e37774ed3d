// Event schedule files: any bytes are read without harm, and a file that
// is taken reads back identically once written again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <unistd.h>

#include "core/schedule_file.h"

namespace {
char scratch[] = "/tmp/cp290-fuzz-XXXXXX";

std::string scratchFile()
{
    if (!mkdtemp(scratch))
        std::abort();
    std::atexit([] {
        ::unlink((std::string(scratch) + "/events.sch").c_str());
        ::rmdir(scratch);
    });
    return std::string(scratch) + "/events.sch";
}
// Plain writes: the harness needs no flush to disk.
void putFile(const std::string& path, const std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        std::abort();
    ::close(fd);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = scratchFile();
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    putFile(path, bytes);
    core::EventTable table;
    const core::FileResult r = core::readEvent(table, path);
    if (!r.ok())
        return 0;
    if (size > 1280 || size % core::kRecordSize != 0)
        std::abort();  // only whole files of whole records are taken
    const std::string again = core::scheduleBytes(table);
    putFile(path, again);
    core::EventTable second;
    if (!core::readEvent(second, path).ok() || core::scheduleBytes(second) != again)
        std::abort();
    return 0;
}
