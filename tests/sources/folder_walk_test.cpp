// The folder scan: chosen-folder tests, the walk's order, question, limits and messages, and
// the real directory listing.
#include "sources/folder_walk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "merge/merge_run.h"
#include "merge/result_finishing.h"

namespace {

using sources::DirectoryEntry;
using sources::EntryKind;
using sources::WalkOutcome;

// Folders by path; a folder that is missing from the map cannot be listed.
class FakeLister : public sources::DirectoryLister {
public:
    std::map<std::string, std::vector<sources::DirectoryEntry>> folders;
    std::vector<std::string> listed;
    std::set<std::string> ownResults;    // paths of files this program wrote
    std::vector<std::string> inspected;  // paths asked about, in order

    bool isOwnResult(const std::string& path) override {
        inspected.push_back(path);
        return ownResults.count(path) > 0;
    }

    std::optional<std::vector<sources::DirectoryEntry>> list(const std::string& folder) override {
        listed.push_back(folder);
        const auto it = folders.find(folder);
        if (it == folders.end()) return std::nullopt;
        return it->second;
    }
    void addFiles(const std::string& folder, const std::vector<std::string>& names) {
        auto& entries = folders[folder];
        for (const std::string& name : names) entries.push_back({name, sources::EntryKind::File});
    }
    void addFolder(const std::string& parent, const std::string& name) {
        folders[parent].push_back({name, sources::EntryKind::Directory});
        folders[parent + name + "/"];
    }
};

// Counts the questions and gives a fixed answer.
struct Question {
    bool answer = false;
    int asked = 0;
    std::function<bool()> callback() {
        return [this] {
            ++asked;
            return answer;
        };
    }
};

TEST(FolderWalk, TakesOnlyLowerCaseSpreadsheetExtensions) {
    FakeLister lister;
    lister.addFiles("/d/", {"a.xls", "b.XLS", "c.xlsx", "d.txt", "e.csv", "f.xlsm", "g.xlsx.bak",
                            "h.Csv", "xls", "i.xlsb", "j.CSV"});
    Question question;
    const sources::WalkResult walk = sources::walkFolder("/d/", lister, question.callback());
    ASSERT_EQ(walk.outcome, sources::WalkOutcome::Ok);
    EXPECT_EQ(walk.sourceList,
              (std::vector<std::string>{"/d/a.xls", "/d/c.xlsx", "/d/e.csv", "/d/f.xlsm"}));
    EXPECT_EQ(question.asked, 0);
}

TEST(FolderWalk, SortsNamesIgnoringCaseThenByBytes) {
    FakeLister lister;
    lister.addFiles("/d/",
                    {"b.xls", "B.xls", "a.xls", "_x.xls", "A.xls", "2.xls", "10.xls", "ab.xls"});
    Question question;
    const sources::WalkResult walk = sources::walkFolder("/d/", lister, question.callback());
    ASSERT_EQ(walk.outcome, sources::WalkOutcome::Ok);
    EXPECT_EQ(walk.sourceList,
              (std::vector<std::string>{"/d/10.xls", "/d/2.xls", "/d/_x.xls", "/d/A.xls",
                                        "/d/a.xls", "/d/ab.xls", "/d/B.xls", "/d/b.xls"}));
}

TEST(FolderWalk, HiddenNamesAreNotListed) {
    FakeLister lister;
    lister.addFiles("/d/", {".hidden.xlsx", "a.csv", "b.csv"});
    lister.addFolder("/d/", ".git");
    lister.addFiles("/d/.git/", {"c.csv"});
    Question question;
    const sources::WalkResult walk = sources::walkFolder("/d/", lister, question.callback());
    EXPECT_EQ(walk.sourceList, (std::vector<std::string>{"/d/a.csv", "/d/b.csv"}));
    EXPECT_EQ(question.asked, 0);
}

TEST(FolderWalk, LockFilesAreLeftOutLikeHiddenOnes) {
    FakeLister lister;
    lister.addFiles("/d/", {"~$报表.xlsx", "报表.xlsx", "~$a.xls", "a.xls", "~b.csv", "$c.csv"});
    lister.addFolder("/d/", "~$folder");
    lister.addFiles("/d/~$folder/", {"d.csv"});
    Question question;
    question.answer = true;
    const sources::WalkResult walk = sources::walkFolder("/d/", lister, question.callback());
    ASSERT_EQ(walk.outcome, WalkOutcome::Ok);
    // Only files: a folder named so is no lock file.
    EXPECT_EQ(walk.sourceList, (std::vector<std::string>{"/d/$c.csv", "/d/a.xls", "/d/~b.csv",
                                                         "/d/报表.xlsx", "/d/~$folder/d.csv"}));
    EXPECT_EQ(walk.resultsLeftOut, 0);
}

TEST(FolderWalk, EarlierResultsAreLeftOutAndCounted) {
    FakeLister lister;
    lister.addFiles("/d/", {"a.xlsx", "合并 150615 093012.xlsx", "合并 160101 000000.xlsx", "b.csv",
                            "报表 150615 093012.xlsx"});
    lister.addFolder("/d/", "sub");
    lister.addFiles("/d/sub/", {"销售合并 150615 093012 (2).xlsx", "c.xls"});
    lister.ownResults = {"/d/合并 150615 093012.xlsx", "/d/sub/销售合并 150615 093012 (2).xlsx",
                         "/d/b.csv"};
    Question question;
    question.answer = true;
    const sources::WalkResult walk = sources::walkFolder("/d/", lister, question.callback());
    ASSERT_EQ(walk.outcome, WalkOutcome::Ok);
    // A result-like name whose file another program wrote stays a source.
    EXPECT_EQ(walk.sourceList,
              (std::vector<std::string>{"/d/a.xlsx", "/d/b.csv", "/d/合并 160101 000000.xlsx",
                                        "/d/报表 150615 093012.xlsx", "/d/sub/c.xls"}));
    EXPECT_EQ(walk.resultsLeftOut, 2);
    // Only files named like a result are looked into.
    EXPECT_EQ(lister.inspected,
              (std::vector<std::string>{"/d/合并 150615 093012.xlsx", "/d/合并 160101 000000.xlsx",
                                        "/d/sub/销售合并 150615 093012 (2).xlsx"}));

    // Left out before the counts are judged: a source and an earlier result are one source.
    FakeLister single;
    single.addFiles("/e/", {"a.xlsx", "合并 150615 093012.xlsx"});
    single.ownResults = {"/e/合并 150615 093012.xlsx"};
    const sources::WalkResult one = sources::walkFolder("/e/", single, question.callback());
    EXPECT_EQ(one.outcome, WalkOutcome::OneFile);
    EXPECT_EQ(one.resultsLeftOut, 1);
}

TEST(ResultName, TellsTheRunsNamesFromOthers) {
    struct Case {
        const char* name;
        bool result;
    } cases[] = {
        {"合并 150615 093012.xlsx", true},
        {"销售合并 150615 093012.xlsx", true},
        {"合并 150615 093012 (2).xlsx", true},
        {"Q1 (2)合并 991231 235959 (12).xlsx", true},
        {"合并合并 000000 000000.xlsx", true},
        {"合并 150615 093012.xls", false},
        {"合并 150615 093012.XLSX", false},
        {"合并 150615 093012.xlsm", false},
        {"合并 15061 093012.xlsx", false},
        {"合并 150615093012.xlsx", false},
        {"合并150615 093012.xlsx", false},
        {"合并 1506a5 093012.xlsx", false},
        {"合并 150615 093012 ().xlsx", false},
        {"合并 150615 093012 (x).xlsx", false},
        {"合并 150615 093012(2).xlsx", false},
        {"合并 150615 093012 (2) .xlsx", false},
        {"合并 150615 093012 副本.xlsx", false},
        {"报表 150615 093012.xlsx", false},
        {".xlsx", false},
        {"", false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(sources::hasResultName(row.name), row.result);
    }
}

// The walk must know every name the merge run gives its results, or a second merge of the
// same folder takes in the first one's result.
TEST(ResultName, RecognisesEveryNameTheRunGives) {
    for (const merge::SheetChoice& sheet :
         {merge::SheetChoice{}, merge::SheetChoice{merge::SheetMode::ByName, {}, "销售"},
          merge::SheetChoice{merge::SheetMode::ByName, {}, "Q1 (2)"},
          merge::SheetChoice{merge::SheetMode::ByPosition, 3, {}}}) {
        for (const merge::LocalTime& time :
             {merge::LocalTime{2015, 6, 15, 9, 30, 12}, merge::LocalTime{2100, 12, 31, 23, 59, 59},
              merge::LocalTime{2000, 1, 1, 0, 0, 0}}) {
            const std::string base = merge::resultBaseName("/d/", sheet, time);
            for (int taken = 0; taken <= 11; ++taken) {
                const std::string path = merge::freeResultPath(
                    base, ".xlsx",
                    [&, count = 0](const std::string&) mutable { return count++ < taken; });
                const std::string name = std::filesystem::path(path).filename().string();
                SCOPED_TRACE(name);
                EXPECT_TRUE(sources::hasResultName(name));
            }
        }
    }
}

TEST(FolderWalk, NoAnswerSkipsEverySubfolder) {
    FakeLister lister;
    lister.addFiles("/d/", {"top.xlsx", "z.csv"});
    lister.addFolder("/d/", "sub1");
    lister.addFolder("/d/", "sub2");
    lister.addFiles("/d/sub1/", {"s.xls"});
    Question question;
    const sources::WalkResult walk = sources::walkFolder("/d/", lister, question.callback());
    EXPECT_EQ(question.asked, 1);
    EXPECT_EQ(walk.sourceList, (std::vector<std::string>{"/d/top.xlsx", "/d/z.csv"}));
    EXPECT_EQ(lister.listed, std::vector<std::string>{"/d/"});
}

TEST(FolderWalk, YesAnswerWalksBreadthFirstAskingOnce) {
    FakeLister lister;
    lister.addFiles("/d/", {"top.xlsx"});
    lister.addFolder("/d/", "A");
    lister.addFolder("/d/", "b");
    lister.addFolder("/d/A/", "deep");
    lister.addFiles("/d/A/", {"a1.csv"});
    lister.addFiles("/d/b/", {"b1.csv"});
    lister.addFiles("/d/A/deep/", {"x.xls"});
    lister.addFolder("/d/A/deep/", "deeper");
    lister.addFiles("/d/A/deep/deeper/", {"y.xls"});
    Question question;
    question.answer = true;
    const sources::WalkResult walk = sources::walkFolder("/d/", lister, question.callback());
    ASSERT_EQ(walk.outcome, sources::WalkOutcome::Ok);
    EXPECT_EQ(question.asked, 1);
    EXPECT_EQ(walk.sourceList,
              (std::vector<std::string>{"/d/top.xlsx", "/d/A/a1.csv", "/d/b/b1.csv",
                                        "/d/A/deep/x.xls", "/d/A/deep/deeper/y.xls"}));
    EXPECT_EQ(lister.listed, (std::vector<std::string>{"/d/", "/d/A/", "/d/b/", "/d/A/deep/",
                                                       "/d/A/deep/deeper/"}));
}

TEST(FolderWalk, OneFileAboveTwoBelowDependsOnTheAnswer) {
    FakeLister lister;
    lister.addFiles("/d/", {"z.xlsx"});
    lister.addFolder("/d/", "a");
    lister.addFiles("/d/a/", {"1.xls", "2.xls"});
    Question yes;
    yes.answer = true;
    const sources::WalkResult merged = sources::walkFolder("/d/", lister, yes.callback());
    ASSERT_EQ(merged.outcome, sources::WalkOutcome::Ok);
    EXPECT_EQ(merged.sourceList,
              (std::vector<std::string>{"/d/z.xlsx", "/d/a/1.xls", "/d/a/2.xls"}));

    Question no;
    const sources::WalkResult refused = sources::walkFolder("/d/", lister, no.callback());
    EXPECT_EQ(refused.outcome, sources::WalkOutcome::OneFile);
    EXPECT_TRUE(refused.sourceList.empty());
    EXPECT_EQ(refused.message,
              "指定路径下仅存在一个符合条件的Excel/"
              "csv文件，无需执行数据合并操作，请重新选择目标文件夹。");
    EXPECT_FALSE(sources::endsProgram(refused.outcome));
}

TEST(FolderWalk, NoFilesGivesItsMessage) {
    FakeLister lister;
    lister.addFiles("/d/", {"readme.txt", "A.XLSX"});
    Question question;
    const sources::WalkResult walk = sources::walkFolder("/d/", lister, question.callback());
    EXPECT_EQ(walk.outcome, sources::WalkOutcome::NoFiles);
    EXPECT_EQ(
        walk.message,
        "指定路径不存在扩展名为“.xls”、“.xlsx”、“.xlsm”或“.csv”的任何文件，请重新选择目标文件夹。");
    EXPECT_FALSE(sources::endsProgram(walk.outcome));
}

TEST(FolderWalk, SecondScanStartsFromAnEmptyList) {
    FakeLister single;
    single.addFiles("/one/", {"only.xls"});
    FakeLister pair;
    pair.addFiles("/two/", {"b.csv", "a.csv"});
    Question question;
    ASSERT_EQ(sources::walkFolder("/one/", single, question.callback()).outcome,
              sources::WalkOutcome::OneFile);
    const sources::WalkResult second = sources::walkFolder("/two/", pair, question.callback());
    EXPECT_EQ(second.sourceList, (std::vector<std::string>{"/two/a.csv", "/two/b.csv"}));
}

TEST(FolderWalk, DirectoryNamedLikeAWorkbookIsAFolder) {
    FakeLister lister;
    lister.addFiles("/d/", {"a.csv", "b.csv"});
    lister.addFolder("/d/", "old.xls");
    lister.addFiles("/d/old.xls/", {"c.csv"});
    Question no;
    EXPECT_EQ(sources::walkFolder("/d/", lister, no.callback()).sourceList,
              (std::vector<std::string>{"/d/a.csv", "/d/b.csv"}));
    EXPECT_EQ(no.asked, 1);
    Question yes;
    yes.answer = true;
    EXPECT_EQ(sources::walkFolder("/d/", lister, yes.callback()).sourceList,
              (std::vector<std::string>{"/d/a.csv", "/d/b.csv", "/d/old.xls/c.csv"}));
}

TEST(FolderWalk, OtherEntriesAreNeitherWalkedNorTaken) {
    FakeLister lister;
    lister.addFiles("/d/", {"a.csv", "b.csv"});
    lister.folders["/d/"].push_back({"link.xls", sources::EntryKind::Other});
    lister.folders["/d/"].push_back({"pipe.csv", sources::EntryKind::Other});
    Question question;
    const sources::WalkResult walk = sources::walkFolder("/d/", lister, question.callback());
    EXPECT_EQ(walk.sourceList, (std::vector<std::string>{"/d/a.csv", "/d/b.csv"}));
    EXPECT_EQ(question.asked, 0);
}

TEST(FolderWalk, UnlistableFolderContributesNothing) {
    FakeLister lister;
    lister.addFiles("/d/", {"a.csv"});
    lister.folders["/d/"].push_back({"locked", sources::EntryKind::Directory});  // not in the map
    lister.addFolder("/d/", "open");
    lister.addFiles("/d/open/", {"b.csv"});
    Question yes;
    yes.answer = true;
    const sources::WalkResult walk = sources::walkFolder("/d/", lister, yes.callback());
    EXPECT_EQ(walk.sourceList, (std::vector<std::string>{"/d/a.csv", "/d/open/b.csv"}));

    FakeLister nothing;
    EXPECT_EQ(sources::walkFolder("/gone/", nothing, yes.callback()).outcome,
              sources::WalkOutcome::NoFiles);
}

// A top folder with `subfolders` sub-folders spread over two levels and two files at the top.
FakeLister treeWithSubfolders(int subfolders) {
    FakeLister lister;
    lister.addFiles("/d/", {"a.csv", "b.csv"});
    const int top = std::min(subfolders, 10);
    for (int i = 0; i < top; ++i) lister.addFolder("/d/", "t" + std::to_string(i));
    for (int i = top; i < subfolders; ++i)
        lister.addFolder("/d/t" + std::to_string(i % 10) + "/", "s" + std::to_string(i));
    return lister;
}

TEST(FolderWalk, AcceptsExactlyOneThousandSubfolders) {
    Question yes;
    yes.answer = true;
    FakeLister thousand = treeWithSubfolders(1000);
    const sources::WalkResult accepted = sources::walkFolder("/d/", thousand, yes.callback());
    EXPECT_EQ(accepted.outcome, sources::WalkOutcome::Ok);
    EXPECT_EQ(thousand.listed.size(), 1001u);

    FakeLister tooMany = treeWithSubfolders(1001);
    const sources::WalkResult refused = sources::walkFolder("/d/", tooMany, yes.callback());
    EXPECT_EQ(refused.outcome, sources::WalkOutcome::FolderLimit);
    EXPECT_TRUE(refused.sourceList.empty());
    EXPECT_EQ(refused.message, "指定路径的文件夹个数超过1000了，请先做相应处理再运行本软件。");
    EXPECT_TRUE(sources::endsProgram(refused.outcome));

    // Without sub-folders the same tree is no problem.
    Question no;
    EXPECT_EQ(sources::walkFolder("/d/", tooMany, no.callback()).outcome, sources::WalkOutcome::Ok);
}

std::vector<std::string> numberedNames(int count, const std::string& extension) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back("f" + std::to_string(i) + extension);
    return names;
}

TEST(FolderWalk, AcceptsExactlyTenThousandFiles) {
    Question yes;
    yes.answer = true;
    FakeLister tenThousand;
    tenThousand.addFiles("/d/", numberedNames(6000, ".csv"));
    tenThousand.addFolder("/d/", "more");
    tenThousand.addFiles("/d/more/", numberedNames(4000, ".xlsx"));
    const sources::WalkResult accepted = sources::walkFolder("/d/", tenThousand, yes.callback());
    ASSERT_EQ(accepted.outcome, sources::WalkOutcome::Ok);
    EXPECT_EQ(accepted.sourceList.size(), 10000u);
    EXPECT_EQ(accepted.sourceList.back().rfind("/d/more/", 0), 0u);

    tenThousand.addFiles("/d/more/", {"last.xls"});
    const sources::WalkResult refused = sources::walkFolder("/d/", tenThousand, yes.callback());
    EXPECT_EQ(refused.outcome, sources::WalkOutcome::FileLimit);
    EXPECT_TRUE(refused.sourceList.empty());
    EXPECT_EQ(refused.message,
              "指定路径的Excel/csv文件个数超过10000了，请先做相应处理再运行本软件。");
    EXPECT_TRUE(sources::endsProgram(refused.outcome));
}

const std::vector<sources::MountPoint> SampleMounts = {
    {"/", "ext4", "/dev/sda1"},
    {"/home", "ext4", "/dev/sda2"},
    {"/mnt/nas", "nfs4", "server:/export"},
    {"/media/cd", "iso9660", "/dev/sr0"},
    {"/media/bd", "udf", "/dev/sr1"},
    {"/run/user/1000/gvfs", "fuse.gvfsd-fuse", "gvfsd-fuse"},
    {"/mnt/ssh", "fuse.sshfs", "me@host:/srv"},
    {"/mnt/smb", "cifs", "//server/share"},
    {"/mnt/drive", "fuse.rclone", "gdrive:"},
    {"/mnt/usb", "vfat", "/dev/sdb1"},
};

TEST(ChosenFolder, RefusesInvalidPathsAndWholeDrives) {
    struct Row {
        std::string displayName;
        std::string path;
        std::string resolved;
        sources::FolderCheck check;
        std::string folderPath;
    };
    using sources::FolderCheck;
    const std::vector<Row> rows = {
        {"data", "/home/me/data", "", sources::FolderCheck::Ok, "/home/me/data/"},
        {"data", "/home/me/data///", "", sources::FolderCheck::Ok, "/home/me/data/"},
        {"nas2", "/mnt/nas2/x", "", sources::FolderCheck::Ok, "/mnt/nas2/x/"},
        {"dvd 驱动器", "/home/me/dvd", "", sources::FolderCheck::Ok, "/home/me/dvd/"},
        {"驱动器 DVD", "/home/me/d", "", sources::FolderCheck::Ok, "/home/me/d/"},
        {"", "/", "", sources::FolderCheck::WholeDrive, ""},
        {"home", "/home", "", sources::FolderCheck::WholeDrive, ""},
        {"home", "/home/", "", sources::FolderCheck::WholeDrive, ""},
        {"usb", "/mnt/usb", "", sources::FolderCheck::WholeDrive, ""},
        {"stick", "/home/me/stick", "/mnt/usb", sources::FolderCheck::WholeDrive, ""},
        {"DVD RW 驱动器 (E:)", "/home/me/x", "", sources::FolderCheck::InvalidPath, ""},
        {"x", "relative/dir", "", sources::FolderCheck::InvalidPath, ""},
        {"x", "", "", sources::FolderCheck::InvalidPath, ""},
        {"x", "//server/share", "", sources::FolderCheck::InvalidPath, ""},
        {"x", "smb://server/share", "", sources::FolderCheck::InvalidPath, ""},
        {"nas", "/mnt/nas", "", sources::FolderCheck::InvalidPath, ""},
        {"share", "/mnt/nas/share/2024", "", sources::FolderCheck::InvalidPath, ""},
        {"cd", "/media/cd/data", "", sources::FolderCheck::InvalidPath, ""},
        {"bd", "/media/bd/x", "", sources::FolderCheck::InvalidPath, ""},
        {"gvfs", "/run/user/1000/gvfs/smb-share:server=a,share=b/x", "",
         sources::FolderCheck::InvalidPath, ""},
        {"ssh", "/mnt/ssh/x", "", sources::FolderCheck::InvalidPath, ""},
        {"smb", "/mnt/smb/x", "", sources::FolderCheck::InvalidPath, ""},
        {"drive", "/mnt/drive/x", "", sources::FolderCheck::InvalidPath, ""},
        {"link", "/home/me/link", "/mnt/nas/x", sources::FolderCheck::InvalidPath, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path + " (" + row.displayName + ")");
        const sources::ChosenFolder chosen =
            sources::checkChosenFolder(row.displayName, row.path, row.resolved, SampleMounts);
        EXPECT_EQ(chosen.check, row.check);
        EXPECT_EQ(chosen.folderPath, row.folderPath);
        const std::map<sources::FolderCheck, std::string> messages = {
            {sources::FolderCheck::Ok, ""},
            {sources::FolderCheck::InvalidPath, "所选路径无效，请重新选取。"},
            {sources::FolderCheck::WholeDrive,
             "选取整个磁盘文件多如牛毛，请选择其下一级文件夹或改用“文件选取”模式。"},
        };
        EXPECT_EQ(chosen.message, messages.at(row.check));
    }
}

TEST(MountInfo, ParsesOptionalFieldsAndEscapes) {
    const std::string text =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "30 22 0:40 / /mnt/my\\040disk rw shared:5 master:2 - ext4 /dev/sdb1 rw\n"
        "31 22 0:41 / /mnt/nas rw - nfs4 server:/export rw,vers=4.2\n"
        "garbage line\n"
        "32 22 0:42 / /x rw\n"
        "33 22 0:43 / /media/cd ro - iso9660 /dev/sr0 ro";
    const std::vector<sources::MountPoint> mounts = sources::parseMountInfo(text);
    ASSERT_EQ(mounts.size(), 4u);
    EXPECT_EQ(mounts[0].path, "/");
    EXPECT_EQ(mounts[0].type, "ext4");
    EXPECT_EQ(mounts[1].path, "/mnt/my disk");
    EXPECT_EQ(mounts[1].source, "/dev/sdb1");
    EXPECT_EQ(mounts[2].type, "nfs4");
    EXPECT_EQ(mounts[2].source, "server:/export");
    EXPECT_EQ(mounts[3].path, "/media/cd");
}

TEST(MountInfo, TellsRemoteAndOpticalFromLocal) {
    struct Row {
        sources::MountPoint mount;
        bool remote;
    };
    const std::vector<Row> rows = {
        {{"/a", "ext4", "/dev/sda1"}, false},
        {{"/a", "tmpfs", "tmpfs"}, false},
        {{"/a", "fuse.ntfs-3g", "/dev/sdb1"}, false},
        {{"/a", "nfs", "h:/e"}, true},
        {{"/a", "cifs", "//h/s"}, true},
        {{"/a", "smb3", "//h/s"}, true},
        {{"/a", "fuse.sshfs", "u@h:/"}, true},
        {{"/a", "fuse.gvfsd-fuse", "gvfsd-fuse"}, true},
        {{"/a", "fuse.somefs", "host:/x"}, true},
        {{"/a", "iso9660", "/dev/sr0"}, true},
        {{"/a", "udf", "/dev/sr0"}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mount.type);
        EXPECT_EQ(sources::isRemoteOrOptical(row.mount), row.remote);
    }
}

TEST(FolderPath, EndsInExactlyOneSlash) {
    EXPECT_EQ(sources::withOneTrailingSlash("/a"), "/a/");
    EXPECT_EQ(sources::withOneTrailingSlash("/a///"), "/a/");
    EXPECT_EQ(sources::withOneTrailingSlash("/"), "/");
}

// The real listing, on a scratch folder with a link loop, a pipe and a link to a file.
class RealFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/folder_walk_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }
    void touch(const std::string& relative) { std::ofstream(m_root / relative) << "x"; }
    std::filesystem::path m_root;
};

