// An in-memory spreadsheet application for the merge tests: workbooks are grids of values with
// rich text runs, merges, column widths and hidden columns, and recorded formats; failures are
// switched on per file or per call, and every call on a workbook is logged so tests can check
// what the run did.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "merge/automation.h"
#include "merge/run_host.h"

namespace merge::testing {

using spreadsheet::CellRef;
using spreadsheet::Error;
using spreadsheet::ErrorCode;
using spreadsheet::RangeRef;

// The format of one cell as the run set it, and as copies carry it.
struct FakeCellFormat {
    std::string font;
    int size = 0;
    bool bold = false;
    int colour = 0;
    bool centred = false;
    std::string numberFormat;  // "" for General
    friend bool operator==(const FakeCellFormat&, const FakeCellFormat&) = default;
};

// One run of a rich text: its piece of the text and its font (none: the cell's font).
struct FakeRun {
    std::string text;
    std::optional<spreadsheet::Font> font;
    friend bool operator==(const FakeRun&, const FakeRun&) = default;
};

struct FakeSheet {
    std::string name;
    bool worksheet = true;
    spreadsheet::Visibility visibility = spreadsheet::Visibility::Visible;
    int maxRows = spreadsheet::XlsxMaxRows;
    std::map<std::pair<int, int>, CellValue> cells;  // (row, column)
    std::set<std::pair<int, int>> formulas;
    int uncalculatedFormulas = 0;  // of the formulas, those read without a cached value
    std::vector<RangeRef> merges;
    std::map<int, double> widths;
    std::set<int> hiddenColumns;
    double defaultWidth = 0;  // of columns without a width of their own; 0 = not given
    // The runs of rich texts, (row, column); the runs' texts make up the cell's text.
    std::map<std::pair<int, int>, std::vector<FakeRun>> runs;
    bool autoFilter = false;
    std::optional<CellRef> frozenAt;  // the active cell when panes were frozen
    CellRef activeCell{1, 1};
    std::vector<std::string> formats;  // "B2:E2 colour 3", ... as the run set them
    std::map<std::pair<int, int>, FakeCellFormat> cellFormats;  // (row, column), formatted only
    std::map<std::pair<int, int>, std::string> notes;           // (row, column) -> note text

    CellValue at(int row, int column) const {
        auto found = cells.find({row, column});
        return found == cells.end() ? CellValue{} : found->second;
    }
    std::string textAt(int row, int column) const { return at(row, column).text; }
    double numberAt(int row, int column) const { return at(row, column).number; }
    int lastRow() const {
        int last = 0;
        for (const auto& [key, value] : cells)
            if (!value.isEmpty() && key.first > last) last = key.first;
        return last;
    }
};

// What a file holds before it is opened, and how it misbehaves.
struct FakeFile {
    std::vector<FakeSheet> sheets;
    int activeSheet = 0;
    bool copyFails = false;               // every copy out of this workbook fails
    std::optional<std::string> password;  // set: opens only with this password among the given
};

class FakeApplication;

class FakeWorkbook;

class FakeRange : public Range {
public:
    FakeRange(FakeApplication& application, std::shared_ptr<FakeSheet> sheet, RangeRef area)
        : m_application(application), m_sheet(std::move(sheet)), m_area(area) {}

    int row() const override { return m_area.first.row; }
    int column() const override { return m_area.first.column; }
    int rowCount() const override { return m_area.rowCount(); }
    int columnCount() const override { return m_area.columnCount(); }
    CellValue value() override { return m_sheet->at(row(), column()); }
    ValueBlock values() override;
    void setValue(const CellValue& value) override;
    void setValues(const ValueBlock& values) override;
    std::string numberFormat() override;
    void setNumberFormat(const std::string& code) override {
        note("number format " + code, [&](FakeCellFormat& format) {
            format.numberFormat = code == "General" ? std::string() : code;
        });
    }
    std::shared_ptr<Range> offset(int rows, int columns) override;
    std::shared_ptr<Range> resize(int rows, int columns) override;
    void copy() override;
    void copyTo(Range& destination) override;
    void pasteSpecial(PasteKind kind) override;
    RowSelection selectRows(const BlockPlan& plan, RowDigestSet& seen) override;
    int copyRows(Range& destination, const RowSelection& rows, const BlockPlan& plan) override;
    void merge() override;
    void setFontName(const std::string& name) override {
        note("font " + name, [&](FakeCellFormat& format) { format.font = name; });
    }
    void setFontSize(double points) override {
        note("size " + std::to_string(static_cast<int>(points)),
             [&](FakeCellFormat& format) { format.size = static_cast<int>(points); });
    }
    void setFontBold(bool bold) override {
        note(bold ? "bold" : "not bold", [&](FakeCellFormat& format) { format.bold = bold; });
    }
    void setFontColorIndex(int index) override {
        note("colour " + std::to_string(index),
             [&](FakeCellFormat& format) { format.colour = index; });
    }
    void centreHorizontally() override {
        note("centre", [](FakeCellFormat& format) { format.centred = true; });
    }
    void setColumnWidth(double characters) override;
    void autoFitColumns() override { note("autofit"); }
    void setNote(const std::string& text) override;
    void select() override { m_sheet->activeCell = m_area.first; }

