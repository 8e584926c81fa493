// Errors of the spreadsheet engine: one code per cause, with evidence, and Result<T>,
// the value-or-error that every fallible engine function returns.
//   Result<WorkbookData> book = openWorkbookFile(path);
//   if (!book) return book.error();
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace spreadsheet {

enum class ErrorCode {
    // Opening a file.
    FileNotFound,
    FileNotReadable,
    FileTooLarge,
    UnknownFormat,          // none of the formats the engine reads
    EncryptedWorkbook,      // password-protected, and no password given opens it
    WrongPassword,          // the passwords a user typed for the file were all wrong
    UnsupportedEncryption,  // encryption of an unknown kind, or malformed encryption fields
    BinaryWorkbook,         // .xlsb: recognised, not read
    ExtensionMismatch,      // content that the file's extension does not allow (text in .xlsx)
    // Containers.
    ZipCorrupt,
    ZipLimit,        // entry count, inflated size, ratio or overlap over a limit
    ZipUnsupported,  // compression method, multi-disk, encrypted entry
    PartMissing,     // a package part that must be there is not
    CfbCorrupt,
    // Parts and records.
    XmlMalformed,
    XmlForbidden,        // DOCTYPE or entity in OOXML
    XmlLimit,            // depth or text length over a limit
    RecordCorrupt,       // a BIFF record shorter than its fields, a bad index
    UnsupportedVersion,  // e.g. BIFF2-4 or an unknown OOXML flavour
    SheetLimit,          // cells, rows, merges or columns over a limit
    TextEncoding,        // bytes that decode in no accepted encoding
    CsvLimit,            // CSV field or line over a limit
    // References and names.
    InvalidReference,  // not an A1 reference, or outside the grid
    InvalidSheetName,
    DuplicateSheetName,
    NoSuchSheet,
    // Writing.
    WriteFailed,         // the file system refused (disk full, no permission)
    TargetExists,        // SaveAs never replaces a file the run did not create
    FormatNotAvailable,  // e.g. a fake application that cannot write .xlsx
    // Anything else an operation reports.
    OperationFailed,
};

// A failure with its cause and evidence (part name, record, offset, sizes, path).
struct Error {
    ErrorCode code = ErrorCode::OperationFailed;
    std::string detail;  // evidence, English or Chinese, shown after the cause

    Error() = default;
    Error(ErrorCode errorCode, std::string errorDetail = {})
        : code(errorCode), detail(std::move(errorDetail)) {}
};

// The cause in Chinese, as users see it, followed by the evidence when there is any.
std::string errorText(const Error& error);

// Value or error. Converts from a T or an Error; test with `if (!result)`.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(Error error) : m_value(std::move(error)) {}

    explicit operator bool() const { return std::holds_alternative<T>(m_value); }
    bool hasValue() const { return std::holds_alternative<T>(m_value); }

    T& value() & {
        assert(hasValue());
        return std::get<T>(m_value);
    }
    const T& value() const& {
        assert(hasValue());
        return std::get<T>(m_value);
    }
    T&& value() && {
        assert(hasValue());
        return std::get<T>(std::move(m_value));
    }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const Error& error() const {
        assert(!hasValue());
        return std::get<Error>(m_value);
    }

private:
    std::variant<T, Error> m_value;
};

// Success without a value.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)) {}

    explicit operator bool() const { return !m_error.has_value(); }
    bool hasValue() const { return !m_error.has_value(); }
    const Error& error() const {
        assert(m_error);
        return *m_error;
    }

private:
    std::optional<Error> m_error;
};

}  // namespace spreadsheet
