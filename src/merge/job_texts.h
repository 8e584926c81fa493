// The Chinese texts of saved merge jobs and their JSON reading, exactly as users see them.
#pragma once

namespace merge::job_texts {

// Faults of the JSON text: "第 " line " 行第 " column " 列：" + the fault.
inline constexpr const char* AtLineHead = "第 ";
inline constexpr const char* AtLineMiddle = " 行第 ";
inline constexpr const char* AtLineTail = " 列：";
inline constexpr const char* TooLarge = "文件过大（任务文件最多 1 MiB）";
inline constexpr const char* TooDeep = "嵌套层数过多";
inline constexpr const char* NotUtf8 = "不是有效的 UTF-8 文本";
inline constexpr const char* UnexpectedEnd = "内容不完整，文件提前结束";
inline constexpr const char* UnexpectedCharacter = "此处不应出现该字符";
inline constexpr const char* TrailingText = "JSON 值之后还有多余的内容";
inline constexpr const char* BadNumber = "数字写法有误";
inline constexpr const char* BadEscape = "字符串中的转义写法有误";
inline constexpr const char* ControlCharacter = "字符串中有未转义的控制字符";
inline constexpr const char* NulCharacter = "字符串中不允许出现 U+0000";
inline constexpr const char* LoneSurrogate = "字符串中有不成对的代理项（\\uD800–\\uDFFF）";
inline constexpr const char* UnterminatedString = "字符串没有结束";
inline constexpr const char* DuplicateName = "同一对象中的项名重复：";
inline constexpr const char* ExpectedName = "此处应为用双引号括起的项名";
inline constexpr const char* ExpectedColon = "项名之后应为冒号";
inline constexpr const char* ExpectedCommaOrEnd = "此处应为逗号或结束括号";

// Faults of a job file's content.
inline constexpr const char* NotAnObject = "任务文件的内容必须是一个 JSON 对象";
// "缺少格式版本项“sheetmerge-job”，这不是 sheetmerge 的任务文件"
inline constexpr const char* NoVersion =
    "缺少格式版本项“sheetmerge-job”，这不是 sheetmerge 的任务文件";
inline constexpr const char* BadVersion = "格式版本项“sheetmerge-job”必须是正整数";
// "任务文件的格式版本为 " n "，本程序只能读取版本 " 1 " 的任务文件，请使用更新的 sheetmerge"
inline constexpr const char* NewerVersionHead = "任务文件的格式版本为 ";
inline constexpr const char* NewerVersionMiddle = "，本程序只能读取版本 ";
inline constexpr const char* NewerVersionTail = " 的任务文件，请使用更新的 sheetmerge";
// "任务文件中有本程序不认识的项“" name "”（可能来自更新版本的 sheetmerge）"
inline constexpr const char* UnknownItemHead = "任务文件中有本程序不认识的项“";
inline constexpr const char* UnknownItemTail = "”（可能来自更新版本的 sheetmerge）";
// "项“" name "”" + one of the following.
inline constexpr const char* ItemHead = "项“";
inline constexpr const char* ItemTail = "”";
inline constexpr const char* MustBeBoolean = "必须是 true 或 false";
inline constexpr const char* MustBeText = "必须是字符串或 null";
inline constexpr const char* MustBeNonEmptyText = "必须是非空字符串或 null";
inline constexpr const char* MustBeTextList = "必须是由非空字符串组成的数组";
inline constexpr const char* MustBeNonEmptyTextList = "必须是由非空字符串组成的非空数组或 null";
inline constexpr const char* MustBeWholeNumber = "必须是整数";
// "必须是 " low " 到 " high " 之间的整数或 null"
inline constexpr const char* RangeHead = "必须是 ";
inline constexpr const char* RangeMiddle = " 到 ";
inline constexpr const char* RangeTail = " 之间的整数或 null";
inline constexpr const char* MustBeFormat = "必须是 \"xlsx\" 或 \"csv\"";
// "项“" a "”与“" b "”只能选用一个"
inline constexpr const char* OnlyOneOf = "”与“";
inline constexpr const char* OnlyOneTail = "”只能选用一个";
inline constexpr const char* HeaderNeedsStartRow = "项“header”只能与“start-row”一起使用";

// Saving.
// "“" path "”已存在且不是 sheetmerge 的任务文件，未覆盖"
inline constexpr const char* NotAJobFileTail = "”已存在且不是 sheetmerge 的任务文件，未覆盖";
inline constexpr const char* CannotRead = "无法读取：";

}  // namespace merge::job_texts
