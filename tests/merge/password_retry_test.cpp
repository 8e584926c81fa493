// Encrypted sources during the run: the run's passwords, then the host's answers (skip, wrong,
// right, remembered for later files), with the fake application standing in for the engine.
#include "merge/password_retry.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "fake_application.h"
#include "merge/engine_application.h"
#include "merge/merge_run.h"
#include "spreadsheet/workbook_reader.h"

namespace merge {
namespace {

using testing::FakeApplication;
using testing::FakeFile;
using testing::gridSheet;
using testing::RecordingHost;

FakeFile lockedFile(const std::string& tag, std::optional<std::string> password) {
    FakeFile file;
    file.sheets.push_back(gridSheet("S", tag, 2, 2));
    file.password = std::move(password);
    return file;
}

TEST(PasswordRetry, AsksUpToThreeTimesAndBooksTheOutcome) {
    using Answers = std::vector<PasswordAnswer>;
    auto typed = [](const char* password, bool later = false) {
        return PasswordAnswer{std::string(password), later};
    };
    struct Case {
        const char* name;
        std::vector<std::string> runPasswords;
        Answers answers;
        bool opens;
        int questions;
        spreadsheet::ErrorCode failure;  // when it does not open
    };
    const Case cases[] = {
        {"a given password opens it without a question", {"x", "secret"}, {}, true, 0, {}},
        {"skipped at once", {}, {}, false, 1, spreadsheet::ErrorCode::EncryptedWorkbook},
        {"right at the first try", {}, {typed("secret")}, true, 1, {}},
        {"right at the third try", {"x"}, {typed("a"), typed("b"), typed("secret")}, true, 3, {}},
        {"skipped after a wrong try",
         {},
         {typed("a"), PasswordAnswer{}},
         false,
         2,
         spreadsheet::ErrorCode::EncryptedWorkbook},
        {"three wrong tries",
         {},
         {typed("a"), typed("b"), typed("c"), typed("secret")},
         false,
         3,
         spreadsheet::ErrorCode::WrongPassword},
        {"an empty password is a password", {}, {typed(""), typed("secret")}, true, 2, {}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        FakeApplication application;
        RecordingHost host;
        application.files["/d/a.xlsx"] = lockedFile("a", "secret");
        host.passwordAnswers = row.answers;
        detail::RunState run{application,   host,  MergeSettings{},
                             {"/d/a.xlsx"}, "/d/", FailureTable(1)};
        run.passwords = row.runPasswords;
        application.setPasswords(run.passwords);
        const std::shared_ptr<Workbook> book = openSource(run, "/d/a.xlsx");
        EXPECT_EQ(book != nullptr, row.opens);
        EXPECT_EQ(static_cast<int>(host.passwordQuestions.size()), row.questions);
        for (std::size_t k = 0; k < host.passwordQuestions.size(); ++k) {
            EXPECT_EQ(host.passwordQuestions[k].first, "/d/a.xlsx");
            EXPECT_EQ(host.passwordQuestions[k].second, static_cast<int>(k) + 1);
        }
        if (row.opens) {
            EXPECT_FALSE(application.errors().isSet());
        } else {
            ASSERT_TRUE(application.errors().isSet());
            EXPECT_EQ(application.errors().error().code, row.failure);
        }
        // Whatever happened, later files are opened with the run's own passwords again.
        EXPECT_EQ(application.passwordLists.back(), row.runPasswords);
    }
}

TEST(PasswordRetry, OtherFailuresAreNeverAQuestionOfPasswords) {
    FakeApplication application;
    RecordingHost host;
    host.passwordAnswers = {PasswordAnswer{std::string("secret"), false}};
    detail::RunState run{application,         host,  MergeSettings{},
                         {"/d/missing.xlsx"}, "/d/", FailureTable(1)};
    EXPECT_EQ(openSource(run, "/d/missing.xlsx"), nullptr);
    EXPECT_TRUE(host.passwordQuestions.empty());
    EXPECT_EQ(application.errors().error().code, spreadsheet::ErrorCode::FileNotFound);
}

TEST(PasswordRetry, ARunRemembersOnlyAnswersMarkedForLaterFiles) {
    // b, c and d share one password, e has another; the sample a.xlsx is not encrypted.
    FakeApplication application;
    RecordingHost host;
    host.answer.Confirmed = true;
    RunInput input;
    input.FolderPath = "/d/";
    input.now = [] { return LocalTime{2015, 6, 15, 9, 30, 12}; };
    input.fileExists = [&](const std::string& path) {
        return application.files.count(path) > 0 || application.written.count(path) > 0;
    };
    input.passwords = {"given"};
    const std::pair<const char*, std::optional<std::string>> files[] = {
        {"a.xlsx", std::nullopt}, {"b.xls", "shared"}, {"c.xls", "shared"},
        {"d.xls", "shared"},      {"e.xls", "other"},  {"f.xls", "given"}};
    for (const auto& [name, password] : files) {
        application.files[std::string("/d/") + name] = lockedFile(name, password);
        input.SourceList.push_back(std::string("/d/") + name);
    }
    host.passwordAnswers = {
        PasswordAnswer{std::string("shared"), false},  // b: opens, not kept
        PasswordAnswer{std::string("shared"), true},   // c: asked again, kept from now on
        PasswordAnswer{std::string("wrong"), true},    // e: wrong, never kept
        PasswordAnswer{},                              // e: skipped
    };
    const RunOutcome outcome = Zelk(input, application, host);
    EXPECT_EQ(outcome.status, RunStatus::Saved);
    EXPECT_EQ(outcome.merged, 5);
    EXPECT_EQ(outcome.failed, 1);
    const std::vector<std::pair<std::string, int>> asked = {
        {"/d/b.xls", 1}, {"/d/c.xls", 1}, {"/d/e.xls", 1}, {"/d/e.xls", 2}};
    EXPECT_EQ(host.passwordQuestions, asked);
    EXPECT_EQ(application.passwordLists.front(), std::vector<std::string>{"given"});
    EXPECT_EQ(application.passwordLists.back(), (std::vector<std::string>{"given", "shared"}));
    // A wrong answer is tried alone, once, and never kept.
    std::vector<std::vector<std::string>> withWrong;
    for (const std::vector<std::string>& list : application.passwordLists)
        if (std::find(list.begin(), list.end(), "wrong") != list.end()) withWrong.push_back(list);
    EXPECT_EQ(withWrong, std::vector<std::vector<std::string>>{{"wrong"}});
}

TEST(PasswordRetry, EngineRunDecryptsWithGivenAndAnsweredPasswords) {
    // The real engine on the encrypted fixtures: one password given for the run, one answer
    // kept for later files, one wrong answer before the right one, and a default-password .xls
    // that opens without a word. Every block must arrive, decrypted, in the result.
    namespace fs = std::filesystem;
    const fs::path data(SHEETMERGE_TEST_DATA);
    const fs::path out =
        fs::temp_directory_path() / ("password_retry_" + std::to_string(::getpid()));
    fs::remove_all(out);
    fs::create_directories(out);
    RunInput input;
    input.FolderPath = data.string() + "/";
    input.resultFolder = out.string() + "/";
    input.passwords = {"api-Pass"};
    input.SourceList = {(data / "xls" / "grid.xlsx").string(),
                        (data / "crypto" / "agile_grid.xlsx").string(),
                        (data / "crypto" / "standard_grid.xlsx").string(),
                        (data / "crypto" / "cryptoapi_grid.xls").string(),
                        (data / "crypto" / "xor_default_password_grid.xls").string()};
    RecordingHost host;
    host.answer.Confirmed = true;
    host.passwordAnswers = {PasswordAnswer{std::string("密码Agile-1"), true},
                            PasswordAnswer{std::string("standard"), false},
                            PasswordAnswer{std::string("standard-pw"), false}};
    std::unique_ptr<Application> application = makeEngineApplication();
    const RunOutcome outcome = Zelk(input, *application, host);
    EXPECT_EQ(outcome.status, RunStatus::Saved) << outcome.message;
    EXPECT_EQ(outcome.merged, 5);
    EXPECT_EQ(outcome.failed, 0);
    ASSERT_EQ(host.passwordQuestions.size(), 3u);
    EXPECT_EQ(host.passwordQuestions[2].second, 2);
    spreadsheet::Result<spreadsheet::WorkbookData> result =
        spreadsheet::openWorkbookFile(outcome.resultPath);
    ASSERT_TRUE(result) << spreadsheet::errorText(result.error());
    int apples = 0;
    for (const spreadsheet::Row& row : result->sheets[0].rows)
        for (const spreadsheet::Cell& cell : row.cells)
            if (cell.text == "苹果") ++apples;
    EXPECT_EQ(apples, 5);
    fs::remove_all(out);
}

}  // namespace
}  // namespace merge