TEST_F(RealFolder, ListsKindsWithoutFollowingFolderLinks) {
    namespace fs = std::filesystem;
    touch("a.csv");
    touch(".h.csv");
    fs::create_directory(m_root / "sub");
    touch("sub/b.csv");
    fs::create_directory(m_root / "dir.xls");
    fs::create_directory_symlink(m_root, m_root / "sub" / "loop.xls");
    fs::create_symlink(m_root / "a.csv", m_root / "alias.csv");
    fs::create_symlink(m_root / "missing.csv", m_root / "broken.csv");
    ASSERT_EQ(mkfifo((m_root / "pipe.csv").c_str(), 0600), 0);

    sources::FileSystemLister lister;
    const auto entries = lister.list(m_root.string() + "/");
    ASSERT_TRUE(entries.has_value());
    std::map<std::string, sources::EntryKind> kinds;
    for (const sources::DirectoryEntry& entry : *entries) kinds[entry.name] = entry.kind;
    EXPECT_EQ(kinds["a.csv"], sources::EntryKind::File);
    EXPECT_EQ(kinds["alias.csv"], sources::EntryKind::File);
    EXPECT_EQ(kinds["broken.csv"], sources::EntryKind::Other);
    EXPECT_EQ(kinds["pipe.csv"], sources::EntryKind::Other);
    EXPECT_EQ(kinds["sub"], sources::EntryKind::Directory);
    EXPECT_EQ(kinds["dir.xls"], sources::EntryKind::Directory);
    EXPECT_EQ(kinds.count(".h.csv"), 1u);  // hiding is the walk's business

    const std::string top = m_root.string() + "/";
    const sources::WalkResult walk = sources::walkFolder(top, lister, [] { return true; });
    ASSERT_EQ(walk.outcome, sources::WalkOutcome::Ok);
    EXPECT_EQ(walk.sourceList,
              (std::vector<std::string>{top + "a.csv", top + "alias.csv", top + "sub/b.csv"}));
    EXPECT_FALSE(lister.list(top + "nothing-here/").has_value());
}

