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
    "  --all-sheets             每个源文件的全部工作表，每个工作表一块数据\n"
    "  --sheet-pattern 模式     名称与模式相符的全部工作表（* 任意多个字符，? 一个字符，\n"
    "                           不区分大小写），每个工作表一块数据\n"
    "  --skip-hidden            与 --all-sheets 或 --sheet-pattern 一起使用时，不取隐藏的工作表\n"
    "  --start-row N            从第 N 行起的全部内容              "
    "（默认：含有数据的最大矩形区域）\n"
    "  --cells 左上[:右下]      从左上角到右下角的单元格，如 B2:G5；写成 B2: 或 B2 时\n"
    "                           由程序自动判断右下角\n"
    "  --header                 复制一次起始行上方的内容（与 --start-row 一起使用）\n"
    "  --mark-path              在每块数据左侧标记其文件路径\n"
    "  --mark-cells 列表        在每块数据左侧标记源文件中这些单元格的内容，如 B2,G5\n"
    "  --mark-sheet             在每块数据左侧（其它标记的右方）标记其工作表名称\n"
    "  --per-source             每块数据放在合并结果中一个单独的工作表上，以文件名（和工作表名）\n"
    "                           命名，而不是上下相接\n"
    "  --mark-name              在每块数据左侧标记其文件名（不含文件夹和扩展名）；可与\n"
    "                           --mark-sheet 一起使用\n"
    "\n"
    "文件不尽相同时（各选项默认关闭，可任意组合）：\n"
    "  --align-columns          按表头名称对齐列，而不是按位置（见下文“按表头名称对齐列”）\n"
    "  --skip-blank-rows        略去在数据各列上都为空的行\n"
    "  --drop-header-repeats    略去与表头行相同的行（比较方式同表头名称）\n"
    "  --stop-at 文字           "
    "每块数据在第一个非空单元格（去掉首尾空白后）为该文字的行之前结束，\n"
    "                           如 --stop-at 合计；该行及其下方各行均不合并\n"
    "  --skip-last N            略去每块数据末尾的 N 行（N 为大于0的整数）\n"
    "  --dedupe                 略去与合并结果中此前某一数据行完全相同的行（按显示的值比较）\n"
    "  --fill-merged            拆分数据中的合并单元格，每个单元格填入合并单元格的值和格式\n"
    "  --log-sheet              在合并结果最后加一个“合并明细”工作表，每块数据一行，\n"
    "                           每个失败的源文件一行\n"
    "  --report 文件.json       把同样的合并明细写成 JSON 文件，供脚本使用（格式见\n"
    "                           docs/report-schema.md；同名文件被替换）\n"
    "\n"
    "  -o, --output-dir 目录    把合并结果写到该目录，而不是源文件所在的文件夹\n"
    "  --password 密码          源文件设有打开密码时试用的密码；可多次给出，按顺序试用\n"
    "  --password-file 文件     从文件（UTF-8，每行一个）读入更多密码，按顺序试用\n"
    "  --format xlsx|csv        合并结果的格式（默认：xlsx）；csv 时不生成 .xlsx，而是生成一个\n"
    "                           与合并结果同名的文件夹，每个结果工作表一个 UTF-8 CSV 文件\n"
    "                           （带 BOM），失败列表为“失败列表.csv”\n"
    "  --include 模式           路径为文件夹时，只取文件名与模式相符的文件；可多次给出，\n"
    "                           符合其一即可。模式中 * 代表任意多个字符，? 代表一个字符，\n"
    "                           不区分大小写，如 --include '*销售*'\n"
    "  --exclude 模式           路径为文件夹时，不取文件名与模式相符的文件；可多次给出\n"
    "  --save-job 文件          把全部选项和给出的路径保存为任务文件（JSON），并照常合并；\n"
    "                           选项通过检查后即保存\n"
    "  --job 文件               按任务文件中的选项和路径再次合并；命令行上给出的路径代替\n"
    "                           任务中的路径，除 --quiet、--open、--save-job、--encoding、\n"
    "                           --report 和密码选项外不能再给出其它选项\n"
    "  --encoding 编码          所有 CSV 源文件都按该编码读取（如 GBK、BIG5、UTF-8），\n"
    "                           不再逐个文件判断编码\n"
    "  --open                   完成后用桌面默认程序打开合并结果\n"
    "  -q, --quiet              不显示进度\n"
    "  -h, --help               显示本说明\n"
    "\n"
    "源文件：给出文件时，按给出的顺序合并，结果写到它们共同所在的文件夹；给出文件夹时，\n"
    "取其中扩展名为小写 .xls、.xlsx、.xlsm、.csv 的文件，按名称排序（不区分大小写），\n"
    "先本文件夹，再逐层取子文件夹；以“.”开头的隐藏项、以“~$”开头的锁定文件、\n"
    "指向文件夹的符号链接和本程序此前生成的合并结果不取。\n"
    "子文件夹多于 1000 个或文件多于 10000 个时不合并（--include/--exclude 未取的文件\n"
    "不计入）。--include/--exclude 只用于文件夹，逐个给出的文件全部参与合并。\n"
    "源文件只读取，从不改动。\n"
    "\n"
    "密码：设有打开密码的源文件依次试用给出的密码（.xls 文件先试用默认密码），在内存中解密，\n"
    "解密后的内容从不写入磁盘；没有一个密码能打开的文件列为合并失败（其它：文件受密码保护）。\n"
    "密码只在本次合并中使用，从不保存。\n"
    "\n"
    "编码：CSV 源文件带字节顺序标记（BOM）时按标记读取，是有效的 UTF-8 时按 UTF-8，\n"
    "否则按其字节判断编码（中文 GB18030 优先），都不合适时按 WINDOWS-1252 读取；\n"
    "CSV 源文件从不因编码而合并失败。\n"
    "\n"
    "选项与图形界面“参数设置”对话框的检查相同：单元格地址以样本工作簿的活动工作表为准，\n"
    "不通过时给出与对话框相同的提示。样本是排在最前、能打开且含有普通工作表的 .xlsx 或\n"
    ".xlsm 文件（设有密码的，须能用给出的密码打开），没有时为第一个这样的其它源文件。\n"
    "\n"
    "合并结果名为“合并 yymmdd hhmmss.xlsx”（按名称选工作表时前面加上工作表名称），\n"
    "同名文件已存在时加上“ (2)”“ (3)”等；合并失败的文件列在结果的“失败列表”工作表中，\n"
    "文件名单元格的批注写有失败原因。\n"
    "--format csv 时合并结果是同名文件夹（不带扩展名），其中每个文件的名称即结果工作表的名称，\n"
    "如“成功合并(12).csv”；合并中止或失败时不留下该文件夹。\n"
    "\n"
    "任务文件：UTF-8 编码的 JSON，各项以命令行选项命名（不带 --），说明见\n"
    "docs/job-file.md。密码从不写入任务文件。来自更新版本、含有不认识的项或写法有误的\n"
    "任务文件整个不予执行（退出状态 2）。\n"
    "\n"
    "输出：进度显示在标准错误上（终端上为原地刷新的进度条，否则不时输出一行）；\n"
    "标准输出第一行为合并结果的完整路径，第二行为合并汇总。每个合并失败的源文件在\n"
    "标准错误上输出一行“失败：路径：原因：说明”；公式单元格没有计算结果（按空单元格\n"
    "合并）的源文件输出一行“提示：路径：N 个公式单元格没有计算结果，已按空单元格合并”。\n"
    "\n"
    "按表头名称对齐列：给出 --start-row N 时，表头是第 N-1 行（N 须大于1）；其它情况下表头是\n"
    "所选区域的第一行，数据为其下方各行。表头名称去掉首尾空白、全角字符按半角、中间连续空白\n"
    "按一个空格、英文字母不分大小写后比较；同一表头中重名的列按出现顺序对应；空白表头只与\n"
    "同一列字母的空白表头对应。结果的列为第一个源文件的列，再依次加上此后新出现的名称；源文件\n"
    "缺少的列留空；列宽取自第一个含有该列的源文件；标记列始终在最左侧。加 --header 时，表头\n"
    "上方各行从第一个源文件复制一次，表头行写一次（各源文件列名的并集）；不加 --header 而给出\n"
    "--start-row 时不写表头；按区域合并时表头行总写在结果最上方一次。因列顺序调整或行被略去而\n"
    "无法保留的合并单元格不再合并（各单元格保留值和格式），在合并明细中注明。\n"
    "\n"
    "清理各行的顺序：每块数据先拆分并填充合并单元格（--fill-merged），再在结束标记处截断\n"
    "（--stop-at），再略去末尾 N 行（--skip-last，按截断后的行计），然后逐行判断：空白行\n"
    "（--skip-blank-rows）、重复的表头行（--drop-header-repeats）、重复行（--dedupe）。\n"
    "空白行指各单元格都为空或只有空白字符的行；重复行只比较数据各列（按对齐后的位置），\n"
    "不比较标记列，空白行不算重复行。未给出 --start-row 且不按表头对齐时，\n"
    "--drop-header-repeats 以第一块数据的第一行为表头：该行保留，其后与之相同的行均略去。\n"
    "\n"
    "退出状态：\n"
    "  0  所有源文件均已合并\n"
    "  1  合并结果已保存，但有源文件合并失败\n"
    "  2  参数有误、选项未通过检查、密码文件无法读取或所选文件夹不可用（提示在标准错误上）\n"
    "  3  合并无法开始，合并结果无法保存，或 --report 文件无法写入\n"
    "  130  被 Ctrl+C（SIGINT）或 SIGTERM 中止：在处理完当前文件后停止，删除未完成的合并结果，\n"
    "       源文件不受影响\n";

