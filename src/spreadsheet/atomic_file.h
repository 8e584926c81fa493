// Saving a file so that a crash or a full disk never leaves a half-written one under the
// target's name: the content goes to a temporary file in the same folder, is made durable and
// is then renamed into place, without replacing an existing file unless asked to. A folder of
// files is saved the same way: built under a temporary name beside its target, then renamed.
//   writeFileAtomically(path, ExistingFile::Refuse, [&](OutputSink& sink) { return fill(sink); });
#pragma once

#include <filesystem>
#include <functional>

#include "spreadsheet/error.h"

namespace spreadsheet {

class OutputSink;

enum class ExistingFile { Refuse, Replace };

// Writes `target` with what `fill` writes to the sink it is given. With ExistingFile::Refuse an
// existing `target` is never replaced: TargetExists, also when another process creates the
// name meanwhile. Fails with WriteFailed (the path and the system's reason) when the file
// system refuses, or with what `fill` returns; the temporary file is removed on every failure.
Result<void> writeFileAtomically(const std::filesystem::path& target, ExistingFile existing,
                                 const std::function<Result<void>(OutputSink&)>& fill);

// Creates `target` as a new, empty folder: it takes the name, and never replaces anything
// (TargetExists when the name is taken, also by a dangling link). WriteFailed when the file
// system refuses.
Result<void> createFolderExclusively(const std::filesystem::path& target);

// Makes a new folder under a temporary name beside `target`, has `fill` put files into it
// (`fill` is given the folder's path), makes it durable and renames it onto `target`. `target`
// may be absent or an empty folder (as createFolderExclusively leaves it); a folder holding
// anything, a file or a link there is never replaced: TargetExists. On every failure the
// temporary folder and what `fill` put into it are removed and `target` stays as it was.
Result<void> writeFolderAtomically(
    const std::filesystem::path& target,
    const std::function<Result<void>(const std::filesystem::path& folder)>& fill);

// Opens an unnamed scratch file for reading and writing in `directory` ("" = the working
// folder): nothing is left behind, whatever happens to the process. Where the file system has
// no unnamed files, a hidden file named from `prefix` is made and unlinked at once. Returns
// the file descriptor, or WriteFailed with the folder and the system's reason.
Result<int> openScratchFile(const std::filesystem::path& directory, const char* prefix);

// Writes all `size` bytes of `data` to the scratch file `fileDescriptor` of `directory`, going on
// after interrupted writes. WriteFailed with the folder and the system's reason.
Result<void> writeScratch(int fileDescriptor, const void* data, std::size_t size,
                          const std::filesystem::path& directory);

}  // namespace spreadsheet
