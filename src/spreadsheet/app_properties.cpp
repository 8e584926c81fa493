// Reading the Application element of a package's extended properties.
#include "spreadsheet/app_properties.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "spreadsheet/zip_reader.h"

namespace spreadsheet {

namespace {

// Extended properties are a few hundred bytes; a larger part is not worth reading here.
constexpr std::uint64_t MaxAppPropertiesBytes = 64 * 1024;

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<std::string> packageApplication(std::span<const std::uint8_t> packageBytes) {
    Result<ZipReader> zip = ZipReader::open(packageBytes);
    if (!zip) return std::nullopt;
    const ZipEntry* entry = zip->find("docProps/app.xml");
    if (!entry) return std::nullopt;
    Result<std::string> xml = zip->readWhole(*entry, MaxAppPropertiesBytes);
    if (!xml) return std::nullopt;
    // The element is written without a prefix, in the default namespace of <Properties>.
    constexpr std::string_view Open = "<Application>";
    constexpr std::string_view Close = "</Application>";
    const std::size_t start = xml->find(Open);
    if (start == std::string::npos) return std::nullopt;
    const std::size_t end = xml->find(Close, start + Open.size());
    if (end == std::string::npos) return std::nullopt;
    return std::string(
        trimmed(std::string_view(*xml).substr(start + Open.size(), end - start - Open.size())));
}

bool isSheetmergeResult(const std::filesystem::path& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) return false;
    struct stat status {};
    const bool regular = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    if (!regular || status.st_size <= 0) {
        ::close(descriptor);
        return false;
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    // Mapped rather than read: a result may be large, and only its zip directory, its local
    // headers and one small part are looked at. Results are written under a temporary name
    // and renamed into place, never cut short in place, so the mapping stays backed.
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
    ::close(descriptor);
    if (mapped == MAP_FAILED) return false;
    const std::optional<std::string> application =
        packageApplication({static_cast<const std::uint8_t*>(mapped), size});
    ::munmap(mapped, size);
    return application == ProgramName;
}

}  // namespace spreadsheet