// The file-name filter of the walk: include and exclude patterns over names alone.
TEST(NameFilter, TakesNamesMatchingAnIncludeAndNoExclude) {
    struct Case {
        std::vector<std::string> include;
        std::vector<std::string> exclude;
        const char* name;
        bool taken;
    };
    const Case cases[] = {
        {{}, {}, "任何.xlsx", true},
        {{"*销售*"}, {}, "华东销售.xlsx", true},
        {{"*销售*"}, {}, "华东采购.xlsx", false},
        {{"*销售*", "*采购*"}, {}, "华东采购.xlsx", true},  // one include is enough
        {{}, {"*备份*"}, "销售（备份）.xlsx", false},
        {{"*销售*"}, {"*备份*"}, "销售备份.xlsx", false},  // an exclude wins over an include
        {{"*.CSV"}, {}, "a.csv", true},                    // case is ignored
        {{"report-??.xlsx"}, {}, "REPORT-03.XLSX", true},
        {{}, {"~*", "*副本*"}, "~草稿.xlsx", false},
        {{"*.xlsx"}, {}, "a.xls", false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const sources::NameFilter filter{row.include, row.exclude};
        EXPECT_EQ(filter.takes(row.name), row.taken);
        EXPECT_EQ(filter.empty(), row.include.empty() && row.exclude.empty());
    }
}

TEST(FolderWalk, FiltersFileNamesOverATreeInWalkOrder) {
    FakeLister lister;
    lister.addFiles("/d/", {"b销售.xlsx", "A销售.csv", "采购.xlsx", "销售 备份.xlsx", "销售.txt"});
    lister.addFolder("/d/", "备份");  // folders are walked whatever their names
    lister.addFiles("/d/备份/", {"旧销售.xls", "旧采购.xls"});
    lister.addFolder("/d/备份/", "深");
    lister.addFiles("/d/备份/深/", {"销售汇总.xlsm", "说明.csv"});
    Question yes;
    yes.answer = true;
    const sources::NameFilter filter{{"*销售*"}, {"*备份*", "*汇总*"}};
    const sources::WalkResult walk = sources::walkFolder("/d/", lister, yes.callback(), filter);
    ASSERT_EQ(walk.outcome, WalkOutcome::Ok);
    EXPECT_EQ(walk.sourceList,
              (std::vector<std::string>{"/d/A销售.csv", "/d/b销售.xlsx", "/d/备份/旧销售.xls"}));
    // Left out by the filter: 采购, 销售 备份, 旧采购, 销售汇总, 说明; 销售.txt was never a source.
    EXPECT_EQ(walk.filteredOut, 5);
    EXPECT_EQ(yes.asked, 1);
}

TEST(FolderWalk, OnlyFilesTheFilterTakesCountTowardTheLimit) {
    Question yes;
    yes.answer = true;
    FakeLister lister;
    lister.addFiles("/d/", numberedNames(10000, ".xlsx"));
    lister.addFolder("/d/", "old");
    lister.addFiles("/d/old/", numberedNames(3000, ".xls"));
    const sources::NameFilter filter{{}, {"*.xls"}};
    const sources::WalkResult walk = sources::walkFolder("/d/", lister, yes.callback(), filter);
    ASSERT_EQ(walk.outcome, WalkOutcome::Ok);
    EXPECT_EQ(walk.sourceList.size(), 10000u);
    EXPECT_EQ(walk.filteredOut, 3000);
    // Without the filter the same tree is over the limit.
    EXPECT_EQ(sources::walkFolder("/d/", lister, yes.callback()).outcome, WalkOutcome::FileLimit);
}

TEST(FolderWalk, SaysWhenTheFilterLeftTooFewFiles) {
    FakeLister lister;
    lister.addFiles("/d/", {"a.xlsx", "b.xlsx", "c.csv"});
    Question no;
    struct Case {
        sources::NameFilter filter;
        WalkOutcome outcome;
        const char* message;
    };
    const Case cases[] = {
        {{{"*.xls"}, {}},
         WalkOutcome::NoFiles,
         "指定路径下没有文件名符合筛选条件的Excel/csv文件，请修改筛选条件或重新选择目标文件夹。"},
        {{{}, {"*.xlsx"}},
         WalkOutcome::OneFile,
         "指定路径下仅有一个文件名符合筛选条件的Excel/csv文件，无需执行数据合并操作，"
         "请修改筛选条件或重新选择目标文件夹。"},
        {{{"*.xlsx", "*.csv"}, {"*.xls"}}, WalkOutcome::Ok, ""},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.message);
        const sources::WalkResult walk =
            sources::walkFolder("/d/", lister, no.callback(), row.filter);
        EXPECT_EQ(walk.outcome, row.outcome);
        EXPECT_EQ(walk.message, row.message);
    }
    // A folder without any source keeps its own message, filter or not.
    FakeLister empty;
    empty.addFiles("/e/", {"notes.txt"});
    const sources::WalkResult none =
        sources::walkFolder("/e/", empty, no.callback(), {{"*.xlsx"}, {}});
    EXPECT_EQ(none.message,
              "指定路径不存在扩展名为“.xls”、“.xlsx”、“.xlsm”或“.csv”的任何文件，"
              "请重新选择目标文件夹。");
}

