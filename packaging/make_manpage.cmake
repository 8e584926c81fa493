# Writes the manual page sheetmerge(1), gzip-compressed, from the program's own help texts:
# `sheetmerge --help` and `sheetmerge merge --help`, so that the page never drifts from them.
#   cmake -DSHEETMERGE=path/to/sheetmerge -DVERSION=0.1.0 -DOUTPUT=sheetmerge.1.gz -P make_manpage.cmake

foreach(required SHEETMERGE VERSION OUTPUT)
    if(NOT DEFINED ${required})
        message(FATAL_ERROR "make_manpage.cmake needs -D${required}=...")
    endif()
endforeach()

function(help_text out)
    execute_process(COMMAND ${SHEETMERGE} ${ARGN}
                    OUTPUT_VARIABLE text RESULT_VARIABLE status
                    ENCODING UTF-8)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "sheetmerge ${ARGN} failed: ${status}")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Help text as literal roff lines: backslashes and minus signs escaped, a leading dot or quote
# kept from being read as a request.
function(as_roff out text)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

help_text(general --help)
help_text(merge merge --help)
as_roff(general "${general}")
as_roff(merge "${merge}")

# Left-aligned, not justified: Chinese lines have no spaces to stretch.
set(page ".TH SHEETMERGE 1 \"\" \"sheetmerge ${VERSION}\" \"User Commands\"
.ad l
.SH NAME
sheetmerge \\- 把多个 Excel/CSV 工作簿中的同一张工作表合并到一个新工作簿
.SH SYNOPSIS
.B sheetmerge
.br
.B sheetmerge merge
[\\fIoptions\\fR] \\fIpath\\fR...
.br
.B sheetmerge inspect
\\fIfile\\fR
.br
.B sheetmerge cat
\\fIfile\\fR [\\fB\\-\\-sheet\\-index\\fR \\fIN\\fR | \\fB\\-\\-sheet\\-name\\fR \\fIname\\fR]
.br
.B sheetmerge
\\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR
.SH DESCRIPTION
不带参数运行 sheetmerge 时启动图形界面（需要图形显示）；带参数时为命令行。
以下各节是程序自身输出的说明。
.SH COMMANDS
.nf
${general}.fi
.SH \"MERGE OPTIONS\"
.nf
${merge}.fi
.SH FILES
.TP
.I ~/.config/sheetmerge/sheetmerge.conf
图形界面记住的上次选取文件或文件夹时所在的文件夹。
.SH VERSION
${VERSION}
")

get_filename_component(folder "${OUTPUT}" DIRECTORY)
string(REGEX REPLACE "\\.gz$" "" plain "${OUTPUT}")
file(WRITE "${plain}" "${page}")
# gzip -n: no name or time stamp inside, so the package is the same on every build.
execute_process(COMMAND gzip -9 -n -c "${plain}" OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed: ${status}")
endif()
