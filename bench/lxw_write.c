/* The libxlsxwriter comparison: writes one header row of ten text cells and ROWS rows of the same
 * ten mixed cells, values and number formats that floor_bench writes with our writer (numbers,
 * ASCII and CJK text, dates, amounts, booleans, percentages, decimals), split into sheets at the
 * row limit, with libxlsxwriter in constant-memory mode at its default deflate level. Prints
 * key=value lines for bench/merge_bench.py; the file is left for the caller to check or remove.
 *   build/bench/lxw_write OUTPUT_FILE ROWS
 */
#define _POSIX_C_SOURCE 200809L /* clock_gettime */

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

#include "xlsxwriter.h"

static double wallSeconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static double cpuSeconds(void) {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (double)usage.ru_utime.tv_sec + (double)usage.ru_utime.tv_usec / 1e6 +
           (double)usage.ru_stime.tv_sec + (double)usage.ru_stime.tv_usec / 1e6;
}

static const char* const HeaderTitles[10] = {"编号", "名称", "门店", "日期", "金额",
                                             "有效", "双倍", "前缀", "比例", "偏差"};

/* Stops at the first failed call; libxlsxwriter keeps no error state of its own. */
static int check(lxw_error error, const char* what) {
    if (error == LXW_NO_ERROR) return 1;
    fprintf(stderr, "lxw_write: %s: %s\n", what, lxw_strerror(error));
    return 0;
}

/* One row of mixed cells; `serial` counts data rows from 1 across sheets, as in floor_bench. */
static int writeRow(lxw_worksheet* sheet, lxw_row_t row, long long serial, lxw_format* date,
                    lxw_format* amount, lxw_format* percent) {
    char text[32];
    lxw_error error = worksheet_write_number(sheet, row, 0, (double)serial, NULL);
    if (error == LXW_NO_ERROR) {
        snprintf(text, sizeof text, "Item-%lld", serial % 1000);
        error = worksheet_write_string(sheet, row, 1, text, NULL);
    }
    if (error == LXW_NO_ERROR) {
        snprintf(text, sizeof text, "门店%lld号", serial % 97);
        error = worksheet_write_string(sheet, row, 2, text, NULL);
    }
    if (error == LXW_NO_ERROR)
        error = worksheet_write_number(sheet, row, 3, (double)(44927 + serial % 1000), date);
    if (error == LXW_NO_ERROR)
        error =
            worksheet_write_number(sheet, row, 4, (double)(serial * 17 % 100000) / 100.0, amount);
    if (error == LXW_NO_ERROR)
        error = worksheet_write_boolean(sheet, row, 5, (int)(serial % 2), NULL);
    if (error == LXW_NO_ERROR)
        error = worksheet_write_number(sheet, row, 6, (double)(serial * 2), NULL);
    if (error == LXW_NO_ERROR) error = worksheet_write_string(sheet, row, 7, "Item", NULL);
    if (error == LXW_NO_ERROR)
        error = worksheet_write_number(sheet, row, 8, (double)(serial % 100) / 100.0, percent);
    if (error == LXW_NO_ERROR)
        error = worksheet_write_number(sheet, row, 9, -(double)(serial % 9973) / 7.0, NULL);
    return check(error, "writing a row");
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: lxw_write OUTPUT_FILE ROWS\n");
        return 2;
    }
    const char* target = argv[1];
    char* end = NULL;
    errno = 0;
    const long long dataRows = strtoll(argv[2], &end, 10);
    if (errno != 0 || end == argv[2] || *end != '\0' || dataRows < 0) {
        fprintf(stderr, "lxw_write: ROWS must be a whole number of zero or more, not '%s'\n",
                argv[2]);
        return 2;
    }

    const double startWall = wallSeconds();
    const double startCpu = cpuSeconds();

    /* Constant memory: each row goes to a temporary file once the next row starts, so memory
     * stays small whatever the row count; rows must then come in order, as they do here. */
    lxw_workbook_options options = {
        .constant_memory = LXW_TRUE, .tmpdir = NULL, .use_zip64 = LXW_FALSE};
    lxw_workbook* book = workbook_new_opt(target, &options);
    if (book == NULL) {
        fprintf(stderr, "lxw_write: cannot create %s\n", target);
        return 1;
    }
    lxw_format* date = workbook_add_format(book);
    format_set_num_format(date, "yyyy-mm-dd");
    lxw_format* amount = workbook_add_format(book);
    format_set_num_format(amount, "#,##0.00");
    lxw_format* percent = workbook_add_format(book);
    format_set_num_format(percent, "0.00%");

    /* The header takes row 1 of the first sheet; data rows fill each sheet to the row limit. */
    long long written = 0;
    long long rowsOut = 0;
    int sheetCount = 0;
    int ok = 1;
    while (ok && (written < dataRows || sheetCount == 0)) {
        char name[32];
        snprintf(name, sizeof name, "Sheet%d", ++sheetCount);
        lxw_worksheet* sheet = workbook_add_worksheet(book, name);
        if (sheet == NULL) {
            fprintf(stderr, "lxw_write: cannot add sheet %s\n", name);
            ok = 0;
            break;
        }
        lxw_row_t row = 0;
        if (sheetCount == 1) {
            for (lxw_col_t column = 0; ok && column < 10; ++column)
                ok = check(worksheet_write_string(sheet, 0, column, HeaderTitles[column], NULL),
                           "writing the header");
            ++row;
            ++rowsOut;
        }
        for (; ok && row < LXW_ROW_MAX && written < dataRows; ++row) {
            ok = writeRow(sheet, row, ++written, date, amount, percent);
            ++rowsOut;
        }
    }
    /* Closing writes the package even after a failed row, so the workbook is always freed. */
    const lxw_error closed = workbook_close(book);
    if (!ok || !check(closed, "saving the workbook")) return 1;

    const double writeWall = wallSeconds() - startWall;
    const double writeCpu = cpuSeconds() - startCpu;
    struct stat status;
    if (stat(target, &status) != 0) {
        fprintf(stderr, "lxw_write: %s was not written\n", target);
        return 1;
    }
    printf("write_sheets=%d\nwrite_rows=%lld\nwrite_cells=%lld\nwrite_bytes=%lld\n", sheetCount,
           rowsOut, rowsOut * 10, (long long)status.st_size);
    printf("write_wall=%.3f\nwrite_cpu=%.3f\n", writeWall, writeCpu);
    return 0;
}
