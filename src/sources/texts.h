// User-visible texts of the folder walk, exactly as the program shows them: why a chosen
// folder is refused or its walk stopped.
#pragma once

namespace sources::texts {

inline constexpr const char* InvalidPath = "所选路径无效，请重新选取。";
inline constexpr const char* WholeDrive =
    "选取整个磁盘文件多如牛毛，请选择其下一级文件夹或改用“文件选取”模式。";
inline constexpr const char* NoSourceFiles =
    "指定路径不存在扩展名为“.xls”、“.xlsx”、“.xlsm”或“.csv”的任何文件，请重新选择目标文件夹。";
inline constexpr const char* OneSourceFile =
    "指定路径下仅存在一个符合条件的Excel/csv文件，无需执行数据合并操作，请重新选择目标文件夹。";
inline constexpr const char* TooManyFolders =
    "指定路径的文件夹个数超过1000了，请先做相应处理再运行本软件。";
inline constexpr const char* TooManyFiles =
    "指定路径的Excel/csv文件个数超过10000了，请先做相应处理再运行本软件。";

// The walk's refusals when the file-name filter left out every file, or all but one.
inline constexpr const char* NoFilteredFiles =
    "指定路径下没有文件名符合筛选条件的Excel/csv文件，请修改筛选条件或重新选择目标文件夹。";
inline constexpr const char* OneFilteredFile =
    "指定路径下仅有一个文件名符合筛选条件的Excel/csv文件，无需执行数据合并操作，"
    "请修改筛选条件或重新选择目标文件夹。";

// The file the merge run makes of the failure list in a CSV result.
inline constexpr const char* CsvFailureListName = "失败列表.csv";

}  // namespace sources::texts
