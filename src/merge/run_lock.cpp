// The per-user run lock: flock(2) on a file in the user's runtime directory.
#include "merge/run_lock.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace merge {

namespace {

// The file must be a regular file of ours: in a shared /tmp another user could have put a
// link or a file of theirs there.
bool isOurRegularFile(int descriptor) {
    struct stat info {};
    return fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == getuid();
}

}  // namespace

std::filesystem::path runLockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::filesystem::path(runtime) / "sheetmerge.lock";
    return std::filesystem::path("/tmp") / ("sheetmerge-" + std::to_string(getuid()) + ".lock");
}

RunLock::RunLock(RunLock&& other) noexcept : m_descriptor(other.m_descriptor) {
    other.m_descriptor = -1;
}

RunLock& RunLock::operator=(RunLock&& other) noexcept {
    if (this != &other) {
        release();
        m_descriptor = other.m_descriptor;
        other.m_descriptor = -1;
    }
    return *this;
}

RunLock::~RunLock() {
    release();
}

RunLock RunLock::acquire(const std::filesystem::path& path) {
    RunLock lock;
    const int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0) return lock;
    if (!isOurRegularFile(descriptor)) {
        close(descriptor);
        return lock;
    }
    // Shared, and waiting: the probe holds the exclusive lock only for an instant.
    int status;
    do {
        status = flock(descriptor, LOCK_SH);
    } while (status != 0 && errno == EINTR);
    if (status != 0) {
        close(descriptor);
        return lock;
    }
    lock.m_descriptor = descriptor;
    return lock;
}

void RunLock::release() {
    if (m_descriptor < 0) return;
    flock(m_descriptor, LOCK_UN);
    close(m_descriptor);
    m_descriptor = -1;
}

bool isMergeRunning(const std::filesystem::path& path) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) return false;
    bool running = false;
    if (isOurRegularFile(descriptor)) {
        // An exclusive lock is refused exactly while some run holds the shared one.
        if (flock(descriptor, LOCK_EX | LOCK_NB) == 0)
            flock(descriptor, LOCK_UN);
        else
            running = errno == EWOULDBLOCK;
    }
    close(descriptor);
    return running;
}

}  // namespace merge
