// Saved merge jobs: one table of items, each with the way it is written and read.
#include "merge/job_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <system_error>
#include <type_traits>

#include "merge/job_texts.h"
#include "merge/json.h"
#include "spreadsheet/atomic_file.h"
#include "spreadsheet/zip_writer.h"

namespace merge {

namespace {

using json::Kind;
using json::Value;

// The item holding the format version; its presence makes a file a job file.
constexpr std::string_view VersionItem = "sheetmerge-job";

// A fault of an item's value, in words, without the item's name; nullopt when the value is good.
using Fault = std::optional<std::string>;

Fault fault(const char* text) {
    return std::string(text);
}

// Values by type. A text "" is "not given" wherever the options use texts, and is written as
// null; both read back as "". Every type a plain option may have is here, also those that no
// option has yet.
Value encode(bool value) {
    return Value::ofBoolean(value);
}
Value encode(const std::string& value) {
    return value.empty() ? Value::null() : Value::ofString(value);
}
Value encode(const std::vector<std::string>& values) {
    std::vector<Value> items;
    for (const std::string& value : values) items.push_back(Value::ofString(value));
    return Value::ofArray(std::move(items));
}
[[maybe_unused]] Value encode(const std::optional<std::string>& value) {
    return value ? Value::ofString(*value) : Value::null();
}
[[maybe_unused]] Value encode(int value) {
    return Value::ofInteger(value);
}
[[maybe_unused]] Value encode(const std::optional<int>& value) {
    return value ? Value::ofInteger(*value) : Value::null();
}

Fault decode(const Value& value, bool& target) {
    if (value.kind != Kind::Boolean) return fault(job_texts::MustBeBoolean);
    target = value.boolean;
    return std::nullopt;
}
Fault decode(const Value& value, std::string& target) {
    if (value.kind == Kind::Null) {
        target.clear();
        return std::nullopt;
    }
    if (value.kind != Kind::String) return fault(job_texts::MustBeText);
    target = value.text;
    return std::nullopt;
}
[[maybe_unused]] Fault decode(const Value& value, std::optional<std::string>& target) {
    if (value.kind == Kind::Null) {
        target.reset();
        return std::nullopt;
    }
    if (value.kind != Kind::String) return fault(job_texts::MustBeText);
    target = value.text;
    return std::nullopt;
}
Fault decode(const Value& value, std::vector<std::string>& target) {
    if (value.kind != Kind::Array) return fault(job_texts::MustBeTextList);
    std::vector<std::string> texts;
    for (const Value& item : value.items) {
        if (item.kind != Kind::String || item.text.empty()) return fault(job_texts::MustBeTextList);
        texts.push_back(item.text);
    }
    target = std::move(texts);
    return std::nullopt;
}

// A whole number from `low` to `high`, or null (nullopt).
Fault decodeNumber(const Value& value, std::optional<int>& target, int low, int high) {
    const std::string range = std::string(job_texts::RangeHead) + std::to_string(low) +
                              job_texts::RangeMiddle + std::to_string(high) + job_texts::RangeTail;
    if (value.kind == Kind::Null) {
        target.reset();
        return std::nullopt;
    }
    if (value.kind != Kind::Number || !value.integer || *value.integer < low ||
        *value.integer > high)
        return range;
    target = static_cast<int>(*value.integer);
    return std::nullopt;
}
[[maybe_unused]] Fault decode(const Value& value, int& target) {
    std::optional<int> number;
    if (Fault problem = decodeNumber(value, number, std::numeric_limits<int>::min(),
                                     std::numeric_limits<int>::max()))
        return problem;
    if (!number) return fault(job_texts::MustBeWholeNumber);
    target = *number;
    return std::nullopt;
}
[[maybe_unused]] Fault decode(const Value& value, std::optional<int>& target) {
    return decodeNumber(value, target, std::numeric_limits<int>::min(),
                        std::numeric_limits<int>::max());
}

// One item of a job file: its name (the command line's option name without "--"), how its
// value is taken from a job, and how it is read into one. Paths in a value are taken from
// `baseFolder` when relative.
using ReadItem =
    std::function<Fault(const Value&, MergeJob&, const std::filesystem::path& baseFolder)>;
struct Item {
    std::string_view name;
    std::function<Value(const MergeJob&)> write;
    ReadItem read;
};

// The part of a job a field belongs to: the job itself, its merge settings, or their sheet
// choice, label choice or row cleaning.
template <typename Owner>
Owner& ownerIn(MergeJob& job) {
    if constexpr (std::is_same_v<Owner, MergeSettings>)
        return job.settings;
    else if constexpr (std::is_same_v<Owner, SheetChoice>)
        return job.settings.sheet;
    else if constexpr (std::is_same_v<Owner, LabelChoice>)
        return job.settings.label;
    else if constexpr (std::is_same_v<Owner, RowCleaning>)
        return job.settings.cleaning;
    else
        return job;
}
template <typename Owner>
const Owner& ownerIn(const MergeJob& job) {
    return ownerIn<Owner>(const_cast<MergeJob&>(job));
}

// An item that is one field of the job or of its settings: a bool, an int, a text, an optional
// text or int, or a list of texts.
template <typename Owner, typename Field>
Item field(std::string_view name, Field Owner::*member) {
    return Item{name, [member](const MergeJob& job) { return encode(ownerIn<Owner>(job).*member); },
                [member](const Value& value, MergeJob& job, const std::filesystem::path&) {
                    return decode(value, ownerIn<Owner>(job).*member);
                }};
}

// A path as given, a relative one taken from the job file's folder.
std::string fromBase(const std::string& path, const std::filesystem::path& baseFolder) {
    const std::filesystem::path given(path);
    if (given.is_absolute()) return given.lexically_normal().string();
    return (baseFolder / given).lexically_normal().string();
}

// The sheet choice: "sheet-index" (a position) or "sheet-name", or neither for the active sheet.
// Positions past 32767 name no sheet of any workbook; they are kept as 32768.
constexpr int PositionNamingNoSheet = 32768;

Item sheetIndexItem() {
    return Item{
        "sheet-index",
        [](const MergeJob& job) {
            const SheetChoice& sheet = job.settings.sheet;
            if (sheet.mode != SheetMode::ByPosition) return Value::null();
            return Value::ofInteger(sheet.position.value_or(PositionNamingNoSheet));
        },
        [](const Value& value, MergeJob& job, const std::filesystem::path&) -> Fault {
            std::optional<int> position;
            if (Fault problem = decodeNumber(value, position, 1, std::numeric_limits<int>::max()))
                return problem;
            if (!position) return std::nullopt;
            job.settings.sheet.mode = SheetMode::ByPosition;
            job.settings.sheet.position =
                *position < PositionNamingNoSheet ? position : std::nullopt;
            return std::nullopt;
        }};
}

Item sheetNameItem() {
    return Item{"sheet-name",
                [](const MergeJob& job) {
                    const SheetChoice& sheet = job.settings.sheet;
                    return sheet.mode == SheetMode::ByName ? Value::ofString(sheet.name)
                                                           : Value::null();
                },
                [](const Value& value, MergeJob& job, const std::filesystem::path&) -> Fault {
                    if (value.kind == Kind::Null) return std::nullopt;
                    if (value.kind != Kind::String || value.text.empty())
                        return fault(job_texts::MustBeNonEmptyText);
                    job.settings.sheet.mode = SheetMode::ByName;
                    job.settings.sheet.name = value.text;
                    return std::nullopt;
                }};
}

// The range: "start-row" or "cells" ("B2:G5", or "B2" to let the run find the corner), or
// neither for the largest data rectangle.
Item startRowItem() {
    return Item{"start-row",
                [](const MergeJob& job) {
                    const RangeChoice& range = job.settings.range;
                    return range.mode == RangeMode::FromRow ? Value::ofInteger(range.startRow)
                                                            : Value::null();
                },
                [](const Value& value, MergeJob& job, const std::filesystem::path&) -> Fault {
                    std::optional<int> row;
                    if (Fault problem = decodeNumber(value, row, 1, spreadsheet::XlsxMaxRows))
                        return problem;
                    if (!row) return std::nullopt;
                    job.settings.range.mode = RangeMode::FromRow;
                    job.settings.range.startRow = *row;
                    return std::nullopt;
                }};
}

Item cellsItem() {
    return Item{"cells",
                [](const MergeJob& job) {
                    const RangeChoice& range = job.settings.range;
                    if (range.mode != RangeMode::Cells) return Value::null();
                    return Value::ofString(range.topLeft +
                                           (range.bottomRight ? ":" + *range.bottomRight : ""));
                },
                [](const Value& value, MergeJob& job, const std::filesystem::path&) -> Fault {
                    if (value.kind == Kind::Null) return std::nullopt;
                    if (value.kind != Kind::String || value.text.empty())
                        return fault(job_texts::MustBeNonEmptyText);
                    RangeChoice& range = job.settings.range;
                    range.mode = RangeMode::Cells;
                    const std::size_t colon = value.text.find(':');
                    range.topLeft = value.text.substr(0, colon);
                    range.bottomRight.reset();
                    if (colon != std::string::npos && colon + 1 < value.text.size())
                        range.bottomRight = value.text.substr(colon + 1);
                    if (range.topLeft.empty()) return fault(job_texts::MustBeNonEmptyText);
                    return std::nullopt;
                }};
}

Item allSheetsItem() {
    return Item{"all-sheets",
                [](const MergeJob& job) {
                    return Value::ofBoolean(job.settings.sheet.mode == SheetMode::All);
                },
                [](const Value& value, MergeJob& job, const std::filesystem::path&) -> Fault {
                    bool all = false;
                    if (Fault problem = decode(value, all)) return problem;
                    if (all) job.settings.sheet.mode = SheetMode::All;
                    return std::nullopt;
                }};
}
Item sheetPatternItem() {
    return Item{"sheet-pattern",
                [](const MergeJob& job) {
                    const SheetChoice& sheet = job.settings.sheet;
                    return sheet.mode == SheetMode::ByPattern ? Value::ofString(sheet.pattern)
                                                              : Value::null();
                },
                [](const Value& value, MergeJob& job, const std::filesystem::path&) -> Fault {
                    if (value.kind == Kind::Null) return std::nullopt;
                    if (value.kind != Kind::String || value.text.empty())
                        return fault(job_texts::MustBeNonEmptyText);
                    job.settings.sheet.mode = SheetMode::ByPattern;
                    job.settings.sheet.pattern = value.text;
                    return std::nullopt;
                }};
}
// The label: "mark-path", "mark-cells" (a list of addresses) or "mark-name", or none of them.
Item markPathItem() {
    return Item{"mark-path",
                [](const MergeJob& job) {
                    return Value::ofBoolean(job.settings.label.mode == LabelMode::FilePath);
                },
                [](const Value& value, MergeJob& job, const std::filesystem::path&) -> Fault {
                    bool marked = false;
                    if (Fault problem = decode(value, marked)) return problem;
                    if (marked) job.settings.label.mode = LabelMode::FilePath;
                    return std::nullopt;
                }};
}

Item markNameItem() {
    return Item{"mark-name",
                [](const MergeJob& job) {
                    return Value::ofBoolean(job.settings.label.mode == LabelMode::FileName);
                },
                [](const Value& value, MergeJob& job, const std::filesystem::path&) -> Fault {
                    bool marked = false;
                    if (Fault problem = decode(value, marked)) return problem;
                    if (marked) job.settings.label.mode = LabelMode::FileName;
                    return std::nullopt;
                }};
}

Item markCellsItem() {
    return Item{"mark-cells",
                [](const MergeJob& job) {
                    const LabelChoice& label = job.settings.label;
                    return label.mode == LabelMode::CellList ? encode(label.cells) : Value::null();
                },
                [](const Value& value, MergeJob& job, const std::filesystem::path&) -> Fault {
                    if (value.kind == Kind::Null) return std::nullopt;
                    std::vector<std::string> cells;
                    if (decode(value, cells) || cells.empty())
                        return fault(job_texts::MustBeNonEmptyTextList);
                    job.settings.label.mode = LabelMode::CellList;
                    job.settings.label.cells = std::move(cells);
                    return std::nullopt;
                }};
}

Item pathsItem() {
    return Item{
        "paths", [](const MergeJob& job) { return encode(job.paths); },
        [](const Value& value, MergeJob& job, const std::filesystem::path& baseFolder) -> Fault {
            if (Fault problem = decode(value, job.paths)) return problem;
            for (std::string& path : job.paths) path = fromBase(path, baseFolder);
            return std::nullopt;
        }};
}

Item outputFolderItem() {
    return Item{
        "output-dir", [](const MergeJob& job) { return encode(job.outputFolder); },
        [](const Value& value, MergeJob& job, const std::filesystem::path& baseFolder) -> Fault {
            if (Fault problem = decode(value, job.outputFolder)) return problem;
            if (!job.outputFolder.empty())
                job.outputFolder = fromBase(job.outputFolder, baseFolder);
            return std::nullopt;
        }};
}

Item formatItem() {
    return Item{"format",
                [](const MergeJob& job) {
                    return Value::ofString(job.format == SaveFormat::Csv ? "csv" : "xlsx");
                },
                [](const Value& value, MergeJob& job, const std::filesystem::path&) -> Fault {
                    if (value.kind == Kind::String && value.text == "xlsx")
                        job.format = SaveFormat::Xlsx;
                    else if (value.kind == Kind::String && value.text == "csv")
                        job.format = SaveFormat::Csv;
                    else
                        return fault(job_texts::MustBeFormat);
                    return std::nullopt;
                }};
}

// Every item of a job file after the version, in the order they are written: the one place
// where the job file meets the options. A new option of MergeSettings that is a plain field
// (bool, int, text, list of texts, optional text or int) is one line at the end of the table:
//     field("its-option-name", &MergeSettings::itsField),
// named as its command-line option without "--". A choice spread over several options (like the
// sheet, range and label choices) needs an item per option and, when the options exclude each
// other, its names in one group of ExclusiveItems. Writing, reading and refusing files all go
// by this table; nothing else here changes.
//
// The bindings of everyFieldHasItsItem stop compiling when a field is added to the job or its
// settings, as a reminder, until the field's name is listed there too.
[[maybe_unused]] void everyFieldHasItsItem(const MergeJob& job) {
    [[maybe_unused]] const auto& [paths, recursive, include, exclude, outputFolder, format,
                                  settings] = job;
    [[maybe_unused]] const auto& [sheet, range, copyHeaderOnce, label, perSource, alignColumns,
                                  cleaning, logSheet] = job.settings;
    [[maybe_unused]] const auto& [mode, position, name, pattern, skipHidden] = job.settings.sheet;
    [[maybe_unused]] const auto& [labelMode, cells, sheetName] = job.settings.label;
    [[maybe_unused]] const auto& [skipBlankRows, dropHeaderRepeats, stopAt, skipLast, dedupe,
                                  fillMerged] = job.settings.cleaning;
}

const std::vector<Item>& items() {
    static const std::vector<Item> table{
        pathsItem(),
        field("recursive", &MergeJob::recursive),
        field("include", &MergeJob::include),
        field("exclude", &MergeJob::exclude),
        outputFolderItem(),
        formatItem(),
        sheetIndexItem(),
        sheetNameItem(),
        allSheetsItem(),
        sheetPatternItem(),
        field("skip-hidden", &SheetChoice::skipHidden),
        startRowItem(),
        cellsItem(),
        field("header", &MergeSettings::copyHeaderOnce),
        markPathItem(),
        markCellsItem(),
        field("mark-sheet", &LabelChoice::sheetName),
        field("per-source", &MergeSettings::perSource),
        markNameItem(),
        field("align-columns", &MergeSettings::alignColumns),
        field("skip-blank-rows", &RowCleaning::skipBlankRows),
        field("drop-header-repeats", &RowCleaning::dropHeaderRepeats),
        field("stop-at", &RowCleaning::stopAt),
        field("skip-last", &RowCleaning::skipLast),
        field("dedupe", &RowCleaning::dedupe),
        field("fill-merged", &RowCleaning::fillMerged),
        field("log-sheet", &MergeSettings::logSheet),
    };
    return table;
}

// Items of which at most one may be set (not null, not false), as the command line takes one
// choice per group.
const std::vector<std::vector<std::string_view>> ExclusiveItems{
    {"sheet-index", "sheet-name", "all-sheets", "sheet-pattern"},
    {"start-row", "cells"},
    {"mark-path", "mark-cells", "mark-name"},
};

bool isSet(const Value* value) {
    return value && value->kind != Kind::Null && !(value->kind == Kind::Boolean && !value->boolean);
}

std::string itemFault(std::string_view name, const std::string& problem) {
    return std::string(job_texts::ItemHead) + std::string(name) + job_texts::ItemTail + problem;
}

}  // namespace

std::string jobText(const MergeJob& job) {
    Value file = Value::object();
    file.add(std::string(VersionItem), Value::ofInteger(JobFormatVersion));
    for (const Item& item : items()) file.add(std::string(item.name), item.write(job));
    return json::write(file);
}

JobReading readJob(std::string_view text, const std::filesystem::path& baseFolder) {
    JobReading reading;
    json::Parsed parsed = json::parse(text);
    if (!parsed.value) {
        reading.error = parsed.error.message();
        return reading;
    }
    const Value& file = *parsed.value;
    if (file.kind != Kind::Object) {
        reading.error = job_texts::NotAnObject;
        return reading;
    }
    const Value* version = file.member(VersionItem);
    if (!version) {
        reading.error = job_texts::NoVersion;
        return reading;
    }
    if (version->kind != Kind::Number || !version->integer || *version->integer < 1) {
        reading.error = job_texts::BadVersion;
        return reading;
    }
    if (*version->integer > JobFormatVersion) {
        reading.error = job_texts::NewerVersionHead + version->text +
                        job_texts::NewerVersionMiddle + std::to_string(JobFormatVersion) +
                        job_texts::NewerVersionTail;
        return reading;
    }
    // Every name is checked before anything is taken: a file is used whole or not at all.
    for (const auto& [name, value] : file.members) {
        if (name == VersionItem) continue;
        bool known = false;
        for (const Item& item : items()) known = known || item.name == name;
        if (!known) {
            reading.error = job_texts::UnknownItemHead + name + job_texts::UnknownItemTail;
            return reading;
        }
    }
    for (const auto& group : ExclusiveItems) {
        // The first two set of the group are named.
        std::vector<std::string_view> set;
        for (const std::string_view name : group)
            if (isSet(file.member(name))) set.push_back(name);
        if (set.size() > 1) {
            reading.error = std::string(job_texts::ItemHead) + std::string(set[0]) +
                            job_texts::OnlyOneOf + std::string(set[1]) + job_texts::OnlyOneTail;
            return reading;
        }
    }
    MergeJob job;
    for (const Item& item : items()) {
        const Value* value = file.member(item.name);
        if (!value) continue;
        if (Fault problem = item.read(*value, job, baseFolder)) {
            reading.error = itemFault(item.name, *problem);
            return reading;
        }
    }
    if (job.settings.copyHeaderOnce && job.settings.range.mode != RangeMode::FromRow) {
        reading.error = job_texts::HeaderNeedsStartRow;
        return reading;
    }
    reading.job = std::move(job);
    return reading;
}

namespace {

// The file's text, at most `limit` bytes and one more (so that a larger file shows as such), or
// the system's reason why it cannot be read.
struct FileText {
    std::optional<std::string> text;
    std::string reason;
};

FileText readText(const std::filesystem::path& file, std::size_t limit) {
    FileText result;
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        result.reason = std::strerror(errno);
        return result;
    }
    std::string text(limit + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t read = ::read(descriptor, text.data() + got, text.size() - got);
        if (read < 0 && errno == EINTR) continue;
        if (read < 0) {
            result.reason = std::strerror(errno);  // a folder: "Is a directory"
            ::close(descriptor);
            return result;
        }
        if (read == 0) break;
        got += static_cast<std::size_t>(read);
    }
    ::close(descriptor);
    text.resize(got);
    result.text = std::move(text);
    return result;
}

}  // namespace