    const std::shared_ptr<FakeSheet>& sheet() const { return m_sheet; }
    const RangeRef& area() const { return m_area; }

private:
    void note(const std::string& what) {
        m_sheet->formats.push_back(spreadsheet::formatRange(m_area) + " " + what);
    }
    // Records the format and applies it to every cell of the range.
    template <typename Change>
    void note(const std::string& what, Change change) {
        note(what);
        for (int row = m_area.first.row; row <= m_area.last.row; ++row)
            for (int column = m_area.first.column; column <= m_area.last.column; ++column)
                change(m_sheet->cellFormats[{row, column}]);
    }
    FakeApplication& m_application;
    std::shared_ptr<FakeSheet> m_sheet;
    RangeRef m_area;
};

class FakeWorksheet : public Worksheet {
public:
    FakeWorksheet(FakeApplication& application, FakeWorkbook& book,
                  std::shared_ptr<FakeSheet> sheet)
        : m_application(application), m_book(book), m_sheet(std::move(sheet)) {}
    std::string name() const override { return m_sheet->name; }
    spreadsheet::Visibility visibility() const override { return m_sheet->visibility; }
    void setName(const std::string& name) override;
    void select() override;
    void removeAutoFilter() override { m_sheet->autoFilter = false; }
    int rowCount() const override { return m_sheet->maxRows; }
    int usedColumnCount() override;
    std::shared_ptr<Range> range(const std::string& reference) override;
    std::shared_ptr<Range> range(CellRef first, CellRef last) override;
    std::shared_ptr<Range> cell(int row, int column) override {
        return range(CellRef{row, column}, CellRef{row, column});
    }
    int formulaCellCount() override;
    void replaceFormulasByValues() override { m_sheet->formulas.clear(); }
    int fillMergedCells(const RangeRef& area) override;
    void keepTopRowsOpen(int rows) override { m_openRows = rows; }
    int uncalculatedFormulaCount() override { return m_sheet->uncalculatedFormulas; }
    std::shared_ptr<Range> findLast(SearchOrder order) override;
    void clearFromRow(int row) override;
    void remove() override;
    void holdTopRows(int rows) override { m_heldRows = rows; }

    const std::shared_ptr<FakeSheet>& sheet() const { return m_sheet; }
    int heldRows() const { return m_heldRows; }
    int openRows() const { return m_openRows; }

private:
    FakeApplication& m_application;
    FakeWorkbook& m_book;
    std::shared_ptr<FakeSheet> m_sheet;
    int m_heldRows = 0;
    int m_openRows = 0;
};

class FakeWorkbook : public Workbook, public std::enable_shared_from_this<FakeWorkbook> {
public:
    FakeWorkbook(FakeApplication& application, std::string path)
        : m_application(application), m_path(std::move(path)) {}
    std::string name() const override;
    std::string fullName() const override { return m_path; }
    std::shared_ptr<Worksheet> activeSheet() override;
    int worksheetCount() override;
    std::shared_ptr<Worksheet> worksheet(int position) override;
    std::shared_ptr<Worksheet> worksheet(const std::string& name) override;
    std::shared_ptr<Worksheet> addWorksheet(Worksheet& anchor, Placement placement) override;
    void setFreezePanes(bool frozen) override;
    void saveAs(const std::string& path, SaveFormat format) override;
    void save() override;
    void close() override;

