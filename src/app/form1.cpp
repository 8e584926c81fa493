#include "app/form1.h"

#include <cmath>

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include "app/artwork.h"
#include "app/desktop_host.h"
#include "app/texts.h"
#include "merge/engine_application.h"
#include "merge/run_lock.h"
#include "sources/folder_walk.h"
#include "version.h"
#include "widgets/active_label.h"
#include "widgets/fonts.h"
#include "widgets/mdl_move_noborder_wnd.h"
#include "widgets/message_service.h"
#include "widgets/twips.h"

namespace app {

namespace {

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

merge::MessageAnswer notice(const QString& message) {
    return widgets::MessageService::show(message, merge::MessageStyle::Information,
                                         text(texts::NoticeTitle));
}

widgets::ActiveLabel* makePicture(QWidget* parent, const char* name, QRect where,
                                  const QPixmap& picture) {
    auto* label = new widgets::ActiveLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(where);
    label->setPixmap(picture);
    label->setScaledContents(true);
    return label;
}

}  // namespace

Form1::Form1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      m_chooseFiles(ApiSelectFiles::SelectFiles),
      m_chooseFolder(ApiSelectFiles::BrowseForFolder),
      m_isMergeRunning([] { return merge::isMergeRunning(); }),
      m_openResult(FinalMessage::openInDesktop) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(text(texts::MainWindowCaption));
    setWindowIcon(artwork::windowIcon());
    setFixedSize(widgets::twipsToPixels(6000), widgets::twipsToPixels(3900));
    setMouseTracking(true);
    setAcceptDrops(true);
    m_background = artwork::backgroundPicture();
    createControls();
    connectControls();
    moveToScreenCentre();
}

void Form1::createControls() {
    using artwork::Look;
    // Created from the bottom of the stacking order up: a later control lies above.
    ImgMin2 = makePicture(this, "ImgMin2", widgets::twipsRect(5280, 130, 300, 300),
                          artwork::minimisePicture(Look::Normal));
    ImgQuit2 = makePicture(this, "ImgQuit2", widgets::twipsRect(5580, 130, 300, 300),
                           artwork::quitPicture(Look::Normal));
    LblIcon = new widgets::ActiveLabel(this);
    LblIcon->setObjectName(QStringLiteral("LblIcon"));
    LblIcon->setGeometry(widgets::twipsRect(120, 130, 255, 255));
    LblGreeting = new widgets::ActiveLabel(this);
    LblGreeting->setObjectName(QStringLiteral("LblGreeting"));
    LblGreeting->setGeometry(widgets::twipsRect(240, 660, 5720, 495));
    LblGreeting->setFont(widgets::songFont(14));
    LblGreeting->setWordWrap(true);
    LblGreeting->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPalette greetingPalette = LblGreeting->palette();
    greetingPalette.setColor(QPalette::WindowText, Qt::white);
    LblGreeting->setPalette(greetingPalette);
    LblGreeting->setText(text(texts::GreetingAtStart));
    ImgQuit1 = makePicture(this, "ImgQuit1", widgets::twipsRect(5580, 130, 300, 300),
                           artwork::quitPicture(Look::Highlighted));
    ImgMin1 = makePicture(this, "ImgMin1", widgets::twipsRect(5280, 130, 300, 300),
                          artwork::minimisePicture(Look::Highlighted));
    ImgFolder2 = makePicture(this, "ImgFolder2", widgets::twipsRect(3500, 1800, 1500, 1500),
                             artwork::folderPicture(Look::Normal));
    ImgFolder1 = makePicture(this, "ImgFolder1", widgets::twipsRect(3500, 1800, 1500, 1500),
                             artwork::folderPicture(Look::Highlighted));
    ImgFiles2 = makePicture(this, "ImgFiles2", widgets::twipsRect(1020, 1800, 1500, 1500),
                            artwork::filesPicture(Look::Normal));
    ImgFiles1 = makePicture(this, "ImgFiles1", widgets::twipsRect(1020, 1800, 1500, 1500),
                            artwork::filesPicture(Look::Highlighted));
    for (widgets::ActiveLabel* button : {ImgFiles1, ImgFolder1, ImgMin1, ImgQuit1})
        button->setCursor(Qt::PointingHandCursor);

    // The two ways of choosing take the keyboard: Tab moves between them, lighting the one
    // with the focus, and Enter or Space acts as a click on it.
    ImgFiles2->setFocusPolicy(Qt::TabFocus);
    ImgFolder2->setFocusPolicy(Qt::TabFocus);
    ImgFiles2->setAccessibleName(text(texts::ArtworkFilesCaption));
    ImgFolder2->setAccessibleName(text(texts::ArtworkFolderCaption));
}

