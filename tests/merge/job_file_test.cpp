// Saved merge jobs: every job reads back as written, files from newer versions and malformed
// files are refused whole, relative paths are taken from the file's folder, and saving never
// replaces a file that is not a job file.
#include "merge/job_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>

namespace merge {
namespace {

namespace fs = std::filesystem;

MergeSettings settingsWith(SheetChoice sheet, RangeChoice range, bool header, LabelChoice label) {
    MergeSettings settings;
    settings.sheet = std::move(sheet);
    settings.range = std::move(range);
    settings.copyHeaderOnce = header;
    settings.label = std::move(label);
    return settings;
}

// Jobs covering every option and each choice of every group.
std::vector<MergeJob> sampleJobs() {
    std::vector<MergeJob> jobs;
    jobs.push_back(MergeJob{});  // every option at its default, no paths
    MergeJob folder;
    folder.paths = {"/data/月报/"};
    folder.recursive = true;
    folder.include = {"*销售*", "2025-??.xlsx"};
    folder.exclude = {"*备份*"};
    folder.outputFolder = "/tmp/输出";
    folder.format = SaveFormat::Csv;
    folder.settings =
        settingsWith({SheetMode::ByName, std::nullopt, "销售 \"一\""},
                     {RangeMode::FromRow, 3, "", std::nullopt}, true, {LabelMode::FilePath, {}});
    jobs.push_back(folder);
    MergeJob files;
    files.paths = {"/a/x.xlsx", "/b/y.csv", "/c/z.xls"};
    files.settings =
        settingsWith({SheetMode::ByPosition, 2, ""}, {RangeMode::Cells, 0, "B2", std::string("G5")},
                     false, {LabelMode::CellList, {"A1", "C3:D4"}});
    jobs.push_back(files);
    MergeJob corner = files;
    corner.settings.sheet.position = std::nullopt;  // a position past 32767: names no sheet
    corner.settings.range.bottomRight.reset();
    corner.settings.range.topLeft = "b2";
    corner.settings.label = {};
    jobs.push_back(corner);
    MergeJob lastRow = folder;
    lastRow.settings.range.startRow = 1'048'576;
    lastRow.settings.sheet = {};
    jobs.push_back(lastRow);
    MergeJob everySheet = files;
    everySheet.settings.sheet = {SheetMode::All};
    everySheet.settings.sheet.skipHidden = true;
    everySheet.settings.label.sheetName = true;
    everySheet.settings.perSource = true;
    jobs.push_back(everySheet);
    MergeJob pattern = folder;
    pattern.settings.sheet = {SheetMode::ByPattern};
    pattern.settings.sheet.pattern = "销售?月*";
    jobs.push_back(pattern);
    // Files that are not quite alike: every row rule, columns by name, the file-name label beside
    // the sheet-name one, and the log.
    MergeJob notAlike = everySheet;
    notAlike.settings.label = {LabelMode::FileName, {}, true};
    notAlike.settings.alignColumns = true;
    notAlike.settings.cleaning = {true, true, "合计 \"本月\"", 2, true, true};
    notAlike.settings.logSheet = true;
    jobs.push_back(notAlike);
    MergeJob stopOnly = folder;
    stopOnly.settings.cleaning.stopAt = "小计";
    stopOnly.settings.label = {LabelMode::FileName, {}};
    jobs.push_back(stopOnly);
    return jobs;
}

TEST(JobFile, EveryJobReadsBackAsWritten) {
    for (const MergeJob& job : sampleJobs()) {
        const std::string text = jobText(job);
        SCOPED_TRACE(text);
        const JobReading reading = readJob(text, "/elsewhere");
        ASSERT_TRUE(reading.job) << reading.error;
        EXPECT_EQ(*reading.job, job);
        // The text names every item, defaults included, and the version first.
        EXPECT_EQ(text.rfind("{\n  \"sheetmerge-job\": 1,\n  \"paths\": ", 0), 0u);
        for (const char* item : {"recursive",     "include",         "exclude",
                                 "output-dir",    "format",          "sheet-index",
                                 "sheet-name",    "all-sheets",      "sheet-pattern",
                                 "skip-hidden",   "start-row",       "cells",
                                 "header",        "mark-path",       "mark-cells",
                                 "mark-sheet",    "per-source",      "mark-name",
                                 "align-columns", "skip-blank-rows", "drop-header-repeats",
                                 "stop-at",       "skip-last",       "dedupe",
                                 "fill-merged",   "log-sheet"})
            EXPECT_NE(text.find(std::string("\"") + item + "\": "), std::string::npos) << item;
    }
}

TEST(JobFile, ReadsHandWrittenFiles) {
    // Only what differs from the defaults, relative paths, a byte-order mark.
    const JobReading reading = readJob(
        "\xEF\xBB\xBF{\"sheetmerge-job\": 1, \"paths\": [\"月报\", \"../a.xlsx\", \"/abs/b.csv\"],"
        " \"output-dir\": \"out/\", \"start-row\": 2, \"header\": true, \"mark-path\": false,"
        " \"mark-cells\": null, \"sheet-name\": null, \"cells\": null}",
        "/home/user/jobs");
    ASSERT_TRUE(reading.job) << reading.error;
    const MergeJob& job = *reading.job;
    EXPECT_EQ(job.paths, (std::vector<std::string>{"/home/user/jobs/月报", "/home/user/a.xlsx",
                                                   "/abs/b.csv"}));
    EXPECT_EQ(job.outputFolder, "/home/user/jobs/out/");
    EXPECT_EQ(job.settings.range.mode, RangeMode::FromRow);
    EXPECT_EQ(job.settings.range.startRow, 2);
    EXPECT_TRUE(job.settings.copyHeaderOnce);
    EXPECT_EQ(job.settings.label.mode, LabelMode::None);
    EXPECT_EQ(job.settings.sheet.mode, SheetMode::Active);
    EXPECT_EQ(job.format, SaveFormat::Xlsx);
}

TEST(JobFile, RefusesNewerAndMalformedFilesWhole) {
    struct Case {
        std::string text;
        const char* why;  // a part of the message
    };
    const Case cases[] = {
        {"{\"sheetmerge-job\": 2, \"paths\": [\"/a\"]}",
         "任务文件的格式版本为 2，本程序只能读取版本 1 的任务文件"},
        {"{\"sheetmerge-job\": 1, \"paths\": [\"/a\"], \"sheet-colour\": true}",
         "不认识的项“sheet-colour”"},
        // An unknown item refuses the file even when its other items are good.
        {"{\"sheetmerge-job\": 1, \"start-row\": 2, \"Header\": true}", "不认识的项“Header”"},
        {"{\"paths\": [\"/a\"]}", "缺少格式版本项"},
        {"{\"sheetmerge-job\": \"1\"}", "必须是正整数"},
        {"{\"sheetmerge-job\": 1.0}", "必须是正整数"},
        {"{\"sheetmerge-job\": 0}", "必须是正整数"},
        {"[\"sheetmerge-job\", 1]", "必须是一个 JSON 对象"},
        {"{\"sheetmerge-job\": 1, \"recursive\": 1}", "项“recursive”必须是 true 或 false"},
        {"{\"sheetmerge-job\": 1, \"paths\": \"/a\"}", "项“paths”必须是由非空字符串组成的数组"},
        {"{\"sheetmerge-job\": 1, \"paths\": [\"\"]}", "项“paths”"},
        {"{\"sheetmerge-job\": 1, \"include\": [\"*a*\", 3]}", "项“include”"},
        {"{\"sheetmerge-job\": 1, \"format\": \"xls\"}", "项“format”必须是 \"xlsx\" 或 \"csv\""},
        {"{\"sheetmerge-job\": 1, \"sheet-index\": 0}", "项“sheet-index”必须是 1 到 2147483647"},
        {"{\"sheetmerge-job\": 1, \"sheet-index\": 2.5}", "项“sheet-index”"},
        {"{\"sheetmerge-job\": 1, \"sheet-index\": \"2\"}", "项“sheet-index”"},
        {"{\"sheetmerge-job\": 1, \"sheet-name\": \"\"}", "项“sheet-name”必须是非空字符串"},
        {"{\"sheetmerge-job\": 1, \"start-row\": 1048577}", "项“start-row”必须是 1 到 1048576"},
        {"{\"sheetmerge-job\": 1, \"cells\": \":G5\"}", "项“cells”"},
        {"{\"sheetmerge-job\": 1, \"mark-cells\": []}", "项“mark-cells”"},
        {"{\"sheetmerge-job\": 1, \"output-dir\": 5}", "项“output-dir”必须是字符串或 null"},
        {"{\"sheetmerge-job\": 1, \"sheet-index\": 2, \"sheet-name\": \"a\"}",
         "项“sheet-index”与“sheet-name”只能选用一个"},
        {"{\"sheetmerge-job\": 1, \"start-row\": 2, \"cells\": \"B2\"}",
         "项“start-row”与“cells”只能选用一个"},
        {"{\"sheetmerge-job\": 1, \"mark-path\": true, \"mark-cells\": [\"A1\"]}",
         "项“mark-path”与“mark-cells”只能选用一个"},
        {"{\"sheetmerge-job\": 1, \"mark-name\": true, \"mark-cells\": [\"A1\"]}",
         "项“mark-cells”与“mark-name”只能选用一个"},
        {"{\"sheetmerge-job\": 1, \"mark-path\": true, \"mark-name\": true}",
         "项“mark-path”与“mark-name”只能选用一个"},
        {"{\"sheetmerge-job\": 1, \"skip-last\": 1.5}", "项“skip-last”"},
        {"{\"sheetmerge-job\": 1, \"stop-at\": 3}", "项“stop-at”"},
        {"{\"sheetmerge-job\": 1, \"align-columns\": \"yes\"}", "项“align-columns”"},
        {"{\"sheetmerge-job\": 1, \"header\": true}", "项“header”只能与“start-row”一起使用"},
        {"{\"sheetmerge-job\": 1, \"header\": true, \"cells\": \"B2\"}", "“header”只能与"},
        {"{\"sheetmerge-job\": 1,}", "第 1 行第 22 列"},
        {"{\"sheetmerge-job\": 1, \"paths\": [\"/a\"], \"paths\": []}", "项名重复：paths"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.text);
        const JobReading reading = readJob(row.text, "/");
        EXPECT_FALSE(reading.job);
        EXPECT_NE(reading.error.find(row.why), std::string::npos) << reading.error;
    }
}

struct Folder {
    fs::path path = fs::temp_directory_path() /
                    ("sheetmerge-job-" +
                     std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    Folder() { fs::create_directories(path); }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(JobFile, SavesOverJobFilesOnly) {
    const Folder folder;
    const std::vector<MergeJob> jobs = sampleJobs();
    const fs::path file = folder.path / "每月.json";
    ASSERT_EQ(saveJobFile(file, jobs[1]), std::nullopt);
    JobReading reading = loadJobFile(file);
    ASSERT_TRUE(reading.job) << reading.error;
    EXPECT_EQ(*reading.job, jobs[1]);
    // A job file, also one from a newer version, is replaced.
    std::ofstream(file) << "{\"sheetmerge-job\": 7, \"future\": true}";
    ASSERT_EQ(saveJobFile(file, jobs[2]), std::nullopt);
    reading = loadJobFile(file);
    ASSERT_TRUE(reading.job) << reading.error;
    EXPECT_EQ(*reading.job, jobs[2]);

    // Anything else stays as it is.
    for (const std::string& other :
         {std::string("PK\x03\x04 a workbook"), std::string("{\"paths\": []}"), std::string()}) {
        SCOPED_TRACE(other);
        const fs::path taken = folder.path / "taken.xlsx";
        std::ofstream(taken, std::ios::binary) << other;
        const std::optional<std::string> problem = saveJobFile(taken, jobs[1]);
        ASSERT_TRUE(problem);
        EXPECT_NE(problem->find("已存在且不是 sheetmerge 的任务文件，未覆盖"), std::string::npos);
        EXPECT_EQ(readFile(taken), other);
    }
    // A job that cannot be written as UTF-8 is not written at all.
    MergeJob notUtf8 = jobs[1];
    notUtf8.paths = {"/data/\xB1\xA8\xB1\xED"};  // a GBK name
    EXPECT_TRUE(saveJobFile(folder.path / "gbk.json", notUtf8));
    EXPECT_FALSE(fs::exists(folder.path / "gbk.json"));
    // Files that cannot be read are reported as such.
    EXPECT_NE(loadJobFile(folder.path / "missing.json").error.find("无法读取"), std::string::npos);
    EXPECT_NE(loadJobFile(folder.path).error.find("无法读取"), std::string::npos);
}

}  // namespace
}  // namespace merge