    std::vector<std::shared_ptr<FakeSheet>> sheets;
    int active = 0;
    bool closed = false;
    bool copyFails = false;
    SaveFormat format = SaveFormat::Xlsx;
    int saves = 0;

private:
    friend class FakeWorksheet;
    FakeApplication& m_application;
    std::string m_path;
};

class FakeApplication : public Application {
public:
    ErrorState& errors() override { return m_errors; }
    std::shared_ptr<Workbook> openWorkbook(const std::string& path) override;
    void expectOpen(const std::string& path) override { calls.push_back("expect " + path); }
    void setPasswords(std::vector<std::string> passwords) override {
        passwordLists.push_back(passwords);
        m_passwords = std::move(passwords);
    }
    int sheetsInNewWorkbook() const override { return m_sheetsInNewWorkbook; }
    void setSheetsInNewWorkbook(int count) override;
    std::shared_ptr<Workbook> addWorkbook() override;
    void clearClipboard() override { clipboard.reset(); }
    void setDisplayAlerts(bool shown) override {
        calls.push_back(shown ? "alerts on" : "alerts off");
    }
    void setVisible(bool visible) override { calls.push_back(visible ? "visible" : "invisible"); }
    void maximise() override { calls.push_back("maximise"); }
    void quit() override { calls.push_back("quit"); }

    // Set up by tests.
    std::map<std::string, FakeFile> files;
    bool canWriteXlsx = true;
    std::string saveFailsWith;              // non-empty: the final save() fails with this detail
    std::set<std::string> unwritablePaths;  // saveAs to these fails with WriteFailed
    int resultMaxRows = spreadsheet::XlsxMaxRows;

    // Observed.
    std::vector<std::string> calls;  // application-level calls and opens, in order
    std::vector<std::shared_ptr<FakeWorkbook>> books;  // every workbook opened or added
    std::shared_ptr<FakeWorkbook> result;              // the last added workbook
    std::map<std::string, SaveFormat> written;         // files the fake "wrote"
    std::shared_ptr<FakeRange> clipboard;
    int maxSheetsAllowed = 0;  // observed SheetsInNewWorkbook at addWorkbook
    std::vector<std::vector<std::string>> passwordLists;  // every setPasswords(), in order

private:
    ErrorState m_errors;
    std::vector<std::string> m_passwords;
    int m_sheetsInNewWorkbook = 3;
};

// A RunHost that answers the options dialog with fixed options and records everything.
class RecordingHost : public RunHost {
public:
    MergeOptions answer;
    std::optional<SampleInfo> sample;
    ReferenceResolver resolver;
    std::vector<std::pair<int, int>> progress;
    int progressClosed = 0;
    struct Message {
        std::string text;
        MessageStyle style;
        std::string title;
    };
    std::vector<Message> messages;
    std::vector<std::filesystem::path> handedOver;
    std::function<void(const ReferenceResolver&)> duringDialog;
    // Answers to password questions, taken in order; none left means "skip".
    std::vector<PasswordAnswer> passwordAnswers;
    std::vector<std::pair<std::string, int>> passwordQuestions;  // (path, attempt)
    // Narrows the sources after the dialog to those it keeps; unset keeps them all.
    std::function<bool(const std::string&)> keepSource;
    std::vector<std::string> narrowedFrom;  // the list the run offered to narrow

    MergeOptions askOptions(const SampleInfo& info, const ReferenceResolver& resolve) override {
        sample = info;
        if (duringDialog) duringDialog(resolve);
        return answer;
    }
    std::optional<std::vector<std::string>> narrowSources(
        const std::vector<std::string>& sources) override {
        narrowedFrom = sources;
        if (!keepSource) return std::nullopt;
        std::vector<std::string> kept;
        for (const std::string& source : sources)
            if (keepSource(source)) kept.push_back(source);
        return kept;
    }
    void showProgress(int done, int total) override { progress.emplace_back(done, total); }
    void closeProgress() override { ++progressClosed; }
    MessageAnswer showMessage(const std::string& text, MessageStyle style,
                              const std::string& title) override {
        messages.push_back({text, style, title});
        return MessageAnswer::Ok;
    }
    void handOver(const std::filesystem::path& result) override { handedOver.push_back(result); }
    PasswordAnswer askPassword(const std::string& path, int attempt) override {
        passwordQuestions.emplace_back(path, attempt);
        if (passwordAnswers.empty()) return {};
        PasswordAnswer answer = passwordAnswers.front();
        passwordAnswers.erase(passwordAnswers.begin());
        return answer;
    }
};

// A sheet with `rows` rows of `columns` values: row r, column c holds the text "<tag>r,c".
FakeSheet gridSheet(const std::string& name, const std::string& tag, int rows, int columns,
                    int firstRow = 1);

}  // namespace merge::testing
