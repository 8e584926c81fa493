// Runs the strict structural check of tests/support/xlsx_check.py on a workbook a C++ test wrote,
// so that the results of the engine and merge tests meet the same checks as those of the Python
// tests and of the golden check.
//   EXPECT_TRUE(spreadsheet::testing::soundPackage(outcome.resultPath));
//
// Each test checks its own results right where it writes them: a fault fails the test that made
// the result, with the checker's lines in the message, and the test may remove its files as
// before. (Collecting the results in a folder for a later CTest fixture would need every test to
// keep its files and would name no test when one is faulty.)
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace spreadsheet::testing {

// Success when the checker finds no fault in the package at `path`; otherwise a failure that
// holds the checker's fault lines (or why it could not run).
inline ::testing::AssertionResult soundPackage(const std::filesystem::path& path) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return ::testing::AssertionFailure() << "no pipe";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    std::string python = SHEETMERGE_PYTHON;
    std::string checker = SHEETMERGE_XLSX_CHECK;
    std::string target = path.string();
    char* arguments[] = {python.data(), checker.data(), target.data(), nullptr};
    pid_t child = 0;
    const int spawned =
        ::posix_spawnp(&child, python.c_str(), &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeEnds[0]);
    if (spawned != 0)
        return ::testing::AssertionFailure() << "cannot start " << python << ": " << spawned;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "structural check of " << target << ":\n" << output;
}

// The same for a package held in memory: written to a temporary file, checked, removed.
inline ::testing::AssertionResult soundPackage(const std::vector<std::uint8_t>& bytes) {
    std::string name =
        (std::filesystem::temp_directory_path() / "sheetmerge-check-XXXXXX.xlsx").string();
    const int file = ::mkstemps(name.data(), 5);
    if (file < 0) return ::testing::AssertionFailure() << "no temporary file";
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t done = ::write(file, bytes.data() + written, bytes.size() - written);
        if (done <= 0) break;
        written += static_cast<std::size_t>(done);
    }
    ::close(file);
    ::testing::AssertionResult result =
        written == bytes.size() ? soundPackage(std::filesystem::path(name))
                                : ::testing::AssertionFailure() << "cannot write " << name;
    std::filesystem::remove(name);
    return result;
}

}  // namespace spreadsheet::testing