void Form1::connectControls() {
    connect(ImgFiles2, &widgets::ActiveLabel::focusReceived, this, &Form1::ImgFiles2_MouseMove);
    connect(ImgFolder2, &widgets::ActiveLabel::focusReceived, this, &Form1::ImgFolder2_MouseMove);
    connect(ImgFiles2, &widgets::ActiveLabel::activated, this, &Form1::ImgFiles1_Click);
    connect(ImgFolder2, &widgets::ActiveLabel::activated, this, &Form1::ImgFolder1_Click);
    connect(LblGreeting, &widgets::ActiveLabel::pointerMoved, this, &Form1::LblGreeting_MouseMove);
    connect(LblIcon, &widgets::ActiveLabel::pointerMoved, this, &Form1::LblIcon_MouseMove);
    connect(LblIcon, &widgets::ActiveLabel::doubleClicked, this, &Form1::LblIcon_DblClick);
    connect(ImgFiles2, &widgets::ActiveLabel::pointerMoved, this, &Form1::ImgFiles2_MouseMove);
    connect(ImgFolder2, &widgets::ActiveLabel::pointerMoved, this, &Form1::ImgFolder2_MouseMove);
    connect(ImgMin2, &widgets::ActiveLabel::pointerMoved, this, &Form1::ImgMin2_MouseMove);
    connect(ImgQuit2, &widgets::ActiveLabel::pointerMoved, this, &Form1::ImgQuit2_MouseMove);
    connect(ImgFiles1, &widgets::ActiveLabel::clicked, this, &Form1::ImgFiles1_Click);
    connect(ImgFolder1, &widgets::ActiveLabel::clicked, this, &Form1::ImgFolder1_Click);
    connect(ImgMin1, &widgets::ActiveLabel::clicked, this, &Form1::ImgMin1_Click);
    connect(ImgQuit1, &widgets::ActiveLabel::clicked, this, &Form1::ImgQuit1_Click);
}

QStringList Form1::greetingTips() {
    return text(texts::GreetingTips).split(QLatin1Char('|'));
}

int Form1::greetingIndex(double x) {
    const int index = static_cast<int>(std::floor(30.0 * x));
    return std::clamp(index, 0, 29);
}

bool Form1::Form_Load() {
    if (m_isMergeRunning && m_isMergeRunning()) {
        widgets::MessageService::show(text(texts::MergeAlreadyRunning),
                                      merge::MessageStyle::Warning, text(texts::NoticeTitle));
        return false;
    }
    hideHighlights();
    const QStringList tips = greetingTips();
    LblGreeting->setText(tips.value(greetingIndex(QRandomGenerator::global()->generateDouble())));
    // The window itself holds the focus at first, so that no button lights up before Tab.
    setFocusPolicy(Qt::ClickFocus);
    setFocus(Qt::OtherFocusReason);
    show();
    activateWindow();
    return true;
}

bool Form1::focusNextPrevChild(bool next) {
    QWidget* current = focusWidget();
    QWidget* target = nullptr;
    if (current == ImgFiles2 || current == ImgFolder2)
        target = current == ImgFiles2 ? ImgFolder2 : ImgFiles2;
    else
        target = next ? ImgFiles2 : ImgFolder2;
    target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void Form1::unload() {
    m_unloading = true;
    close();
    m_unloading = false;
}

void Form1::closeEvent(QCloseEvent* event) {
    if (m_unloading) {
        event->accept();
        return;
    }
    // While a picker or a merge is under way the window is out of sight and not to be closed.
    if (m_choosing) {
        event->ignore();
        return;
    }
    event->accept();
    emit programEnded();
}

void Form1::hideHighlights() {
    for (widgets::ActiveLabel* picture : {ImgFiles1, ImgFolder1, ImgMin1, ImgQuit1})
        picture->hide();
}

void Form1::moveToScreenCentre() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->geometry();
    move(area.left() + area.width() / 2 - width() / 2,
         area.top() + area.height() / 2 - height() / 2);
}

