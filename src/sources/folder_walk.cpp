// The folder scan: tests of the chosen folder and the breadth-first walk.
#include "sources/folder_walk.h"

#include <algorithm>
#include <array>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "sources/texts.h"
#include "spreadsheet/app_properties.h"

namespace sources {

namespace {

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool startsWith(std::string_view text, std::string_view head) {
    return text.size() >= head.size() && text.substr(0, head.size()) == head;
}

// "*DVD*驱动器*": "DVD" somewhere, and "驱动器" somewhere after it (case-sensitive).
bool matchesOpticalDriveName(std::string_view name) {
    const std::size_t dvd = name.find("DVD");
    return dvd != std::string_view::npos && name.find("驱动器", dvd + 3) != std::string_view::npos;
}

// Decodes the octal escapes of mountinfo fields: \040 blank, \011 tab, \012 newline, \134 "\".
std::string decodeMountField(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view digits = field.substr(i + 1, 3);
            if (std::all_of(digits.begin(), digits.end(),
                            [](char c) { return c >= '0' && c <= '7'; })) {
                out += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 +
                                         (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

// `path` lies in the tree mounted at `mountPath` (both without a trailing "/", except "/").
bool liesUnder(std::string_view path, std::string_view mountPath) {
    if (mountPath == "/") return true;
    if (!startsWith(path, mountPath)) return false;
    return path.size() == mountPath.size() || path[mountPath.size()] == '/';
}

// The path without trailing "/" characters, "/" itself kept.
std::string_view withoutTrailingSlash(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return path;
}

ChosenFolder refusedFolder(FolderCheck check, const char* message) {
    ChosenFolder chosen;
    chosen.check = check;
    chosen.message = message;
    return chosen;
}

WalkResult stoppedWalk(WalkOutcome outcome, const char* message, int resultsLeftOut,
                       int filteredOut) {
    WalkResult result;
    result.outcome = outcome;
    result.message = message;
    result.resultsLeftOut = resultsLeftOut;
    result.filteredOut = filteredOut;
    return result;
}

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The words before a result's time stamp, as the merge run writes them.
constexpr std::string_view ResultWord = "合并 ";
// "yymmdd hhmmss".
constexpr std::size_t StampLength = 13;

}  // namespace

bool DirectoryLister::isOwnResultFolder(const std::string& path) {
    const std::optional<std::vector<DirectoryEntry>> entries = list(path);
    return entries && looksLikeCsvResult(*entries);
}

bool FileSystemLister::isOwnResult(const std::string& path) {
    return spreadsheet::isSheetmergeResult(std::filesystem::path(path));
}

std::optional<std::vector<DirectoryEntry>> FileSystemLister::list(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator it(fs::path(folder), fs::directory_options::none, error);
    if (error) return std::nullopt;
    std::vector<DirectoryEntry> entries;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) break;
        DirectoryEntry entry;
        entry.name = it->path().filename().string();
        // The link itself decides first: a link to a directory is never walked, so that a
        // loop of links cannot make the walk run forever and no folder is counted twice.
        std::error_code statusError;
        const fs::file_status own = it->symlink_status(statusError);
        if (statusError) {
            entry.kind = EntryKind::Other;
        } else if (fs::is_directory(own)) {
            entry.kind = EntryKind::Directory;
        } else if (fs::is_regular_file(own)) {
            entry.kind = EntryKind::File;
        } else if (fs::is_symlink(own)) {
            const fs::file_status target = it->status(statusError);
            entry.kind =
                !statusError && fs::is_regular_file(target) ? EntryKind::File : EntryKind::Other;
        } else {
            // Pipes, sockets and devices: opening a pipe named like a workbook would hang the run.
            entry.kind = EntryKind::Other;
        }
        entries.push_back(std::move(entry));
    }
    // A listing broken off half-way keeps the names read so far.
    return entries;
}

std::vector<MountPoint> ProcMountTable::mounts() {
    std::ifstream in("/proc/self/mountinfo", std::ios::binary);
    if (!in) return {};
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return parseMountInfo(text);
}

std::vector<MountPoint> parseMountInfo(std::string_view text) {
    // A line: id parent major:minor root mount-point options [optional fields...] - type source
    // super-options.
    std::vector<MountPoint> mounts;
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) lineEnd = text.size();
        const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;

