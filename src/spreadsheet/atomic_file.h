// Saving a file so that a crash or a full disk never leaves a half-written one under the
// target's name: the content goes to a temporary file in the same folder, is made durable and
// is then renamed into place, without replacing an existing file unless asked to.
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

}  // namespace spreadsheet
