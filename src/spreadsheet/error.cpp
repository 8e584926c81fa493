#include "spreadsheet/error.h"

#include "spreadsheet/texts.h"

namespace spreadsheet {
namespace {

// One sentence per cause, as the failure list and the command line show it.
const char* causeText(ErrorCode code) {
    switch (code) {
        case ErrorCode::FileNotFound:
            return texts::FileNotFound;
        case ErrorCode::FileNotReadable:
            return texts::FileNotReadable;
        case ErrorCode::FileTooLarge:
            return texts::FileTooLarge;
        case ErrorCode::UnknownFormat:
            return texts::UnknownFormat;
        case ErrorCode::EncryptedWorkbook:
            return texts::EncryptedWorkbook;
        case ErrorCode::WrongPassword:
            return texts::WrongPassword;
        case ErrorCode::UnsupportedEncryption:
            return texts::UnsupportedEncryption;
        case ErrorCode::BinaryWorkbook:
            return texts::BinaryWorkbook;
        case ErrorCode::ExtensionMismatch:
            return texts::ExtensionMismatch;
        case ErrorCode::ZipCorrupt:
            return texts::ZipCorrupt;
        case ErrorCode::ZipLimit:
            return texts::ZipLimit;
        case ErrorCode::ZipUnsupported:
            return texts::ZipUnsupported;
        case ErrorCode::PartMissing:
            return texts::PartMissing;
        case ErrorCode::CfbCorrupt:
            return texts::CfbCorrupt;
        case ErrorCode::XmlMalformed:
            return texts::XmlMalformed;
        case ErrorCode::XmlForbidden:
            return texts::XmlForbidden;
        case ErrorCode::XmlLimit:
            return texts::XmlLimit;
        case ErrorCode::RecordCorrupt:
            return texts::RecordCorrupt;
        case ErrorCode::UnsupportedVersion:
            return texts::UnsupportedVersion;
        case ErrorCode::SheetLimit:
            return texts::SheetLimit;
        case ErrorCode::TextEncoding:
            return texts::TextEncoding;
        case ErrorCode::CsvLimit:
            return texts::CsvLimit;
        case ErrorCode::InvalidReference:
            return texts::InvalidReference;
        case ErrorCode::InvalidSheetName:
            return texts::InvalidSheetName;
        case ErrorCode::DuplicateSheetName:
            return texts::DuplicateSheetName;
        case ErrorCode::NoSuchSheet:
            return texts::NoSuchSheet;
        case ErrorCode::WriteFailed:
            return texts::WriteFailed;
        case ErrorCode::TargetExists:
            return texts::TargetExists;
        case ErrorCode::FormatNotAvailable:
            return texts::FormatNotAvailable;
        case ErrorCode::OperationFailed:
            return texts::OperationFailed;
    }
    return texts::OperationFailed;
}

}  // namespace

std::string errorText(const Error& error) {
    std::string text = causeText(error.code);
    if (!error.detail.empty()) {
        text += texts::CauseDetailSeparator;
        text += error.detail;
    }
    return text;
}

}  // namespace spreadsheet