        std::vector<std::string_view> fields;
        std::size_t pos = 0;
        while (pos < line.size()) {
            while (pos < line.size() && line[pos] == ' ') ++pos;
            if (pos >= line.size()) break;
            const std::size_t end = std::min(line.find(' ', pos), line.size());
            fields.push_back(line.substr(pos, end - pos));
            pos = end;
        }
        const auto separator = std::find(fields.begin(), fields.end(), std::string_view("-"));
        if (fields.size() < 6 || separator == fields.end() || separator - fields.begin() < 6 ||
            fields.end() - separator < 3)
            continue;
        MountPoint mount;
        mount.path = decodeMountField(fields[4]);
        mount.type = decodeMountField(*(separator + 1));
        mount.source = decodeMountField(*(separator + 2));
        if (mount.path.empty() || mount.path.front() != '/') continue;
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

bool isRemoteOrOptical(const MountPoint& mount) {
    static constexpr std::array<std::string_view, 17> RemoteTypes = {
        "nfs",  "nfs4",  "cifs",      "smb",    "smb3",  "smbfs", "ncpfs",   "afs", "ceph",
        "coda", "davfs", "glusterfs", "lustre", "ocfs2", "gfs2",  "iso9660", "udf"};
    static constexpr std::array<std::string_view, 12> RemoteFuse = {
        "fuse.sshfs",    "sshfs",          "fuse.gvfsd-fuse", "fuse.gvfs-fuse-daemon",
        "fuse.rclone",   "fuse.s3fs",      "fuse.davfs2",     "fuse.curlftpfs",
        "fuse.smbnetfs", "fuse.glusterfs", "fuse.cephfs",     "fuse.gcsfuse"};
    if (std::find(RemoteTypes.begin(), RemoteTypes.end(), mount.type) != RemoteTypes.end())
        return true;
    if (std::find(RemoteFuse.begin(), RemoteFuse.end(), mount.type) != RemoteFuse.end())
        return true;
    // Other FUSE file systems whose source names a host ("user@host:/path", "remote:").
    return startsWith(mount.type, "fuse.") && mount.source.find(':') != std::string::npos;
}

std::string withOneTrailingSlash(std::string_view path) {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    return std::string(path) + "/";
}

ChosenFolder checkChosenFolder(std::string_view displayName, std::string_view path,
                               std::string_view resolvedPath,
                               const std::vector<MountPoint>& mounts) {
    if (resolvedPath.empty()) resolvedPath = path;
    if (matchesOpticalDriveName(displayName) || !startsWith(path, "/") || startsWith(path, "//") ||
        !startsWith(resolvedPath, "/"))
        return refusedFolder(FolderCheck::InvalidPath, texts::InvalidPath);

    // The file system holding the folder is the one mounted at the longest enclosing path.
    const std::string_view resolved = withoutTrailingSlash(resolvedPath);
    const MountPoint* holder = nullptr;
    for (const MountPoint& mount : mounts) {
        const std::string_view mountPath = withoutTrailingSlash(mount.path);
        if (liesUnder(resolved, mountPath) &&
            (!holder || mountPath.size() >= withoutTrailingSlash(holder->path).size()))
            holder = &mount;
    }
    if (holder && isRemoteOrOptical(*holder))
        return refusedFolder(FolderCheck::InvalidPath, texts::InvalidPath);

    const bool root = withoutTrailingSlash(path) == "/" || resolved == "/" ||
                      std::any_of(mounts.begin(), mounts.end(), [&](const MountPoint& mount) {
                          return withoutTrailingSlash(mount.path) == resolved;
                      });
    if (root) return refusedFolder(FolderCheck::WholeDrive, texts::WholeDrive);

    ChosenFolder chosen;
    chosen.check = FolderCheck::Ok;
    chosen.folderPath = withOneTrailingSlash(path);
    return chosen;
}

ChosenFolder checkChosenFolderOnDisk(std::string_view displayName, std::string_view path) {
    std::string resolved(path);
    if (startsWith(path, "/")) {
        std::error_code error;
        const std::filesystem::path canonical =
            std::filesystem::canonical(std::string(path), error);
        if (!error) resolved = canonical.string();
    }
    ProcMountTable table;
    return checkChosenFolder(displayName, path, resolved, table.mounts());
}

bool isSourceName(std::string_view name) {
    return endsWith(name, ".xls") || endsWith(name, ".xlsx") || endsWith(name, ".xlsm") ||
           endsWith(name, ".csv");
}

bool isLockFileName(std::string_view name) {
    return startsWith(name, "~$");
}

namespace {

// "[sheet name]合并 yymmdd hhmmss", or with " (2)", " (3)" ... at the end.
bool hasResultStem(std::string_view name) {
    // " (n)": the number a taken name gets.
    if (endsWith(name, ")")) {
        const std::size_t open = name.rfind(" (");
        if (open == std::string_view::npos ||
            !allDigits(name.substr(open + 2, name.size() - open - 3)))
            return false;
        name = name.substr(0, open);
    }
    if (name.size() < ResultWord.size() + StampLength) return false;
    const std::string_view stamp = name.substr(name.size() - StampLength);
    if (!allDigits(stamp.substr(0, 6)) || stamp[6] != ' ' || !allDigits(stamp.substr(7)))
        return false;
    name.remove_suffix(StampLength);
    // Whatever comes before the word is the sheet name of a merge by sheet name.
    return endsWith(name, ResultWord);
}

// "名称(12).csv" or "名称(12)-3.csv": a data sheet's name, or the failure list's file.
bool isResultSheetFileName(std::string_view name) {
    if (name == texts::CsvFailureListName) return true;
    if (!endsWith(name, ".csv")) return false;
    name.remove_suffix(4);
    const std::size_t dash = name.rfind(")-");
    if (dash != std::string_view::npos && allDigits(name.substr(dash + 2)))
        name = name.substr(0, dash + 1);
    if (!endsWith(name, ")")) return false;
    const std::size_t open = name.rfind('(');
    return open != std::string_view::npos &&
           allDigits(name.substr(open + 1, name.size() - open - 2));
}

}  // namespace

bool hasResultName(std::string_view name) {
    if (!endsWith(name, ".xlsx")) return false;
    name.remove_suffix(5);
    return hasResultStem(name);
}

bool hasResultFolderName(std::string_view name) {
    return hasResultStem(name);
}

bool looksLikeCsvResult(const std::vector<DirectoryEntry>& entries) {
    return !entries.empty() &&
           std::all_of(entries.begin(), entries.end(), [](const DirectoryEntry& entry) {
               return entry.kind == EntryKind::File && isResultSheetFileName(entry.name);
           });
}

bool namesInWalkOrder(const std::string& left, const std::string& right) {
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        const char a = asciiLower(left[i]);
        const char b = asciiLower(right[i]);
        if (a != b) return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
    }
    if (left.size() != right.size()) return left.size() < right.size();
    // Equal without case: upper case first, as plain bytes order them.
    return std::lexicographical_compare(
        left.begin(), left.end(), right.begin(), right.end(), [](char a, char b) {
            return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
        });
}

WalkResult walkFolder(const std::string& folderPath, DirectoryLister& lister,
                      const std::function<bool()>& includeSubfolders, const NameFilter& filter) {
    // Every walk starts from nothing: a second scan after a refused folder begins at entry 1.
    std::deque<std::string> queue{folderPath};
    int foldersQueued = 1;
    bool asked = false;
    bool withSubfolders = false;
    std::vector<std::string> sources;
    int resultsLeftOut = 0;
    int filteredOut = 0;

    while (!queue.empty()) {
        const std::string folder = std::move(queue.front());
        queue.pop_front();
        std::optional<std::vector<DirectoryEntry>> entries = lister.list(folder);
        if (!entries) continue;  // A folder that cannot be listed contributes no names.
        std::erase_if(*entries, [](const DirectoryEntry& entry) {
            return entry.name.empty() || entry.name.front() == '.' ||
                   (entry.kind == EntryKind::File && isLockFileName(entry.name));
        });
        std::sort(entries->begin(), entries->end(),
                  [](const DirectoryEntry& a, const DirectoryEntry& b) {
                      return namesInWalkOrder(a.name, b.name);
                  });
        for (const DirectoryEntry& entry : *entries) {
            if (entry.kind == EntryKind::Directory && hasResultFolderName(entry.name) &&
                lister.isOwnResultFolder(folder + entry.name + "/")) {
                ++resultsLeftOut;
                continue;
            }
            if (entry.kind == EntryKind::Directory) {
                if (!asked) {
                    asked = true;
                    withSubfolders = includeSubfolders && includeSubfolders();
                }
                if (!withSubfolders) continue;
                if (++foldersQueued > MaxSubfolders + 1)
                    return stoppedWalk(WalkOutcome::FolderLimit, texts::TooManyFolders,
                                       resultsLeftOut, filteredOut);
                queue.push_back(folder + entry.name + "/");
            } else if (entry.kind == EntryKind::File && isSourceName(entry.name)) {
                if (!filter.takes(entry.name)) {
                    ++filteredOut;
                    continue;
                }
                std::string path = folder + entry.name;
                if (hasResultName(entry.name) && lister.isOwnResult(path)) {
                    ++resultsLeftOut;
                    continue;
                }
                if (static_cast<int>(sources.size()) + 1 > MaxSourceFiles)
                    return stoppedWalk(WalkOutcome::FileLimit, texts::TooManyFiles, resultsLeftOut,
                                       filteredOut);
                sources.push_back(std::move(path));
            }
        }
    }

    // When the filter made the difference, the message says so rather than that the folder
    // holds no such files.
    const bool filtered = filteredOut > 0;
    if (sources.empty())
        return stoppedWalk(WalkOutcome::NoFiles,
                           filtered ? texts::NoFilteredFiles : texts::NoSourceFiles, resultsLeftOut,
                           filteredOut);
    if (sources.size() == 1)
        return stoppedWalk(WalkOutcome::OneFile,
                           filtered ? texts::OneFilteredFile : texts::OneSourceFile, resultsLeftOut,
                           filteredOut);
    WalkResult result;
    result.outcome = WalkOutcome::Ok;
    result.sourceList = std::move(sources);
    result.resultsLeftOut = resultsLeftOut;
    result.filteredOut = filteredOut;
    return result;
}

bool endsProgram(WalkOutcome outcome) {
    return outcome == WalkOutcome::FolderLimit || outcome == WalkOutcome::FileLimit;
}

}  // namespace sources