void Form1::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_background);
    // The four edge lines Line4, Line3, Line2 and LineB.
    painter.setPen(QColor(0xE0, 0xE0, 0xE0));
    painter.drawLine(widgets::twipsPoint(0, 0), widgets::twipsPoint(6000, 0));
    painter.drawLine(widgets::twipsPoint(0, 3900), widgets::twipsPoint(0, 0));
    painter.drawLine(widgets::twipsPoint(5980, 3900), widgets::twipsPoint(5980, 0));
    painter.drawLine(widgets::twipsPoint(0, 3880), widgets::twipsPoint(6000, 3880));
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
    // Only moves over the bare window arrive here: every control keeps its moves to itself.
    Form_MouseMove(event->buttons(), event->globalPosition().toPoint());
    event->accept();
}

void Form1::Form_MouseMove(Qt::MouseButtons buttons, QPoint pointer) {
    hideHighlights();
    if (buttons == Qt::LeftButton) widgets::MdlMoveNoborderWnd::MoveNoborderWnd(this, pointer);
}

void Form1::LblGreeting_MouseMove(Qt::MouseButtons buttons, QPoint pointer) {
    hideHighlights();
    if (buttons == Qt::LeftButton) widgets::MdlMoveNoborderWnd::MoveNoborderWnd(this, pointer);
}

void Form1::LblIcon_MouseMove(Qt::MouseButtons buttons, QPoint pointer) {
    if (buttons == Qt::LeftButton) widgets::MdlMoveNoborderWnd::MoveNoborderWnd(this, pointer);
}

void Form1::LblIcon_DblClick() {
    widgets::MessageService::show(
        text(texts::AboutProgram) + QString::fromUtf8(sheetmerge::Version) + text(texts::AboutRest),
        merge::MessageStyle::Plain, text(texts::AboutTitle), this);
}

void Form1::ImgFiles2_MouseMove() {
    ImgFiles1->show();
    ImgFolder1->hide();
}

void Form1::ImgFolder2_MouseMove() {
    ImgFolder1->show();
    ImgFiles1->hide();
}

void Form1::ImgMin2_MouseMove() {
    ImgMin1->show();
    ImgQuit1->hide();
}

void Form1::ImgQuit2_MouseMove() {
    ImgQuit1->show();
    ImgMin1->hide();
}

void Form1::ImgMin1_Click() {
    showMinimized();
    ImgMin1->hide();
}

void Form1::ImgQuit1_Click() {
    unload();
    emit programEnded();
}

void Form1::ImgFiles1_Click() {
    ImgFiles1->hide();
    m_choosing = true;
    // Out of sight while the dialog is open: it stays loaded and visible, only off the screen.
    move(-widgets::twipsToPixels(width() * widgets::TwipsPerPixel + 100),
         -widgets::twipsToPixels(height() * widgets::TwipsPerPixel + 100));
    for (;;) {
        const std::optional<SelectedFiles> chosen = m_chooseFiles ? m_chooseFiles() : std::nullopt;
        if (!chosen) {
            moveToScreenCentre();
            m_choosing = false;
            return;
        }
        if (chosen->names.size() < 2) {
            notice(text(texts::AtLeastTwoFiles));
            continue;
        }
        const std::string folder = sources::withOneTrailingSlash(chosen->directory.toStdString());
        std::vector<std::string> files;
        for (const QString& name : chosen->names) files.push_back(folder + name.toStdString());
        mergeFiles(folder, std::move(files));
        return;
    }
}

void Form1::ImgFolder1_Click() {
    ImgFolder1->hide();
    m_choosing = true;
    hide();
    QApplication::processEvents();
    for (;;) {
        const std::optional<BrowsedFolder> chosen =
            m_chooseFolder ? m_chooseFolder(text(texts::ChooseFolderPrompt)) : std::nullopt;
        if (!chosen) {
            show();
            m_choosing = false;
            return;
        }
        if (mergeFolder(*chosen) != FolderOutcome::Refused) return;
    }
}

void Form1::mergeFiles(const std::string& folderPath, std::vector<std::string> sources,
                       int earlierResultsLeftOut, std::optional<ChosenSources> folder) {
    m_choosing = true;
    FolderPath = folderPath;
    SourceList = std::move(sources);
    m_chosen = folder ? std::move(*folder) : ChosenSources{SourceList, false, false};
    unload();
    Zelk(earlierResultsLeftOut);
    emit programEnded();
}