TEST(FolderWalk, CsvResultFoldersAreLeftOutAndCounted) {
    FakeLister lister;
    lister.addFiles("/d/", {"a.xlsx", "b.xlsx"});
    lister.addFolder("/d/", "合并 150615 093012");
    lister.addFiles("/d/合并 150615 093012/", {"失败列表.csv", "成功合并(2).csv"});
    lister.addFolder("/d/", "销售合并 150615 093012 (2)");
    lister.addFiles("/d/销售合并 150615 093012 (2)/", {"销售(300)-1.csv", "销售(300)-2.csv"});
    Question question;
    question.answer = true;
    const sources::WalkResult walk = sources::walkFolder("/d/", lister, question.callback());
    ASSERT_EQ(walk.outcome, WalkOutcome::Ok);
    EXPECT_EQ(walk.sourceList, (std::vector<std::string>{"/d/a.xlsx", "/d/b.xlsx"}));
    EXPECT_EQ(walk.resultsLeftOut, 2);
    EXPECT_EQ(question.asked, 0);  // no real sub-folder: no question

    // A folder only named like a result, holding anything else, is walked as any other.
    lister.addFiles("/d/合并 150615 093012/", {"我的.csv"});
    const sources::WalkResult mine = sources::walkFolder("/d/", lister, question.callback());
    EXPECT_EQ(mine.sourceList,
              (std::vector<std::string>{
                  "/d/a.xlsx", "/d/b.xlsx", "/d/合并 150615 093012/失败列表.csv",
                  "/d/合并 150615 093012/成功合并(2).csv", "/d/合并 150615 093012/我的.csv"}));
    EXPECT_EQ(mine.resultsLeftOut, 1);
    EXPECT_EQ(question.asked, 1);
}

