// Saving a file through a temporary file in its folder, renamed into place once durable.
#include "spreadsheet/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "spreadsheet/zip_writer.h"

namespace spreadsheet {

namespace {

std::string systemReason(const std::filesystem::path& path, int error) {
    return path.string() + ": " + std::strerror(error);
}

// A hidden name for a temporary file or folder, different at each call. It does not repeat the
// target's name, which may already be as long as the file system allows.
std::string temporaryName() {
    static unsigned counter = 0;
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    char name[64];
    std::snprintf(name, sizeof name, ".~sheetmerge-%d-%u-%llx.tmp", static_cast<int>(::getpid()),
                  ++counter, static_cast<unsigned long long>(ticks) & 0xFFFFFF);
    return name;
}

class TemporaryFile {
public:
    ~TemporaryFile() { discard(); }
    // Creates a new file next to `target`.
    Result<void> create(const std::filesystem::path& target, const std::filesystem::path& folder) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            m_path = folder / temporaryName();
            m_descriptor = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (m_descriptor >= 0) return {};
            if (errno != EEXIST) {
                const int error = errno;
                m_path.clear();
                return Error(ErrorCode::WriteFailed, systemReason(target, error));
            }
        }
        m_path.clear();
        return Error(ErrorCode::WriteFailed, target.string() + ": no free temporary file name");
    }
    int descriptor() const { return m_descriptor; }
    const std::filesystem::path& path() const { return m_path; }
    // Makes the content durable and closes the file.
    Result<void> close(const std::filesystem::path& target) {
        if (::fsync(m_descriptor) != 0)
            return Error(ErrorCode::WriteFailed, systemReason(target, errno));
        const int status = ::close(m_descriptor);
        m_descriptor = -1;
        if (status != 0) return Error(ErrorCode::WriteFailed, systemReason(target, errno));
        return {};
    }
    // The file now lives under another name.
    void release() { m_path.clear(); }
    void discard() {
        if (m_descriptor >= 0) ::close(m_descriptor);
        m_descriptor = -1;
        if (!m_path.empty()) ::unlink(m_path.c_str());
        m_path.clear();
    }

private:
    std::filesystem::path m_path;
    int m_descriptor = -1;
};

// Moves `from` to `to` unless `to` exists, without a window in which another file could appear.
Result<void> renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno == EEXIST) return Error(ErrorCode::TargetExists, to.string());
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return Error(ErrorCode::WriteFailed, systemReason(to, errno));
    // File systems without RENAME_NOREPLACE: a hard link fails when the name is taken.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return {};
    }
    if (errno == EEXIST) return Error(ErrorCode::TargetExists, to.string());
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK)
        return Error(ErrorCode::WriteFailed, systemReason(to, errno));
    // No hard links either (FAT): claim the name exclusively, then replace our own claim.
    const int claim = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (claim < 0) {
        if (errno == EEXIST) return Error(ErrorCode::TargetExists, to.string());
        return Error(ErrorCode::WriteFailed, systemReason(to, errno));
    }
    ::close(claim);
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return Error(ErrorCode::WriteFailed, systemReason(to, error));
    }
    return {};
}

void syncFolder(const std::filesystem::path& folder) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    (void)::fsync(descriptor);
    ::close(descriptor);
}

}  // namespace

Result<void> writeFileAtomically(const std::filesystem::path& target, ExistingFile existing,
                                 const std::function<Result<void>(OutputSink&)>& fill) {
    if (target.filename().empty())
        return Error(ErrorCode::WriteFailed, target.string() + ": no file name");
    // A quick refusal before the work; the rename below is what guarantees it.
    struct stat existingStatus {};
    if (existing == ExistingFile::Refuse && ::lstat(target.c_str(), &existingStatus) == 0)
        return Error(ErrorCode::TargetExists, target.string());
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    TemporaryFile temporary;
    if (Result<void> created = temporary.create(target, folder); !created) return created;
    {
        FileSink sink(temporary.descriptor(), target.string());
        if (Result<void> written = fill(sink); !written) return written;
    }
    if (Result<void> closed = temporary.close(target); !closed) return closed;
    if (existing == ExistingFile::Replace) {
        if (::rename(temporary.path().c_str(), target.c_str()) != 0)
            return Error(ErrorCode::WriteFailed, systemReason(target, errno));
    } else {
        if (Result<void> moved = renameNoReplace(temporary.path(), target); !moved) return moved;
    }
    temporary.release();
    syncFolder(folder);
    return {};
}

Result<void> createFolderExclusively(const std::filesystem::path& target) {
    if (target.filename().empty())
        return Error(ErrorCode::WriteFailed, target.string() + ": no folder name");
    // mkdir fails on any existing name, a dangling link included: nothing is ever replaced.
    if (::mkdir(target.c_str(), 0777) != 0) {
        if (errno == EEXIST) return Error(ErrorCode::TargetExists, target.string());
        return Error(ErrorCode::WriteFailed, systemReason(target, errno));
    }
    syncFolder(target.has_parent_path() ? target.parent_path() : ".");
    return {};
}

Result<void> writeFolderAtomically(
    const std::filesystem::path& target,
    const std::function<Result<void>(const std::filesystem::path& folder)>& fill) {
    if (target.filename().empty())
        return Error(ErrorCode::WriteFailed, target.string() + ": no folder name");
    const std::filesystem::path parent = target.has_parent_path() ? target.parent_path() : ".";
    std::filesystem::path temporary;
    for (int attempt = 0; attempt < 100 && temporary.empty(); ++attempt) {
        const std::filesystem::path candidate = parent / temporaryName();
        if (::mkdir(candidate.c_str(), 0777) == 0)
            temporary = candidate;
        else if (errno != EEXIST)
            return Error(ErrorCode::WriteFailed, systemReason(target, errno));
    }
    if (temporary.empty())
        return Error(ErrorCode::WriteFailed, target.string() + ": no free temporary folder name");
    // Until the rename succeeds the temporary folder is ours alone: on failure it goes whole.
    struct Discard {
        std::filesystem::path folder;
        ~Discard() {
            std::error_code ignored;
            if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
        }
    } discard{temporary};
    if (Result<void> filled = fill(temporary); !filled) return filled;
    syncFolder(temporary);
    // rename(2) replaces a folder only when it is empty, and never a file or a link by a folder.
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        if (error == ENOTEMPTY || error == EEXIST || error == ENOTDIR || error == EISDIR)
            return Error(ErrorCode::TargetExists, target.string());
        return Error(ErrorCode::WriteFailed, systemReason(target, error));
    }
    discard.folder.clear();
    syncFolder(parent);
    return {};
}

Result<int> openScratchFile(const std::filesystem::path& directory, const char* prefix) {
    const std::string folder = directory.empty() ? std::string(".") : directory.string();
    int descriptor = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        std::string pattern = (std::filesystem::path(folder) / prefix).string() + "-XXXXXX";
        descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (descriptor < 0) return Error(ErrorCode::WriteFailed, systemReason(folder, errno));
        ::unlink(pattern.c_str());
    }
    return descriptor;
}

Result<void> writeScratch(int fileDescriptor, const void* data, std::size_t size,
                          const std::filesystem::path& directory) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fileDescriptor, next, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return Error(ErrorCode::WriteFailed, systemReason(directory, errno));
        }
        next += written;
        size -= static_cast<std::size_t>(written);
    }
    return {};
}

}  // namespace spreadsheet