JobReading loadJobFile(const std::filesystem::path& file) {
    const FileText read = readText(file, json::Limits{}.maxBytes);
    if (!read.text) {
        JobReading reading;
        reading.error = job_texts::CannotRead + read.reason;
        return reading;
    }
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::absolute(file, error).parent_path();
    return readJob(*read.text, folder);
}

std::optional<std::string> saveJobFile(const std::filesystem::path& file, const MergeJob& job) {
    const std::string text = jobText(job);
    if (!json::isUtf8(text)) return std::string(job_texts::NotUtf8);
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(file, error))) {
        // Only a job file is replaced: its version item says what it is.
        const FileText existing = readText(file, json::Limits{}.maxBytes);
        const json::Parsed parsed = existing.text ? json::parse(*existing.text) : json::Parsed{};
        if (!parsed.value || parsed.value->kind != Kind::Object ||
            !parsed.value->member(VersionItem))
            return "“" + file.string() + job_texts::NotAJobFileTail;
    }
    spreadsheet::Result<void> written = spreadsheet::writeFileAtomically(
        file, spreadsheet::ExistingFile::Replace,
        [&](spreadsheet::OutputSink& sink) -> spreadsheet::Result<void> {
            spreadsheet::Result<void> written = sink.write(
                std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
            if (!written) return written;
            return sink.flush();
        });
    if (!written) return spreadsheet::errorText(written.error());
    return std::nullopt;
}

}  // namespace merge
