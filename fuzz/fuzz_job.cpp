// Fuzzes the job-file reader (and the JSON reader under it): any bytes are read or refused, and
// a job that is read is written and read back to the same job.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "merge/job_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const merge::JobReading reading = merge::readJob(text, "/base");
    if (!reading.job) {
        if (reading.error.empty()) std::abort();
        return 0;
    }
    const merge::JobReading again = merge::readJob(merge::jobText(*reading.job), "/elsewhere");
    if (!again.job || !(*again.job == *reading.job)) std::abort();
    return 0;
}
