// Reading the next source ahead: whatever the run announces, each open returns the workbook at
// the path it names, and a failing file fails the same way with or without the announcement.
#include "merge/engine_application.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

#include "../support/package_check.h"

namespace merge {
namespace {

namespace fs = std::filesystem;

// A folder of one-cell workbooks a.xlsx, b.xlsx, c.xlsx holding their own name in A1.
struct SourceFolder {
    fs::path folder = fs::temp_directory_path() / ("read_ahead_" + std::to_string(::getpid()));

    SourceFolder() {
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::unique_ptr<Application> application = makeEngineApplication();
        for (const char* name : {"a", "b", "c"}) {
            std::shared_ptr<Workbook> book = application->addWorkbook();
            book->activeSheet()->range("A1")->setValue(CellValue::ofText(name));
            book->saveAs(path(name), SaveFormat::Xlsx);
            book->close();
            EXPECT_TRUE(spreadsheet::testing::soundPackage(path(name)));
        }
        EXPECT_FALSE(application->errors().isSet()) << application->errors().message();
    }
    ~SourceFolder() { fs::remove_all(folder); }
    std::string path(const std::string& name) const { return (folder / (name + ".xlsx")).string(); }
};

// "A1 text" of an opened workbook, or "failed: <code>" when opening failed.
std::string openAndRead(Application& application, const std::string& path) {
    std::shared_ptr<Workbook> book = application.openWorkbook(path);
    if (!book || application.errors().isSet()) {
        const std::string outcome =
            "failed: " + std::to_string(static_cast<int>(application.errors().error().code));
        application.errors().clear();
        return outcome;
    }
    const std::string text = book->activeSheet()->range("A1")->value().text;
    book->close();
    return text;
}

TEST(ReadAhead, EachOpenReturnsTheWorkbookItNames) {
    SourceFolder sources;
    struct Step {
        std::vector<std::string> announce;  // before the open
        std::string open;                   // "" for none
        std::string expected;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"announced in order", {{{"b", "c"}, "a", "a"}, {{}, "b", "b"}, {{}, "c", "c"}}},
        {"announced source skipped", {{{"b", "c"}, "a", "a"}, {{}, "c", "c"}, {{}, "b", "b"}}},
        {"more announced than read at once",
         {{{"b", "c", "a", "b", "c"}, "a", "a"},
          {{}, "b", "b"},
          {{}, "c", "c"},
          {{}, "a", "a"},
          {{}, "b", "b"},
          {{}, "c", "c"}}},
        {"opened out of announcement order",
         {{{"c", "b"}, "b", "b"}, {{}, "c", "c"}, {{}, "a", "a"}}},
        {"same file announced twice", {{{"a", "a"}, "a", "a"}, {{}, "a", "a"}, {{}, "a", "a"}}},
        {"announced later", {{{}, "a", "a"}, {{"c"}, "", ""}, {{}, "b", "b"}, {{}, "c", "c"}}},
        {"announced and never opened", {{{"c", "b"}, "a", "a"}}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        std::unique_ptr<Application> application = makeEngineApplication();
        for (const Step& step : row.steps) {
            for (const std::string& name : step.announce)
                application->expectOpen(sources.path(name));
            if (!step.open.empty()) {
                EXPECT_EQ(openAndRead(*application, sources.path(step.open)), step.expected)
                    << "opening " << step.open;
            }
        }
    }
}

TEST(ReadAhead, FailuresAreTheSameAsWithoutTheAnnouncement) {
    SourceFolder sources;
    const fs::path data = fs::path(SHEETMERGE_TEST_DATA);
    const std::vector<std::string> failing = {
        sources.path("missing"),
        (data / "xlsx" / "malformed_sheet_xml.xlsx").string(),
        (data / "xlsx" / "workbook_part_missing.xlsx").string(),
    };
    for (const std::string& path : failing) {
        SCOPED_TRACE(path);
        std::unique_ptr<Application> plain = makeEngineApplication();
        const std::string unannounced = openAndRead(*plain, path);
        ASSERT_EQ(unannounced.rfind("failed: ", 0), 0u) << "the fixture should not open";

        std::unique_ptr<Application> ahead = makeEngineApplication();
        ahead->expectOpen(path);
        ahead->expectOpen(sources.path("b"));
        EXPECT_EQ(openAndRead(*ahead, sources.path("a")), "a");
        EXPECT_EQ(openAndRead(*ahead, path), unannounced);
        // The failure does not leak into the next open.
        EXPECT_EQ(openAndRead(*ahead, sources.path("b")), "b");
    }
}

TEST(ReadAhead, FilesChangedAfterTheAnnouncementAreTakenAsTheyAreAtTheirTurn) {
    SourceFolder sources;
    {
        // A replacement for b saved under another name, renamed over b once b is read ahead.
        std::unique_ptr<Application> writer = makeEngineApplication();
        std::shared_ptr<Workbook> book = writer->addWorkbook();
        book->activeSheet()->range("A1")->setValue(CellValue::ofText("b2"));
        book->saveAs(sources.path("b2"), SaveFormat::Xlsx);
        book->close();
    }
    std::unique_ptr<Application> plain = makeEngineApplication();
    const std::string missing = openAndRead(*plain, sources.path("missing"));

    std::unique_ptr<Application> application = makeEngineApplication();
    application->expectOpen(sources.path("b"));
    application->expectOpen(sources.path("c"));
    EXPECT_EQ(openAndRead(*application, sources.path("a")), "a");
    fs::rename(sources.path("b2"), sources.path("b"));
    fs::remove(sources.path("c"));
    EXPECT_EQ(openAndRead(*application, sources.path("b")), "b2");
    EXPECT_EQ(openAndRead(*application, sources.path("c")), missing);
}

}  // namespace
}  // namespace merge

namespace merge {
namespace {

TEST(ReadAhead, EncryptedFilesOpenWithThePasswordsInForceAtTheirTurn) {
    // Files read ahead before a password changed are read again at their turn: a password
    // given for one file never opens another one behind the run's back, and a password
    // remembered later opens files read ahead before it.
    const fs::path crypto = fs::path(SHEETMERGE_TEST_DATA) / "crypto";
    const std::string agile = (crypto / "agile_grid.xlsx").string();
    const std::string standard = (crypto / "standard_grid.xlsx").string();
    const std::string rc4 = (crypto / "cryptoapi_grid.xls").string();
    auto opens = [](Application& application, const std::string& path) {
        std::shared_ptr<Workbook> book = application.openWorkbook(path);
        const bool opened = book && !application.errors().isSet();
        application.errors().clear();
        if (book) book->close();
        return opened;
    };
    std::unique_ptr<Application> application = makeEngineApplication();
    application->setPasswords({"standard-pw", "api-Pass"});
    for (const std::string& path : {agile, standard, rc4, agile}) application->expectOpen(path);
    EXPECT_FALSE(opens(*application, agile));
    application->setPasswords({"密码Agile-1"});
    EXPECT_FALSE(opens(*application, standard));  // read ahead with "standard-pw", now gone
    application->setPasswords({"api-Pass", "密码Agile-1"});
    EXPECT_TRUE(opens(*application, rc4));
    EXPECT_TRUE(opens(*application, agile));
}

}  // namespace
}  // namespace merge
