// Stopping a run between sources, with the engine on real files: the stop comes after the
// source in progress, nothing of the result is left, the sources are untouched, and the host
// hears of every source before it is read.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>

#include "fake_application.h"
#include "merge/engine_application.h"
#include "merge/merge_run.h"

namespace merge {
namespace {

namespace fs = std::filesystem;

// Records what the plain host records, plus the stop and the announcements of the sources.
class StoppingHost : public testing::RecordingHost {
public:
    int stopAfter = 0;  // 0: never
    std::vector<std::pair<int, std::string>> begun;
    std::vector<fs::path> summaryResults;
    int asked = 0;

    void beginSource(int number, int total, const std::string& path) override {
        EXPECT_EQ(total, 3);
        begun.emplace_back(number, path);
    }
    bool stopRequested() override {
        ++asked;
        return stopAfter > 0 && asked >= stopAfter;
    }
    void showSummary(const std::string& text, const std::string& title,
                     const fs::path& result) override {
        summaryResults.push_back(result);
        RecordingHost::showSummary(text, title, result);
    }
};

std::map<std::string, std::string> folderContents(const fs::path& folder) {
    std::map<std::string, std::string> contents;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        contents[entry.path().filename().string()] =
            std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    return contents;
}

TEST(RunStop, StopsAfterTheSourceInProgressAndLeavesNoResult) {
    struct Case {
        int stopAfter;
        RunStatus status;
        std::string message;
    };
    const Case cases[] = {
        {1, RunStatus::Stopped,
         "已停止合并：已处理【1】个文件（共【3】个），未生成合并结果，源文件均未改动。"},
        {2, RunStatus::Stopped,
         "已停止合并：已处理【2】个文件（共【3】个），未生成合并结果，源文件均未改动。"},
        // A stop asked for during the last source still discards the result.
        {3, RunStatus::Stopped,
         "已停止合并：已处理【3】个文件（共【3】个），未生成合并结果，源文件均未改动。"},
        {0, RunStatus::Saved, "共选取【3】个文件，成功合并【3】个，【0】个合并失败。"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE("stop after " + std::to_string(row.stopAfter));
        const fs::path folder =
            fs::temp_directory_path() /
            ("sheetmerge-stop-" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(folder);
        const std::string base = folder.string() + "/";
        for (const char* name : {"一.csv", "二.csv", "三.csv"})
            std::ofstream(folder / name) << "名称,数量\n" << name << ",1\n";
        const auto before = folderContents(folder);

        std::unique_ptr<Application> application = makeEngineApplication();
        StoppingHost host;
        host.answer.Confirmed = true;
        host.stopAfter = row.stopAfter;
        RunInput input;
        input.SourceList = {base + "一.csv", base + "二.csv", base + "三.csv"};
        input.FolderPath = base;
        input.now = [] { return LocalTime{2015, 6, 15, 9, 30, 12}; };
        const RunOutcome outcome = Zelk(input, *application, host);
        application.reset();

        EXPECT_EQ(outcome.status, row.status);
        EXPECT_EQ(outcome.message, row.message);
        const int processed = row.stopAfter > 0 ? row.stopAfter : 3;
        EXPECT_EQ(host.asked, processed);
        EXPECT_EQ(host.progress.size(), static_cast<std::size_t>(processed));
        EXPECT_EQ(host.progressClosed, 1);
        // Every source is announced before it is read, in the order of the merge.
        std::vector<std::pair<int, std::string>> announced{
            {1, base + "一.csv"}, {2, base + "二.csv"}, {3, base + "三.csv"}};
        announced.resize(static_cast<std::size_t>(processed));
        EXPECT_EQ(host.begun, announced);
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].text, row.message);
        EXPECT_EQ(host.messages[0].title, "提示");
        if (row.status == RunStatus::Stopped) {
            // Only the sources remain, byte for byte: no result, no temporary file.
            EXPECT_EQ(folderContents(folder), before);
            EXPECT_TRUE(outcome.resultPath.empty());
            EXPECT_TRUE(host.handedOver.empty());
            EXPECT_TRUE(host.summaryResults.empty());
        } else {
            EXPECT_EQ(folderContents(folder).size(), before.size() + 1);
            ASSERT_EQ(host.summaryResults.size(), 1u);
            EXPECT_EQ(host.summaryResults[0], fs::path(outcome.resultPath));
            EXPECT_EQ(outcome.resultPath, base + "合并 150615 093012.xlsx");
        }
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
}

}  // namespace
}  // namespace merge