Form1::FolderOutcome Form1::mergeFolder(const BrowsedFolder& chosen) {
    const sources::ChosenFolder folder = sources::checkChosenFolderOnDisk(
        chosen.displayName.toStdString(), chosen.path.toStdString());
    if (folder.check != sources::FolderCheck::Ok) {
        FolderPath.clear();
        notice(QString::fromStdString(folder.message));
        return FolderOutcome::Refused;
    }
    FolderPath = folder.folderPath;
    sources::FileSystemLister lister;
    bool recursive = false;
    const sources::WalkResult walk = sources::walkFolder(FolderPath, lister, [&recursive] {
        recursive = widgets::MessageService::show(
                        text(texts::IncludeSubfoldersQuestion), merge::MessageStyle::YesNoQuestion,
                        text(texts::ChoiceTitle)) == merge::MessageAnswer::Yes;
        return recursive;
    });
    if (walk.outcome == sources::WalkOutcome::Ok) {
        // The folder as a job names it: without its trailing "/" (the root keeps it).
        std::string folder = FolderPath;
        if (folder.size() > 1) folder.pop_back();
        mergeFiles(FolderPath, walk.sourceList, walk.resultsLeftOut,
                   ChosenSources{{folder}, true, recursive});
        return FolderOutcome::Merged;
    }
    SourceList.clear();
    FolderPath.clear();
    notice(QString::fromStdString(walk.message));
    if (!sources::endsProgram(walk.outcome)) return FolderOutcome::Refused;
    unload();
    emit programEnded();
    return FolderOutcome::ProgramEnded;
}

namespace {

// The local paths of a drag, or nothing when something in it is not a local file or folder.
std::optional<QStringList> droppedPaths(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().isEmpty()) return std::nullopt;
    QStringList paths;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) return std::nullopt;
        paths << QFileInfo(url.toLocalFile()).absoluteFilePath();
    }
    return paths;
}

// The deepest folder that holds every file, ending in exactly one "/".
std::string commonFolder(const QStringList& files) {
    QStringList common = QFileInfo(files.constFirst()).absolutePath().split(QLatin1Char('/'));
    for (const QString& file : files) {
        const QStringList parts = QFileInfo(file).absolutePath().split(QLatin1Char('/'));
        qsizetype shared = 0;
        while (shared < common.size() && shared < parts.size() && common[shared] == parts[shared])
            ++shared;
        common = common.mid(0, shared);
    }
    return sources::withOneTrailingSlash(common.join(QLatin1Char('/')).toStdString());
}

}  // namespace

void Form1::dragEnterEvent(QDragEnterEvent* event) {
    if (!m_choosing && droppedPaths(event->mimeData())) event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event) {
    const std::optional<QStringList> paths = droppedPaths(event->mimeData());
    if (m_choosing || !paths) return;
    event->acceptProposedAction();
    // The file manager waits until the drop has returned; the merge runs after that.
    QTimer::singleShot(0, this, [this, chosen = *paths] { dropped(chosen); });
}

void Form1::dropped(const QStringList& paths) {
    if (m_choosing || !isVisible()) return;
    hideHighlights();
    if (paths.size() == 1 && QFileInfo(paths.constFirst()).isDir()) {
        const QFileInfo folder(paths.constFirst());
        m_choosing = true;
        if (mergeFolder(BrowsedFolder{folder.absoluteFilePath(), folder.fileName()}) ==
            FolderOutcome::Refused)
            m_choosing = false;
        return;
    }
    for (const QString& path : paths) {
        if (!QFileInfo(path).isFile()) {
            notice(text(texts::DropFilesOrFolder));
            return;
        }
    }
    if (paths.size() < 2) {
        notice(text(texts::AtLeastTwoFiles));
        return;
    }
    std::vector<std::string> files;
    for (const QString& path : paths) files.push_back(path.toStdString());
    mergeFiles(commonFolder(paths), std::move(files));
}

void Form1::Zelk(int earlierResultsLeftOut) {
    merge::RunLock lock = merge::RunLock::acquire();
    DesktopHost host(m_openResult, lock);
    host.setChosenSources(m_chosen, SourceList);
    std::unique_ptr<merge::Application> application = merge::makeEngineApplication();
    merge::RunInput input;
    input.SourceList = SourceList;
    input.FolderPath = FolderPath;
    input.earlierResultsLeftOut = earlierResultsLeftOut;
    m_lastRun = merge::Zelk(input, *application, host);
    SourceList = input.SourceList;
    FolderPath = input.FolderPath;
}

}  // namespace app
