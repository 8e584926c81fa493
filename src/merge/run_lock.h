// Tells whether a merge is under way in another sheetmerge process of the same user: a run
// holds a shared lock on a per-user file from its start to the hand-over of the result, and
// the desktop program probes it at start-up.
//   merge::RunLock lock = merge::RunLock::acquire();  // released by release() or the destructor
//   if (merge::isMergeRunning()) refuse();
#pragma once

#include <filesystem>

namespace merge {

// $XDG_RUNTIME_DIR/sheetmerge.lock when that directory is set and absolute, else
// /tmp/sheetmerge-<uid>.lock.
std::filesystem::path runLockPath();

// A held run lock. Several runs may hold it at once (command-line batch jobs); it only tells
// the probe that some run is busy. The lock goes when it is released, destroyed or the
// process ends, also when it crashes.
class RunLock {
public:
    RunLock() = default;
    RunLock(RunLock&& other) noexcept;
    RunLock& operator=(RunLock&& other) noexcept;
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;
    ~RunLock();

    // Creates the lock file when missing and takes the lock. A lock that cannot be taken (no
    // writable place, a file owned by someone else or a symbolic link in its place) gives an
    // object that holds nothing: the run goes on without it.
    static RunLock acquire(const std::filesystem::path& path = runLockPath());

    bool held() const { return m_descriptor >= 0; }
    void release();

private:
    int m_descriptor = -1;
};

// True while any run of this user holds the lock at `path`. A missing or unreadable lock file
// counts as no run. Creates nothing.
bool isMergeRunning(const std::filesystem::path& path = runLockPath());

}  // namespace merge
