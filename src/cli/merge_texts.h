// User-visible texts of `sheetmerge merge`, in Chinese like the rest of the program.
#pragma once

namespace cli::merge_texts {

inline constexpr const char* Usage =
    "用法：sheetmerge merge [选项] 路径...\n"
    "把许多工作簿中的同一个工作表合并到一个新的 .xlsx 工作簿中，无需图形界面。\n"
    "\n"
    "  路径...                  两个或更多源文件，或一个文件夹\n"
    "  -r, --recursive          路径为文件夹时，连同其所有子文件夹中的文件一起合并\n"
    "                           （不加时子文件夹被跳过）\n"
    "  --sheet-index N          每个源文件的第 N 个工作表            （默认：活动工作表）\n"
    "  --sheet-name 名称        名为“名称”的工作表\n"
    "  --start-row N            从第 N 行起的全部内容              "
    "（默认：含有数据的最大矩形区域）\n"
    "  --cells 左上[:右下]      从左上角到右下角的单元格，如 B2:G5；写成 B2: 或 B2 时\n"
    "                           由程序自动判断右下角\n"
    "  --header                 复制一次起始行上方的内容（与 --start-row 一起使用）\n"
    "  --mark-path              在每块数据左侧标记其文件路径\n"
    "  --mark-cells 列表        在每块数据左侧标记源文件中这些单元格的内容，如 B2,G5\n"
    "  -o, --output-dir 目录    把合并结果写到该目录，而不是源文件所在的文件夹\n"
    "  --password 密码          源文件设有打开密码时试用的密码；可多次给出，按顺序试用\n"
    "  --password-file 文件     从文件（UTF-8，每行一个）读入更多密码，按顺序试用\n"
    "  --open                   完成后用桌面默认程序打开合并结果\n"
    "  -q, --quiet              不显示进度\n"
    "  -h, --help               显示本说明\n"
    "\n"
    "源文件：给出文件时，按给出的顺序合并，结果写到它们共同所在的文件夹；给出文件夹时，\n"
    "取其中扩展名为小写 .xls、.xlsx、.xlsm、.csv 的文件，按名称排序（不区分大小写），\n"
    "先本文件夹，再逐层取子文件夹；以“.”开头的隐藏项、以“~$”开头的锁定文件、\n"
    "指向文件夹的符号链接和本程序此前生成的合并结果不取。\n"
    "子文件夹多于 1000 个或文件多于 10000 个时不合并。源文件只读取，从不改动。\n"
    "\n"
    "密码：设有打开密码的源文件依次试用给出的密码（.xls 文件先试用默认密码），在内存中解密，\n"
    "解密后的内容从不写入磁盘；没有一个密码能打开的文件列为合并失败（其它：文件受密码保护）。\n"
    "密码只在本次合并中使用，从不保存。\n"
    "\n"
    "选项与图形界面“参数设置”对话框的检查相同：单元格地址以样本工作簿的活动工作表为准，\n"
    "不通过时给出与对话框相同的提示。样本是排在最前、能打开且含有普通工作表的 .xlsx 或\n"
    ".xlsm 文件（设有密码的，须能用给出的密码打开），没有时为第一个这样的其它源文件。\n"
    "\n"
    "合并结果名为“合并 yymmdd hhmmss.xlsx”（按名称选工作表时前面加上工作表名称），\n"
    "同名文件已存在时加上“ (2)”“ (3)”等；合并失败的文件列在结果的“失败列表”工作表中，\n"
    "文件名单元格的批注写有失败原因。\n"
    "\n"
    "输出：进度显示在标准错误上（终端上为原地刷新的进度条，否则不时输出一行）；\n"
    "标准输出第一行为合并结果的完整路径，第二行为合并汇总。每个合并失败的源文件在\n"
    "标准错误上输出一行“失败：路径：原因：说明”；公式单元格没有计算结果（按空单元格\n"
    "合并）的源文件输出一行“提示：路径：N 个公式单元格没有计算结果，已按空单元格合并”。\n"
    "\n"
    "退出状态：\n"
    "  0  所有源文件均已合并\n"
    "  1  合并结果已保存，但有源文件合并失败\n"
    "  2  参数有误、选项未通过检查、密码文件无法读取或所选文件夹不可用（提示在标准错误上）\n"
    "  3  合并无法开始，或合并结果无法保存\n"
    "  130  被 Ctrl+C（SIGINT）或 SIGTERM 中止：在处理完当前文件后停止，删除未完成的合并结果，\n"
    "       源文件不受影响\n";

inline constexpr const char* SeeHelp = "请运行 sheetmerge merge --help 查看用法。";
inline constexpr const char* ErrorPrefix = "sheetmerge merge：";

inline constexpr const char* UnknownOption = "未知选项：";
inline constexpr const char* MissingValue = "选项缺少取值：";
inline constexpr const char* BadSheetIndex = "--sheet-index 需要一个大于0的整数：";
inline constexpr const char* SheetChoicesClash = "--sheet-index 与 --sheet-name 只能选用一个。";
inline constexpr const char* RangeChoicesClash = "--start-row 与 --cells 只能选用一个。";
inline constexpr const char* LabelChoicesClash = "--mark-path 与 --mark-cells 只能选用一个。";
inline constexpr const char* HeaderNeedsStartRow = "--header 只能与 --start-row 一起使用。";
inline constexpr const char* NoPaths = "请给出两个或更多源文件，或一个文件夹。";
// Same words as the file picker's refusal of a single file.
inline constexpr const char* AtLeastTwoFiles = "请选择至少两个文件。";
inline constexpr const char* PathMissing = "找不到路径：";
inline constexpr const char* FolderAmongFiles = "给出多个路径时，每个都必须是文件，而不是文件夹：";
inline constexpr const char* NotAFile = "不是普通文件：";
inline constexpr const char* OutputDirMissing = "输出目录不存在或不是文件夹：";
inline constexpr const char* CannotOpenResult = "无法打开合并结果（xdg-open）：";

// On stderr at the first Ctrl+C or SIGTERM; the run then stops after the source in progress.
inline constexpr const char* Stopping =
    "\n正在停止：当前文件处理完后停止合并，不会留下未完成的合并结果……\n";

// Progress: "合并进度 " + bar + " " + done + " / " + total.
inline constexpr const char* ProgressLabel = "合并进度";

// After the run, one line per source on stderr:
// "失败：" path "：" reason "：" cause, for a source that failed;
// "提示：" path "：" n " 个公式单元格没有计算结果，已按空单元格合并", for a merged source whose
// formulas had no cached values.
inline constexpr const char* FailedPrefix = "失败：";
inline constexpr const char* NoticePrefix = "提示：";
inline constexpr const char* FieldSeparator = "：";
inline constexpr const char* UncalculatedTail = " 个公式单元格没有计算结果，已按空单元格合并";

}  // namespace cli::merge_texts
