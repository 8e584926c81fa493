#include "app/form1.h"

#include <cmath>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <QScreen>

#include "app/artwork.h"
#include "app/desktop_host.h"
#include "app/texts.h"
#include "merge/engine_application.h"
#include "merge/run_lock.h"
#include "sources/folder_walk.h"
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
      m_openResult(DesktopHost::openInDesktop) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(text(texts::MainWindowCaption));
    setWindowIcon(artwork::windowIcon());
    setFixedSize(widgets::twipsToPixels(6000), widgets::twipsToPixels(3900));
    setMouseTracking(true);
    m_background = artwork::backgroundPicture();
    createControls();
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
    show();
    return true;
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
    Form_MouseMove(event->buttons());
    event->accept();
}

void Form1::Form_MouseMove(Qt::MouseButtons buttons) {
    hideHighlights();
    if (buttons == Qt::LeftButton) widgets::MdlMoveNoborderWnd::MoveNoborderWnd(this);
}

void Form1::LblGreeting_MouseMove(Qt::MouseButtons buttons) {
    hideHighlights();
    if (buttons == Qt::LeftButton) widgets::MdlMoveNoborderWnd::MoveNoborderWnd(this);
}

void Form1::LblIcon_MouseMove(Qt::MouseButtons buttons) {
    if (buttons == Qt::LeftButton) widgets::MdlMoveNoborderWnd::MoveNoborderWnd(this);
}

void Form1::LblIcon_DblClick() {
    widgets::MessageService::show(text(texts::AboutText), merge::MessageStyle::Plain,
                                  text(texts::AboutTitle), this);
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
    close();
    emit programEnded();
}

void Form1::ImgFiles1_Click() {
    ImgFiles1->hide();
    // Out of sight while the dialog is open: it stays loaded and visible, only off the screen.
    move(-widgets::twipsToPixels(width() * widgets::TwipsPerPixel + 100),
         -widgets::twipsToPixels(height() * widgets::TwipsPerPixel + 100));
    for (;;) {
        const std::optional<SelectedFiles> chosen = m_chooseFiles ? m_chooseFiles() : std::nullopt;
        if (!chosen) {
            moveToScreenCentre();
            return;
        }
        if (chosen->names.size() < 2) {
            notice(text(texts::AtLeastTwoFiles));
            continue;
        }
        FolderPath = sources::withOneTrailingSlash(chosen->directory.toStdString());
        SourceList.clear();
        for (const QString& name : chosen->names)
            SourceList.push_back(FolderPath + name.toStdString());
        close();
        Zelk();
        emit programEnded();
        return;
    }
}

void Form1::ImgFolder1_Click() {
    ImgFolder1->hide();
    hide();
    QApplication::processEvents();
    for (;;) {
        const std::optional<BrowsedFolder> chosen =
            m_chooseFolder ? m_chooseFolder(text(texts::ChooseFolderPrompt)) : std::nullopt;
        if (!chosen) {
            show();
            return;
        }
        const sources::ChosenFolder folder = sources::checkChosenFolderOnDisk(
            chosen->displayName.toStdString(), chosen->path.toStdString());
        if (folder.check != sources::FolderCheck::Ok) {
            FolderPath.clear();
            notice(QString::fromStdString(folder.message));
            continue;
        }
        FolderPath = folder.folderPath;
        sources::FileSystemLister lister;
        const sources::WalkResult walk = sources::walkFolder(FolderPath, lister, [] {
            return widgets::MessageService::show(
                       text(texts::IncludeSubfoldersQuestion), merge::MessageStyle::YesNoQuestion,
                       text(texts::ChoiceTitle)) == merge::MessageAnswer::Yes;
        });
        if (walk.outcome == sources::WalkOutcome::Ok) {
            SourceList = walk.sourceList;
            close();
            Zelk(walk.resultsLeftOut);
            emit programEnded();
            return;
        }
        SourceList.clear();
        FolderPath.clear();
        notice(QString::fromStdString(walk.message));
        if (sources::endsProgram(walk.outcome)) {
            close();
            emit programEnded();
            return;
        }
    }
}

void Form1::Zelk(int earlierResultsLeftOut) {
    merge::RunLock lock = merge::RunLock::acquire();
    DesktopHost host(m_openResult, lock);
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