// The walk must know every name the run gives a CSV result and its files.
TEST(ResultName, RecognisesEveryCsvResultTheRunGives) {
    for (const merge::SheetChoice& sheet :
         {merge::SheetChoice{}, merge::SheetChoice{merge::SheetMode::ByName, {}, "Q1 (2)"}}) {
        const std::string base =
            merge::resultBaseName("/d/", sheet, merge::LocalTime{2015, 6, 15, 9, 30, 12});
        for (int taken = 0; taken <= 3; ++taken) {
            const std::string path = merge::freeResultPath(
                base, "", [&, count = 0](const std::string&) mutable { return count++ < taken; });
            const std::string name = std::filesystem::path(path).filename().string();
            SCOPED_TRACE(name);
            EXPECT_TRUE(sources::hasResultFolderName(name));
            EXPECT_FALSE(sources::hasResultName(name));
        }
        for (int sheets : {1, 2, 12}) {
            std::vector<DirectoryEntry> entries{{"失败列表.csv", EntryKind::File}};
            for (int position = 1; position <= sheets; ++position)
                entries.push_back(
                    {merge::dataSheetName(sheet.name.empty() ? "成功合并" : sheet.name, 40,
                                          position, sheets) +
                         ".csv",
                     EntryKind::File});
            EXPECT_TRUE(sources::looksLikeCsvResult(entries));
        }
    }
    const std::vector<std::vector<DirectoryEntry>> others{
        {},
        {{"成功合并(3).csv", EntryKind::Directory}},
        {{"成功合并(3).xlsx", EntryKind::File}},
        {{"成功合并.csv", EntryKind::File}},
        {{"成功合并(3)-.csv", EntryKind::File}},
        {{"成功合并(x).csv", EntryKind::File}},
        {{"成功合并(3).csv", EntryKind::File}, {"readme.txt", EntryKind::File}},
    };
    for (const auto& entries : others) EXPECT_FALSE(sources::looksLikeCsvResult(entries));
}

}  // namespace
