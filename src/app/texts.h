// User-visible texts of the desktop program, exactly as it shows them. The folder walk's
// refusals are in sources/texts.h.
#pragma once

namespace app::texts {

inline constexpr const char* NoticeTitle = "提示";
inline constexpr const char* ChoiceTitle = "选择";

// Folder picking.
inline constexpr const char* ChooseFolderPrompt = "请选择存放目标文件的文件夹（可包含子文件夹）";
inline constexpr const char* IncludeSubfoldersQuestion =
    "指定路径下发现【子文件夹】，【子文件夹】下的Excel/csv文件是否参与数据合并呢？";

inline constexpr const char* MainWindowCaption = "文件选取";
inline constexpr const char* ProgressCaption = "合并进度";

// The greeting before start-up replaces it with a tip.
inline constexpr const char* GreetingAtStart =
    "请选取要合并的数据所在的Excel文件或其所在的文件夹：";

// Thirty tips separated by "|", numbered 0 to 29 in this order.
inline constexpr const char* GreetingTips =
    "我觉得，最近你瘦了！|"
    "人生如戏，全靠演技。|"
    "这个周末，让我们一起去看日出日落，好吗？|"
    "合并之前，记得先备份一下原始文件哦。|"
    "工作再忙，也要记得按时吃饭。|"
    "喝杯水，让眼睛休息一下吧。|"
    "今天的你，比昨天更厉害了！|"
    "数据千万条，准确第一条。|"
    "坐久了，起来伸个懒腰吧。|"
    "微笑是最好的名片。|"
    "好的开始是成功的一半。|"
    "慢慢来，比较快。|"
    "别忘了给家人打个电话。|"
    "天气多变，注意添衣保暖。|"
    "今天也要元气满满哦！|"
    "把繁琐交给程序，把时间留给自己。|"
    "每一份努力，都不会被辜负。|"
    "早点下班，早点回家。|"
    "心情好，效率才会高。|"
    "保持好奇心，生活处处有惊喜。|"
    "表格再多，也难不倒你。|"
    "累了就听首喜欢的歌吧。|"
    "少熬夜，多运动。|"
    "愿你的每一天都有好心情。|"
    "一杯茶，一本书，一个惬意的午后。|"
    "认真工作的你最有魅力。|"
    "今日事今日毕，明天更轻松。|"
    "记得常回家看看。|"
    "有梦想的人，眼里有光。|"
    "祝你工作顺利，万事如意！";

// Start-up refusal while another merge is running.
inline constexpr const char* MergeAlreadyRunning = "另一个合并正在进行，请等它完成后再试。";

// File picking; the first filter takes every kind of source at once.
inline constexpr const char* SelectFilesTitle = "请选择要处理的Excel或CSV文件";
inline constexpr const char* AllSourcesFilter = "Excel或CSV文件(*.xls;*.xlsx;*.xlsm;*.csv)";
inline constexpr const char* ExcelFilesFilter = "Excel文件(*.xls;*.xlsx;*.xlsm)";
inline constexpr const char* CsvFilesFilter = "文本文件(*.csv)";
// The save dialog of the options dialog's "保存为任务…".
inline constexpr const char* SaveJobTitle = "保存为任务";
inline constexpr const char* JobFilesFilter = "任务文件(*.json)";
inline constexpr const char* JobFileName = "合并任务.json";
inline constexpr const char* AtLeastTwoFiles = "请选择至少两个文件。";

// Dropping onto the main window something that is neither two or more files nor one folder.
inline constexpr const char* DropFilesOrFolder = "请拖入两个或更多文件，或一个文件夹。";

// The progress window: the file being merged, and stopping the run.
inline constexpr const char* ProgressFile = "正在合并：";
inline constexpr const char* ProgressStopping = "正在停止：当前文件处理完后停止……";
inline constexpr const char* CancelButton = "取消";
inline constexpr const char* StopQuestion =
    "确定要取消合并吗？\r\n当前文件处理完后即停止，已合并的内容不会保存，源文件不受影响。";

// The final message of a saved run: the run's summary, then the result's path and buttons.
inline constexpr const char* ResultPathLine = "合并结果：";
inline constexpr const char* OpenResultButton = "打开结果";
inline constexpr const char* OpenFolderButton = "打开所在文件夹";
inline constexpr const char* OkButton = "确定";
inline constexpr const char* CannotOpenResult = "无法打开合并结果：";
inline constexpr const char* CannotOpenFolder = "无法打开所在文件夹：";
// Why opening failed.
inline constexpr const char* NoLauncher = "系统中没有用来打开文件的程序（未找到 xdg-open）。";
inline constexpr const char* NoProgramForType = "没有登记可以打开这类文件的程序。";
inline constexpr const char* FileGone = "文件已不存在。";
// "打开程序报告失败（退出状态 " + code + "）。"
inline constexpr const char* LauncherFailedHead = "打开程序报告失败（退出状态 ";
inline constexpr const char* LauncherFailedTail = "）。";

// The question for the password of an encrypted source during a merge: the file's full path,
// the masked box, and the line saying that the previous password was wrong.
inline constexpr const char* PasswordTitle = "输入密码";
inline constexpr const char* PasswordPrompt = "以下文件设有打开密码，请输入密码：";
inline constexpr const char* PasswordFileLine = "文件：";
inline constexpr const char* PasswordLine = "密码：";
// "密码不正确，请重新输入（还可输入 " + tries left + " 次）。"
inline constexpr const char* PasswordWrongHead = "密码不正确，请重新输入（还可输入 ";
inline constexpr const char* PasswordWrongTail = " 次）。";
inline constexpr const char* PasswordForLaterFiles = "对后面的文件也使用该密码";
inline constexpr const char* SkipButton = "跳过";

// The about box behind the icon corner: five lines with an empty line between each two.
inline constexpr const char* AboutTitle = "Korvan";
// The first line names the version: the box shows AboutProgram + version + AboutRest.
inline constexpr const char* AboutProgram = "软件：sheetmerge 工作表合并工具，版本 ";
inline constexpr const char* AboutRest =
    "\r\n\r\n"
    "用途：把多个 Excel/CSV 工作簿中的同一张工作表合并到一个新工作簿\r\n\r\n"
    "主页：sheetmerge 项目仓库（说明见仓库中的 README.md）\r\n\r\n"
    "反馈：请在项目仓库提交问题，并附上出错的文件和操作步骤\r\n\r\n"
    "日期：2015-06-15";

// Title text drawn on the background's green band.
inline constexpr const char* ArtworkTitle = "工作表合并助手";
inline constexpr const char* ArtworkFilesCaption = "选取文件";
inline constexpr const char* ArtworkFolderCaption = "选取文件夹";

// Printed on stderr when the desktop program is started without a display.
inline constexpr const char* NoDisplay =
    "sheetmerge：没有可用的图形显示（DISPLAY 与 WAYLAND_DISPLAY 均未设置），无法启动桌面程序。\n"
    "请改用命令行，例如：\n"
    "  sheetmerge merge --start-row 2 --header 文件夹路径\n"
    "  sheetmerge merge a.xlsx b.xlsx c.csv\n"
    "完整用法见：sheetmerge merge --help\n";

}  // namespace app::texts
