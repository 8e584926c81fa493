// The folder scan behind the pick-folder button and `sheetmerge merge FOLDER`: the tests of a
// chosen folder, then a breadth-first walk that collects the sources. No dialogs here: the
// sub-folder question is a callback, and messages come back as texts for the caller to show.
//   WalkResult walk = walkFolder(chosen.folderPath, lister, [] { return askYesNo(...); });
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sources/name_filter.h"

namespace sources {

constexpr int MaxSubfolders = 1000;
constexpr int MaxSourceFiles = 10000;

// What an entry of a folder is. Symbolic links to directories, devices, pipes, sockets and
// entries whose kind cannot be read are Other: they are neither walked nor taken as sources.
// A symbolic link to a regular file counts as a File.
enum class EntryKind { File, Directory, Other };

struct DirectoryEntry {
    std::string name;
    EntryKind kind = EntryKind::Other;
};

// Lists one folder at a time, so that only one listing is open at any moment.
class DirectoryLister {
public:
    virtual ~DirectoryLister() = default;
    // All entries of `folder` (a path ending in "/") except "." and "..", in any order;
    // nullopt when the folder cannot be listed at all.
    virtual std::optional<std::vector<DirectoryEntry>> list(const std::string& folder) = 0;
    // Whether the file at `path` is a result this program wrote. Asked only for files named
    // like a result (see hasResultName); a lister that cannot look inside files says no.
    virtual bool isOwnResult(const std::string& path) {
        (void)path;
        return false;
    }
    // Whether the folder at `path` (ending in "/") is a CSV result this program wrote. Asked only
    // for folders named like a result (see hasResultName); by default its listing decides (see
    // looksLikeCsvResult).
    virtual bool isOwnResultFolder(const std::string& path);
};

// The real file system, through std::filesystem; never throws.
class FileSystemLister : public DirectoryLister {
public:
    std::optional<std::vector<DirectoryEntry>> list(const std::string& folder) override;
    // The package's extended properties name this program (see spreadsheet::isSheetmergeResult).
    bool isOwnResult(const std::string& path) override;
};

// One mounted file system: where it is mounted, its type ("ext4", "nfs4", "fuse.sshfs") and
// its source ("/dev/sda1", "server:/export").
struct MountPoint {
    std::string path;
    std::string type;
    std::string source;
};

// The mount table; tests give a fixed one.
class MountTable {
public:
    virtual ~MountTable() = default;
    virtual std::vector<MountPoint> mounts() = 0;
};

// Reads /proc/self/mountinfo; an unreadable table gives no mounts.
class ProcMountTable : public MountTable {
public:
    std::vector<MountPoint> mounts() override;
};

// Parses the text of /proc/self/mountinfo; malformed lines are skipped, octal escapes in
// paths (\040 for a blank) are decoded.
std::vector<MountPoint> parseMountInfo(std::string_view text);

// True for file systems that are not local disks: network and remote file systems (nfs,
// cifs/smb, sshfs, gvfs and other FUSE network mounts) and optical media (iso9660, udf).
bool isRemoteOrOptical(const MountPoint& mount);

enum class FolderCheck { Ok, InvalidPath, WholeDrive };

// The outcome of the tests on a chosen folder. Ok: `folderPath` is the FolderPath to walk,
// ending in exactly one "/". Otherwise `folderPath` is empty and `message` is the text to show
// (title "提示") before the folder is asked for again.
struct ChosenFolder {
    FolderCheck check = FolderCheck::InvalidPath;
    std::string folderPath;
    std::string message;
};

// Tests a chosen folder. `displayName` is what the folder chooser calls it; `path` its path as
// chosen; `resolvedPath` the same folder with symbolic links resolved (equal to `path` when
// unknown), on which the mount tests are made. Invalid: a display name matching
// "*DVD*驱动器*", a path that is not absolute or starts with "//", or a folder on a remote
// or optical file system. Whole drive: "/" or the root of any mounted file system.
ChosenFolder checkChosenFolder(std::string_view displayName, std::string_view path,
                               std::string_view resolvedPath,
                               const std::vector<MountPoint>& mounts);

// The same against the real file system and /proc/self/mountinfo.
ChosenFolder checkChosenFolderOnDisk(std::string_view displayName, std::string_view path);

// `path` with its trailing "/" characters reduced to exactly one ("/data/x//" -> "/data/x/").
std::string withOneTrailingSlash(std::string_view path);

// True when the name ends in ".xls", ".xlsx", ".xlsm" or ".csv", written in lower case.
bool isSourceName(std::string_view name);

// True for the lock files office programs keep beside an open workbook ("~$报表.xlsx").
bool isLockFileName(std::string_view name);

// True when the name has the form the merge run gives its results:
// "[sheet name]合并 yymmdd hhmmss.xlsx", or with " (2)", " (3)" ... before the extension.
bool hasResultName(std::string_view name);

// The same for the folder of a CSV result: the result's name without extension.
bool hasResultFolderName(std::string_view name);

// True when a folder's entries are those of a CSV result: at least one, and all of them files
// named as the merge run names its sheets, with ".csv": "成功合并(12).csv", "销售(300)-2.csv",
// "失败列表.csv".
bool looksLikeCsvResult(const std::vector<DirectoryEntry>& entries);

// The order in which a folder's names are taken: ASCII letters compared without case, then
// the names' bytes, so that "a.xls" < "B.xls" < "b.xls".
bool namesInWalkOrder(const std::string& left, const std::string& right);

enum class WalkOutcome {
    Ok,           // two or more sources: merge them
    NoFiles,      // no source found: ask for another folder
    OneFile,      // a single source: nothing to merge, ask for another folder
    FolderLimit,  // more than 1000 sub-folders: the program ends
    FileLimit,    // more than 10000 sources: the program ends
};

// The sources of a walk. Ok: `sourceList` holds the full paths, the chosen folder's files
// first, then those of each queued sub-folder, level by level. Otherwise `sourceList` is empty
// and `message` is the text to show (title "提示").
struct WalkResult {
    WalkOutcome outcome = WalkOutcome::NoFiles;
    std::vector<std::string> sourceList;
    std::string message;
    // Results of earlier merges met on the way and left out, whatever the outcome.
    int resultsLeftOut = 0;
    // Files with a source's extension that the name filter left out.
    int filteredOut = 0;
};

// Walks `folderPath` (ending in "/") breadth first. Names starting with "." are hidden and
// skipped, and so are office lock files; a file named like a result that the lister says this
// program wrote is left out and counted, never taken as a source (a merge of the same folder
// would otherwise take in its last result, every row twice), and so is the folder of a CSV
// result (never walked, never counted as a sub-folder). A folder that cannot be listed
// contributes nothing. `includeSubfolders` is called
// once, at the first directory met, and its answer holds for the whole walk (Yes: sub-folders
// at every depth; No: none); it is not called when there is no sub-folder.
// `filter` picks among the files with a source's extension by name; only the files it takes
// count toward the 10,000-file limit, and when it leaves every file or all but one out, the
// message says the filter did. The order and the sub-folder limit do not change with it.
WalkResult walkFolder(const std::string& folderPath, DirectoryLister& lister,
                      const std::function<bool()>& includeSubfolders,
                      const NameFilter& filter = {});

// True for the outcomes after which the program ends instead of asking for another folder.
bool endsProgram(WalkOutcome outcome);

}  // namespace sources
