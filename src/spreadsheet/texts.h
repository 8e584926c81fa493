// Chinese texts of the engine that users see: the causes errorText() gives and the evidence
// fragments the readers put into Error::detail. Other engine files add theirs here too.
#pragma once

namespace spreadsheet::texts {

// Causes, one per ErrorCode.
inline constexpr const char* FileNotFound = "文件不存在";
inline constexpr const char* FileNotReadable = "文件无法读取（没有权限或被占用）";
inline constexpr const char* FileTooLarge = "文件过大，超出可读取的上限";
inline constexpr const char* UnknownFormat = "不是可识别的 Excel 或 CSV 文件格式";
inline constexpr const char* EncryptedWorkbook = "文件受密码保护（未提供密码或密码不正确）";
inline constexpr const char* WrongPassword = "密码不正确";
inline constexpr const char* UnsupportedEncryption = "文件的加密方式不受支持或加密信息已损坏";
inline constexpr const char* BinaryWorkbook = "文件是二进制工作簿（.xlsb），不支持读取";
inline constexpr const char* ExtensionMismatch = "文件格式或扩展名无效";
inline constexpr const char* ZipCorrupt = "文件已损坏（压缩包结构错误或不完整）";
inline constexpr const char* ZipLimit = "压缩包内容超出安全上限（可能是压缩炸弹）";
inline constexpr const char* ZipUnsupported = "压缩包使用了不支持的压缩方式或加密";
inline constexpr const char* PartMissing = "文件缺少必需的组成部分";
inline constexpr const char* CfbCorrupt = "文件已损坏（复合文档结构错误）";
inline constexpr const char* XmlMalformed = "文件已损坏（XML 内容错误）";
inline constexpr const char* XmlForbidden = "文件含有不允许的 XML 声明或实体";
inline constexpr const char* XmlLimit = "文件的 XML 内容超出安全上限";
inline constexpr const char* RecordCorrupt = "文件已损坏（记录内容错误）";
inline constexpr const char* UnsupportedVersion = "不支持该文件的版本";
inline constexpr const char* SheetLimit = "工作表超出可读取的上限";
inline constexpr const char* TextEncoding = "文本编码无法识别";
inline constexpr const char* CsvLimit = "CSV 文件超出可读取的上限";
inline constexpr const char* InvalidReference = "单元格引用无效";
inline constexpr const char* InvalidSheetName = "工作表名称无效";
inline constexpr const char* DuplicateSheetName = "工作表名称已存在";
inline constexpr const char* NoSuchSheet = "指定的工作表不存在";
inline constexpr const char* WriteFailed = "写入文件失败";
inline constexpr const char* TargetExists = "目标文件已存在，不会被覆盖";
inline constexpr const char* FormatNotAvailable = "不支持保存为该文件格式";
inline constexpr const char* OperationFailed = "操作失败";
inline constexpr const char* CauseDetailSeparator = "：";

// Evidence of opening a file.
inline constexpr const char* EmptyFile = "文件为空（0 字节）";
inline constexpr const char* MarkupNotCsv = "文件内容是 HTML 或 XML 文本，不是 CSV 或 Excel 工作簿";
inline constexpr const char* LeadingBytes = "开头字节为";
inline constexpr const char* IsFolder = ": 是文件夹，不是文件";
inline constexpr const char* NotRegularFile = ": 不是普通文件";
inline constexpr const char* BytesOverLimit = " 字节，上限为 2 GiB";
inline constexpr const char* ReadOverLimit = "超过 2 GiB 上限";
// "扩展名为 .xlsx 的文件不是 Excel 工作簿（内容是文本）".
inline constexpr const char* ExtensionHead = "扩展名为 ";
inline constexpr const char* NotAWorkbookTail = " 的文件不是 Excel 工作簿";
inline constexpr const char* NotTextTail = " 的文件不是文本文件";
inline constexpr const char* ContentIsText = "（内容是文本）";
inline constexpr const char* ContentIsXls = "（内容是 .xls 格式的工作簿）";
inline constexpr const char* ContentIsXlsx = "（内容是 .xlsx 格式的工作簿）";

// Evidence of encrypted files: no password was given, or "提供的 2 个密码都不正确".
inline constexpr const char* NoPasswordGiven = "未提供密码";
inline constexpr const char* PasswordsWrongHead = "提供的 ";
inline constexpr const char* PasswordsWrongTail = " 个密码都不正确";

// Evidence of references.
inline constexpr const char* QuoteOpen = "“";
inline constexpr const char* QuoteClose = "”";
inline constexpr const char* Ellipsis = "…";
inline constexpr const char* NotA1Reference = "不是 A1 形式的引用";
inline constexpr const char* OutsideGrid = "超出工作表范围";

// Evidence of text decoding and CSV.
inline constexpr const char* EncodingUnavailable = "系统不支持编码 ";
inline constexpr const char* CannotDecodeAt = " 无法解码第 ";
inline constexpr const char* BytesOnward = " 字节起的内容";
inline constexpr const char* BrokenUtf8AfterMark = "带 UTF-8 标记的文本含有无效的 UTF-8 字节";
inline constexpr const char* RowPrefix = "第 ";
inline constexpr const char* RowSuffix = " 行";
inline constexpr const char* ColumnPrefix = "第 ";
inline constexpr const char* FieldOverCellLimit = " 列的内容超过单元格上限 32767 个字符";
inline constexpr const char* OverColumnLimit = "超过 16384 列";
inline constexpr const char* OverRowLimit = "超过 1048576 行";
inline constexpr const char* UnclosedQuote = "的引号没有闭合，之后的内容无法分成单元格";

}  // namespace spreadsheet::texts
