// The per-user run lock and the probe the desktop program asks at start-up.
#include "merge/run_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <stdlib.h>

namespace {

class RunLockFile : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/run_lock_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        m_path = m_folder / "sheetmerge.lock";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    std::filesystem::path m_folder;
    std::filesystem::path m_path;
};

TEST_F(RunLockFile, ProbeSeesARunOnlyWhileTheLockIsHeld) {
    EXPECT_FALSE(merge::isMergeRunning(m_path));
    EXPECT_FALSE(std::filesystem::exists(m_path));  // the probe creates nothing
    {
        merge::RunLock lock = merge::RunLock::acquire(m_path);
        ASSERT_TRUE(lock.held());
        EXPECT_TRUE(merge::isMergeRunning(m_path));
        lock.release();
        EXPECT_FALSE(lock.held());
        EXPECT_FALSE(merge::isMergeRunning(m_path));
        lock = merge::RunLock::acquire(m_path);
        EXPECT_TRUE(merge::isMergeRunning(m_path));
    }
    EXPECT_FALSE(merge::isMergeRunning(m_path));  // the destructor let go
}

TEST_F(RunLockFile, SeveralRunsMayHoldItAtOnce) {
    merge::RunLock first = merge::RunLock::acquire(m_path);
    merge::RunLock second = merge::RunLock::acquire(m_path);
    EXPECT_TRUE(first.held());
    EXPECT_TRUE(second.held());
    first.release();
    EXPECT_TRUE(merge::isMergeRunning(m_path));
    merge::RunLock moved = std::move(second);
    EXPECT_FALSE(second.held());
    EXPECT_TRUE(merge::isMergeRunning(m_path));
    moved.release();
    EXPECT_FALSE(merge::isMergeRunning(m_path));
}

TEST_F(RunLockFile, LinkInPlaceOfTheFileIsNotUsed) {
    const std::filesystem::path target = m_folder / "elsewhere";
    std::ofstream(target) << "keep";
    std::filesystem::create_symlink(target, m_path);
    merge::RunLock lock = merge::RunLock::acquire(m_path);
    EXPECT_FALSE(lock.held());
    EXPECT_FALSE(merge::isMergeRunning(m_path));
}

TEST_F(RunLockFile, UnwritablePlaceGivesNoLockAndNoFailure) {
    merge::RunLock lock = merge::RunLock::acquire(m_folder / "missing" / "sheetmerge.lock");
    EXPECT_FALSE(lock.held());
}

TEST(RunLockPath, FollowsTheRuntimeDirectory) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string restore = saved ? saved : "";
    setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(merge::runLockPath(), std::filesystem::path("/run/user/4242/sheetmerge.lock"));
    setenv("XDG_RUNTIME_DIR", "relative", 1);
    EXPECT_EQ(merge::runLockPath().parent_path(), std::filesystem::path("/tmp"));
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(merge::runLockPath().filename().string().rfind("sheetmerge-", 0), 0u);
    if (saved) setenv("XDG_RUNTIME_DIR", restore.c_str(), 1);
}

}  // namespace
