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
inline constexpr const char* MergeAlreadyRunning = "为保证程序运行顺畅，请先关闭所有Excel文件。";

// File picking.
inline constexpr const char* SelectFilesTitle = "请选择要处理的Excel或CSV文件";
inline constexpr const char* ExcelFilesFilter = "Excel文件(*.xls;*.xlsx;*.xlsm)";
inline constexpr const char* CsvFilesFilter = "文本文件(*.csv)";
inline constexpr const char* AtLeastTwoFiles = "请选择至少两个文件。";

// The about box behind the icon corner: five lines with an empty line between each two.
inline constexpr const char* AboutTitle = "Korvan";
inline constexpr const char* AboutText =
    "软件：sheetmerge 工作表合并工具\r\n\r\n"
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
