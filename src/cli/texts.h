// Chinese texts of the inspect and cat commands and of the command-line dispatch.
#pragma once

namespace cli::texts {

inline constexpr const char* Usage =
    "用法：\n"
    "  sheetmerge inspect 文件 [--password 密码]... [--password-file 文件]\n"
    "  sheetmerge cat 文件 [--sheet-index N | --sheet-name 名称] [--password 密码]... "
    "[--password-file 文件]\n"
    "  sheetmerge merge …（详见 sheetmerge merge --help）\n"
    "  sheetmerge --help\n"
    "  sheetmerge --version\n";

inline constexpr const char* Help =
    "\n"
    "inspect：列出工作簿的全部工作表，按工作簿中的顺序每行一个，字段以制表符分隔，第一行是表头：\n"
    "  position      位置（从 1 开始，图表工作表也计在内）\n"
    "  name          名称\n"
    "  kind          类型：worksheet（工作表）、chart（图表工作表）、other（其它）\n"
    "  visibility    可见性：visible（可见）、hidden（隐藏）、veryHidden（深度隐藏）\n"
    "  active        活动工作表标为 *，其余留空\n"
    "  last_row      含有值的最大行号（只有格式的单元格不计，空工作表为 0，图表工作表为 -）\n"
    "  last_column   含有值的最大列号（同上）\n"
    "  uncalculated  没有缓存值的公式单元格数（为 0 时留空）\n"
    "\n"
    "cat：把一个工作表以 CSV 写到标准输出（UTF-8，RFC 4180 引号规则，行尾为 LF），\n"
    "  范围从第 1 行第 1 列到含有值的最大行和最大列。\n"
    "  默认输出活动工作表；--sheet-index N 输出第 N 个工作表（只数工作表，从 1 开始）；\n"
    "  --sheet-name 名称 输出该名称的工作表（不区分英文大小写）。\n"
    "  公式输出其缓存的值；日期和时间格式的数字输出为 ISO "
    "8601（2015-06-15、2015-06-15T09:30:12、09:30:12）；\n"
    "  逻辑值输出 TRUE 或 FALSE；错误值输出其文字（如 #DIV/0!）。\n"
    "\n"
    "密码：文件设有打开密码时，依次试用 --password 给出的密码（可多次给出）和 --password-file\n"
    "  文件中的密码（UTF-8，每行一个），按给出的顺序；.xls "
    "文件先试用默认密码。密码只在内存中使用。\n"
    "\n"
    "--version：显示版本号。\n"
    "\n"
    "不带参数运行 sheetmerge 时启动图形界面（需要图形显示）。\n"
    "\n"
    "退出状态：0 成功；1 文件无法读取或所选工作表不存在；2 命令行用法错误或密码文件无法读取。\n";

inline constexpr const char* UnknownCommand = "未知的命令：";
inline constexpr const char* MissingFile = "缺少文件参数";
inline constexpr const char* UnknownOption = "未知的选项或多余的参数：";
inline constexpr const char* MissingOptionValue = "选项缺少取值：";
inline constexpr const char* BadSheetIndex = "--sheet-index 需要一个从 1 开始的整数：";
inline constexpr const char* BothSheetOptions = "--sheet-index 和 --sheet-name 只能选用一个";
inline constexpr const char* PasswordFileUnreadable = "无法读取密码文件：";
inline constexpr const char* PasswordFileTooLarge = "密码文件过大（超过 1 MiB）：";
inline constexpr const char* PasswordFileNotUtf8 = "密码文件不是 UTF-8 文本：";
inline constexpr const char* MergeNotAvailable = "merge 命令在此版本中尚不可用";

inline constexpr const char* NoSuchSheetIndex = "没有第 %d 个工作表（共有 %d 个工作表）";
inline constexpr const char* NoSuchSheetName = "没有名为“%s”的工作表";
inline constexpr const char* SheetIsNotWorksheet = "“%s”不是工作表（是图表或其它类型的工作表）";
inline constexpr const char* ActiveSheetIsNotWorksheet =
    "活动工作表“%s”不是工作表（是图表或其它类型的工作表），请用 --sheet-index 或 --sheet-name "
    "选择工作表";
inline constexpr const char* NoWorksheet = "工作簿中没有工作表";
inline constexpr const char* WriteFailed = "写入标准输出失败";

}  // namespace cli::texts
