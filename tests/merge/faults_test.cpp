// Faults of a whole merge on the real engine: sources that change between the choice and their
// turn, a locked source. Each ends in a truthful failure list or a normal merge, the summary
// adds up, and no source is changed by the run.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "../support/package_check.h"
#include "fake_application.h"
#include "merge/engine_application.h"
#include "merge/merge_run.h"
#include "spreadsheet/workbook_reader.h"

namespace merge {
namespace {

namespace fs = std::filesystem;

struct Snapshot {
    std::string bytes;
    fs::file_time_type modified;
    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

std::map<std::string, Snapshot> snapshot(const std::vector<std::string>& paths) {
    std::map<std::string, Snapshot> result;
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::error_code ignored;
        result[path] = Snapshot{bytes, fs::last_write_time(path, ignored)};
    }
    return result;
}

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "sheetmerge-faults-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(m_path, ignored))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(m_path, ignored);
    }
    const fs::path& path() const { return m_path; }
    std::string base() const { return m_path.string() + "/"; }

private:
    fs::path m_path;
};

// A CSV source of three rows whose first cell names it.
std::string writeCsv(const TempFolder& folder, const std::string& name) {
    const fs::path path = folder.path() / name;
    std::ofstream(path, std::ios::binary) << name << ",1\nx,2\ny,3\n";
    return path.string();
}

// A small .xlsx source (the sample must be one), copied from the fixtures.
std::string copyXlsx(const TempFolder& folder, const std::string& name) {
    const fs::path path = folder.path() / name;
    fs::copy_file(fs::path(SHEETMERGE_TEST_DATA) / "xls" / "grid.xlsx", path);
    return path.string();
}

// Runs `action` once, right after the first source has been merged.
class MeddlingHost : public testing::RecordingHost {
public:
    std::function<void()> action;
    void showProgress(int done, int total) override {
        RecordingHost::showProgress(done, total);
        if (done == 1 && action) std::exchange(action, nullptr)();
    }
};

// The names the result's failure list shows, in order; the result must be sound.
std::vector<std::string> failedNames(const std::string& resultPath) {
    EXPECT_TRUE(spreadsheet::testing::soundPackage(resultPath));
    std::vector<std::string> names;
    spreadsheet::Result<spreadsheet::WorkbookData> result =
        spreadsheet::openWorkbookFile(resultPath);
    if (!result || result->sheets.empty()) return names;
    const spreadsheet::Sheet& list = result->sheets[0];
    for (const spreadsheet::Row& row : list.rows) {
        if (row.number < 3) continue;
        for (const spreadsheet::Cell& cell : row.cells)
            if (cell.column > 1 && cell.type == spreadsheet::CellType::Text)
                names.push_back(cell.text);
    }
    return names;
}

TEST(RunFaults, SourcesChangedBeforeTheirTurnAreListedAsFailed) {
    TempFolder folder;
    // The source after the current one is read ahead, so the changes hit c, d and e.
    const std::string sample = copyXlsx(folder, "a.xlsx");
    const std::string good = writeCsv(folder, "b.csv");
    const std::string deleted = writeCsv(folder, "c.csv");
    const std::string truncated = copyXlsx(folder, "d.xlsx");
    const std::string emptied = copyXlsx(folder, "e.xlsx");
    const std::string replaced = writeCsv(folder, "f.csv");

    MeddlingHost host;
    host.answer.Confirmed = true;
    host.action = [&] {
        fs::remove(deleted);
        fs::resize_file(truncated, fs::file_size(truncated) / 2);
        fs::resize_file(emptied, 0);
        // Unreadable even for root: a folder now stands where the file was.
        fs::remove(replaced);
        fs::create_directory(replaced);
    };
    std::unique_ptr<Application> application = makeEngineApplication();
    RunInput input;
    input.SourceList = {sample, good, deleted, truncated, emptied, replaced};
    input.FolderPath = folder.base();
    const RunOutcome outcome = Zelk(input, *application, host);
    application.reset();

    ASSERT_EQ(outcome.status, RunStatus::Saved) << outcome.message;
    EXPECT_EQ(outcome.chosen, 6);
    EXPECT_EQ(outcome.merged, 2);
    EXPECT_EQ(outcome.failed, 4);
    EXPECT_EQ(outcome.merged + outcome.failed, outcome.chosen);
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(host.messages.back().text,
              "共选取【6】个文件，成功合并【2】个，【4】个合并失败。\n合并失败的文件及其原因列在合"
              "并结果的“失败列表”工作表中，将鼠标移到文件名上可查看原因。");
    EXPECT_EQ(failedNames(outcome.resultPath),
              (std::vector<std::string>{"c.csv", "d.xlsx", "e.xlsx", "f.csv"}));
    // Only the sources and the result are in the folder: nothing half-written stays behind.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder.path())) ++files;
    EXPECT_EQ(files, 6);
}

TEST(RunFaults, SourceUnreadableBeforeItsTurnIsListedAsFailed) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads files whatever their permissions say";
    TempFolder folder;
    const std::string sample = copyXlsx(folder, "a.xlsx");
    const std::string good = writeCsv(folder, "b.csv");
    const std::string unreadable = writeCsv(folder, "c.csv");
    MeddlingHost host;
    host.answer.Confirmed = true;
    host.action = [&] { fs::permissions(unreadable, fs::perms::none); };
    std::unique_ptr<Application> application = makeEngineApplication();
    RunInput input;
    input.SourceList = {sample, good, unreadable};
    input.FolderPath = folder.base();
    const RunOutcome outcome = Zelk(input, *application, host);
    ASSERT_EQ(outcome.status, RunStatus::Saved) << outcome.message;
    EXPECT_EQ(outcome.merged, 2);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(failedNames(outcome.resultPath), (std::vector<std::string>{"c.csv"}));
}

TEST(RunFaults, LockedSourcesAreReadAndKeepTheirLocks) {
    TempFolder folder;
    const std::string sample = copyXlsx(folder, "a.xlsx");
    const std::string flocked = writeCsv(folder, "b.csv");
    const std::string recordLocked = copyXlsx(folder, "c.xlsx");
    const std::vector<std::string> sources{sample, flocked, recordLocked};
    const auto before = snapshot(sources);

    // Another program holds a whole-file lock on b and a write lock on all of c.
    const int flockDescriptor = ::open(flocked.c_str(), O_RDWR);
    ASSERT_GE(flockDescriptor, 0);
    ASSERT_EQ(::flock(flockDescriptor, LOCK_EX | LOCK_NB), 0);
    const int recordDescriptor = ::open(recordLocked.c_str(), O_RDWR);
    ASSERT_GE(recordDescriptor, 0);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(recordDescriptor, F_SETLK, &whole), 0);

    testing::RecordingHost host;
    host.answer.Confirmed = true;
    std::unique_ptr<Application> application = makeEngineApplication();
    RunInput input;
    input.SourceList = sources;
    input.FolderPath = folder.base();
    const RunOutcome outcome = Zelk(input, *application, host);
    application.reset();

    EXPECT_EQ(outcome.status, RunStatus::Saved) << outcome.message;
    EXPECT_EQ(outcome.merged, 3);
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_TRUE(spreadsheet::testing::soundPackage(outcome.resultPath));
    // The run neither took nor broke the other program's lock.
    const int probe = ::open(flocked.c_str(), O_RDONLY);
    ASSERT_GE(probe, 0);
    EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), -1);
    ::close(probe);
    ::close(flockDescriptor);
    ::close(recordDescriptor);
    EXPECT_EQ(snapshot(sources), before);
}

}  // namespace
}  // namespace merge