inline constexpr const char* SeeHelp = "请运行 sheetmerge merge --help 查看用法。";
inline constexpr const char* ErrorPrefix = "sheetmerge merge：";

inline constexpr const char* UnknownOption = "未知选项：";
inline constexpr const char* MissingValue = "选项缺少取值：";
inline constexpr const char* BadSheetIndex = "--sheet-index 需要一个大于0的整数：";
inline constexpr const char* SheetChoicesClash = "--sheet-index 与 --sheet-name 只能选用一个。";
inline constexpr const char* SeveralSheetChoicesClash =
    "--sheet-index、--sheet-name、--all-sheets 与 --sheet-pattern 只能选用一个。";
inline constexpr const char* RangeChoicesClash = "--start-row 与 --cells 只能选用一个。";
inline constexpr const char* LabelChoicesClash = "--mark-path 与 --mark-cells 只能选用一个。";
inline constexpr const char* NameLabelClash =
    "--mark-name 不能与 --mark-path 或 --mark-cells 一起使用。";
inline constexpr const char* ReportIsFolder = "--report 需要一个文件名，而不是文件夹：";
inline constexpr const char* ReportFolderMissing = "--report 文件所在的文件夹不存在：";
inline constexpr const char* ReportNotWritten = "无法写入合并报告：";
inline constexpr const char* HeaderNeedsStartRow = "--header 只能与 --start-row 一起使用。";
inline constexpr const char* NoPaths = "请给出两个或更多源文件，或一个文件夹。";
// Same words as the file picker's refusal of a single file.
inline constexpr const char* AtLeastTwoFiles = "请选择至少两个文件。";
inline constexpr const char* PathMissing = "找不到路径：";
inline constexpr const char* FolderAmongFiles = "给出多个路径时，每个都必须是文件，而不是文件夹：";
inline constexpr const char* NotAFile = "不是普通文件：";
inline constexpr const char* OutputDirMissing = "输出目录不存在或不是文件夹：";
inline constexpr const char* CannotOpenResult = "无法打开合并结果（xdg-open）：";

// The result's format, the folder walk's name filters and saved jobs.
inline constexpr const char* BadFormat = "--format 只能是 xlsx 或 csv：";
inline constexpr const char* EmptyPattern = "文件名模式不能为空：";
// "--job 不能与 " option " 一起使用：任务文件已含全部合并选项，要改动选项请编辑任务文件，
// 或不用 --job 重新给出选项并用 --save-job 保存。"
inline constexpr const char* OptionBesideJobHead = "--job 不能与 ";
inline constexpr const char* OptionBesideJobTail =
    " 一起使用：任务文件已含全部合并选项，要改动选项请编辑任务文件，"
    "或不用 --job 重新给出选项并用 --save-job 保存。";
// "任务文件“" path "”无法使用，未执行：" reason; nothing of the file is applied.
inline constexpr const char* JobUnusable = "任务文件“";
inline constexpr const char* JobUnusableTail = "”无法使用，未执行：";
// "无法保存任务文件“" path "”：" reason
inline constexpr const char* JobNotSaved = "无法保存任务文件“";
inline constexpr const char* QuoteColon = "”：";

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
