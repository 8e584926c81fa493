// Saves pictures of the desktop program's windows as a user sees them: the main window, the
// options dialog filled from a sample workbook, the progress window part-way through a run with
// its file and "取消", the password question for an encrypted source, and the final message of
// a saved run.
//   screenshots SAMPLE.xlsx OUTPUT_FOLDER     (run by tools/screenshots.sh under Xvfb)
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include "app/artwork.h"
#include "app/desktop_start.h"
#include "app/final_message.h"
#include "app/form1.h"
#include "app/form3.h"
#include "app/password_dialog.h"
#include "merge/result_finishing.h"
#include "options/form2.h"
#include "sources/folder_walk.h"
#include "spreadsheet/workbook_reader.h"
#include "widgets/fonts.h"

namespace {

bool save(QWidget& window, const QString& path) {
    window.show();
    window.raise();
    window.activateWindow();
    QTest::qWaitForWindowExposed(&window);
    QTest::qWait(300);
    const bool saved = window.grab().save(path);
    std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fputs("usage: screenshots SAMPLE.xlsx OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    QApplication::setFont(widgets::dialogFont(12));
    QApplication::setWindowIcon(app::artwork::windowIcon());
    app::installToolkitTranslations(application);
    const std::filesystem::path samplePath = argv[1];
    // The pictures show the sample in a user's folder, not where this checkout happens to be.
    const std::filesystem::path shownFolder = "/home/user/月报";
    const std::filesystem::path shownSample = shownFolder / samplePath.filename();
    const QString output = QString::fromLocal8Bit(argv[2]);
    bool allSaved = true;

    app::Form1 mainWindow;
    mainWindow.setMergeRunningProbe([] { return false; });
    mainWindow.Form_Load();
    allSaved &= save(mainWindow, output + QStringLiteral("/main_window.png"));
    // The pick-folder button as it looks under the pointer.
    QTest::mouseMove(
        &mainWindow,
        mainWindow.findChild<QWidget*>(QStringLiteral("ImgFolder2"))->geometry().center());
    allSaved &= save(mainWindow, output + QStringLiteral("/main_window_folder_lit.png"));
    mainWindow.hide();

    merge::SampleInfo sample;
    sample.folderPath = shownFolder.string() + "/";
    sample.sourceCount = 4;
    sample.samplePath = shownSample.string();
    spreadsheet::Result<spreadsheet::WorkbookData> book = spreadsheet::openWorkbookFile(samplePath);
    if (book) {
        int position = 0;
        for (const spreadsheet::Sheet& sheet : book->sheets) {
            if (sheet.kind != spreadsheet::SheetKind::Worksheet) continue;
            if (position == book->activeSheet) sample.activeWorksheet = position;
            sample.worksheetNames.push_back(sheet.name);
            ++position;
        }
    } else {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    options::Form2 dialog;
    dialog.fill(sample);
    allSaved &= save(dialog, output + QStringLiteral("/options_dialog.png"));
    QTest::keyClicks(dialog.Txt_Row, QStringLiteral("2"));
    dialog.Check3->setChecked(true);
    dialog.Option8->setChecked(true);
    QTest::keyClicks(dialog.Txt_Head, QStringLiteral("B1"));
    allSaved &= save(dialog, output + QStringLiteral("/options_dialog_filled.png"));
    // The section "更多选项" open for a folder: every sheet but hidden ones, columns by header
    // name, a stop text, the merge log and a file-name filter.
    std::vector<std::string> folderFiles;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(samplePath.parent_path(), error))
        if (sources::isSourceName(entry.path().filename().string()))
            folderFiles.push_back(entry.path().filename().string());
    options::SourceChoice choice;
    choice.paths = {shownFolder.string()};
    choice.folder = true;
    choice.countTaken = [&folderFiles](const std::vector<std::string>& include,
                                       const std::vector<std::string>& exclude) {
        const sources::NameFilter filter{include, exclude};
        return static_cast<int>(
            std::count_if(folderFiles.begin(), folderFiles.end(),
                          [&](const std::string& name) { return filter.takes(name); }));
    };
    dialog.setSources(std::move(choice));
    dialog.setJobFileChooser([](QWidget*) { return std::nullopt; });
    dialog.Option9->setChecked(true);
    dialog.Btn_More->setChecked(true);
    dialog.Check_Align->setChecked(true);
    dialog.Check_BlankRows->setChecked(true);
    dialog.Check_StopAt->setChecked(true);
    dialog.Txt_StopAt->insert(QStringLiteral("合计"));
    dialog.Check_LogSheet->setChecked(true);
    dialog.Option_AllSheets->setChecked(true);
    dialog.Check_SkipHidden->setChecked(true);
    dialog.Txt_Exclude->insert(QStringLiteral("*备份*"));
    allSaved &= save(dialog, output + QStringLiteral("/options_dialog_more.png"));
    dialog.hide();

    app::Form3 progress;
    progress.show();
    progress.showFile(QString::fromStdString(shownSample.string()));
    progress.showProgress(3, 8);
    allSaved &= save(progress, output + QStringLiteral("/progress_window.png"));

    // A second try at the password of an encrypted source, over the progress window.
    app::PasswordDialog password(QString::fromStdString((shownFolder / "工资 六月.xlsx").string()),
                                 2, false, &progress);
    QTest::keyClicks(password.Txt_Password, QStringLiteral("secret"));
    allSaved &= save(password, output + QStringLiteral("/password_dialog.png"));
    password.hide();
    progress.unload();

    const QString resultPath =
        QString::fromStdString(shownFolder.string()) + QStringLiteral("/合并 150615 093012.xlsx");
    app::FinalMessage finalMessage(QString::fromStdString(merge::summaryText(8, 7, 1)), resultPath,
                                   {});
    allSaved &= save(finalMessage, output + QStringLiteral("/final_message.png"));
    finalMessage.hide();
    return allSaved ? 0 : 1;
}
