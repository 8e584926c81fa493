#include "options/form2.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include "merge/job_file.h"
#include "options/dialog_values.h"
#include "options/form2_texts.h"
#include "options/texts.h"
#include "widgets/active_label.h"
#include "widgets/fonts.h"
#include "widgets/mdl_set_window_pos.h"
#include "widgets/message_service.h"
#include "widgets/twips.h"

namespace options {

using widgets::twipsRect;

namespace {

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}
std::string toUtf8(const QString& value) {
    return value.toUtf8().toStdString();
}
QString joinPatterns(const std::vector<std::string>& patterns) {
    QStringList pieces;
    for (const std::string& pattern : patterns) pieces << QString::fromStdString(pattern);
    return pieces.join(QLatin1Char(';'));
}

// Black texts on the dialog's grey for a control inside a frame, whose palette would otherwise
// carry the frame caption's green. A disabled control keeps the grey text that the style gives
// every disabled control, so that it does not look usable.
void paintControl(QWidget* control) {
    const QPalette standard = QApplication::palette(control);
    QPalette palette = control->palette();
    palette.setColor(QPalette::Window, Form2::backgroundColour());
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Active, role, Qt::black);
        palette.setColor(QPalette::Inactive, role, Qt::black);
        palette.setColor(QPalette::Disabled, role, standard.color(QPalette::Disabled, role));
    }
    control->setPalette(palette);
}

QLabel* makeLabel(QWidget* container, const char* name, const char* caption, QRect where) {
    auto* label = new QLabel(caption ? text(caption) : QString(), container);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(where);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QLineEdit* makeLineEdit(QWidget* container, const char* name, QRect where) {
    auto* box = new QLineEdit(container);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(where);
    box->setTextMargins(1, 0, 1, 0);
    return box;
}

QRadioButton* makeOption(QWidget* container, const char* name, const char* caption, QRect where) {
    auto* option = new QRadioButton(text(caption), container);
    option->setObjectName(QString::fromLatin1(name));
    option->setGeometry(where);
    return option;
}

QCheckBox* makeCheck(QWidget* container, const char* name, const char* caption, QRect where) {
    auto* check = new QCheckBox(text(caption), container);
    check->setObjectName(QString::fromLatin1(name));
    check->setGeometry(where);
    return check;
}

QComboBox* makeCombo(QWidget* container, const char* name, QRect where) {
    auto* combo = new QComboBox(container);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setGeometry(where);
    combo->setEditable(false);
    return combo;
}

QGroupBox* makeFrame(QWidget* container, const char* name, const char* caption, QRect where) {
    auto* frame = new QGroupBox(text(caption), container);
    frame->setObjectName(QString::fromLatin1(name));
    frame->setGeometry(where);
    return frame;
}

// A button face (no caption) or the caption lying on it.
widgets::ActiveLabel* makeFace(QWidget* container, const char* name, const char* caption,
                               QRect where) {
    auto* face = new widgets::ActiveLabel(container);
    face->setObjectName(QString::fromLatin1(name));
    face->setGeometry(where);
    if (caption) {
        face->setText(text(caption));
        face->setAlignment(Qt::AlignCenter);
    }
    face->setCursor(Qt::PointingHandCursor);
    return face;
}

void paintFace(QWidget* face, const QColor& colour) {
    QPalette palette = face->palette();
    palette.setColor(QPalette::Window, colour);
    face->setPalette(palette);
}

}  // namespace

QColor Form2::backgroundColour() {
    return QColor(240, 240, 240);
}
QColor Form2::frameCaptionColour() {
    return QColor(10, 185, 16);
}
QColor Form2::faceColour() {
    return QColor(192, 255, 192);
}
QColor Form2::faceHoverColour() {
    return QColor(128, 255, 128);
}

Form2::Form2(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(text(form2_texts::Caption));
    // A single fixed border: no resizing, no maximising, no help button.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setFixedSize(widgets::twipsToPixels(6735), widgets::twipsToPixels(6180));
    setFont(widgets::dialogFont(12));
    setMouseTracking(true);
    createControls();
    setTabOrder();
    Form_Load();
    connectRules();
}

void Form2::createControls() {
    createInformationFields();
    createSheetFrame();
    createRangeFrame();
    createHeaderAndLabelOptions();
    createButtons();
    createMoreOptions();
    keepPointerMovesInControls();
    groupOptionButtons();
    setStartState();
}

void Form2::createInformationFields() {
    Label2 = makeLabel(this, "Label2", form2_texts::Label2, twipsRect(240, 240, 1695, 255));
    Txt_Path = makeLineEdit(this, "Txt_Path", twipsRect(1680, 230, 4920, 270));
    Label1 = makeLabel(this, "Label1", form2_texts::Label1, twipsRect(240, 600, 1575, 255));
    Lbl_Cnt = makeLabel(this, "Lbl_Cnt", nullptr, twipsRect(1710, 615, 855, 255));
    Label3 = makeLabel(this, "Label3", form2_texts::Label3, twipsRect(240, 960, 1575, 255));
    Txt_Xls1 = makeLineEdit(this, "Txt_Xls1", twipsRect(1680, 950, 4920, 270));
    Txt_Path->setReadOnly(true);
    Txt_Xls1->setReadOnly(true);
}

void Form2::createSheetFrame() {
    Frame1 = makeFrame(this, "Frame1", form2_texts::Frame1, twipsRect(120, 1400, 6495, 1455));
    Option1 = makeOption(Frame1, "Option1", form2_texts::Option1, twipsRect(480, 360, 1455, 375));
    Option2 = makeOption(Frame1, "Option2", form2_texts::Option2, twipsRect(3120, 360, 975, 375));
    Combo1 = makeCombo(Frame1, "Combo1", twipsRect(4080, 400, 1935, 300));
    Option3 = makeOption(Frame1, "Option3", form2_texts::Option3, twipsRect(480, 840, 975, 375));
    Combo2 = makeCombo(Frame1, "Combo2", twipsRect(1440, 880, 4575, 300));
}

void Form2::createRangeFrame() {
    Frame2 = makeFrame(this, "Frame2", form2_texts::Frame2, twipsRect(120, 3030, 6495, 1455));
    Option4 = makeOption(Frame2, "Option4", form2_texts::Option4, twipsRect(480, 360, 2415, 375));
    Option5 = makeOption(Frame2, "Option5", form2_texts::Option5, twipsRect(3840, 360, 1335, 375));
    Txt_Row = makeLineEdit(Frame2, "Txt_Row", twipsRect(5160, 420, 855, 270));
    Option6 = makeOption(Frame2, "Option6", form2_texts::Option6, twipsRect(480, 840, 1695, 375));
    Label7 = makeLabel(Frame2, "Label7", form2_texts::Label7, twipsRect(2390, 945, 735, 255));
    Txt_LT = makeLineEdit(Frame2, "Txt_LT", twipsRect(3060, 930, 855, 270));
    Check1 = makeCheck(Frame2, "Check1", form2_texts::Check1, twipsRect(4200, 850, 975, 375));
    Txt_RB = makeLineEdit(Frame2, "Txt_RB", twipsRect(5160, 930, 855, 270));
}

void Form2::createHeaderAndLabelOptions() {
    Check2 = makeCheck(this, "Check2", form2_texts::Check2, twipsRect(240, 4560, 2535, 375));
    Check3 = makeCheck(this, "Check3", form2_texts::Check3, twipsRect(240, 4920, 4335, 375));
    Option7 = makeOption(this, "Option7", form2_texts::Option7, twipsRect(600, 5280, 1215, 375));
    Option8 = makeOption(this, "Option8", form2_texts::Option8, twipsRect(600, 5640, 1815, 375));
    Txt_Head = makeLineEdit(this, "Txt_Head", twipsRect(2460, 5710, 1830, 270));
    Option9 = makeOption(this, "Option9", form2_texts::Option9, twipsRect(1935, 5280, 1095, 375));
}

void Form2::createButtons() {
    // Each button is a coloured face with its caption lying on it.
    OK2 = makeFace(this, "OK2", nullptr, twipsRect(5280, 5025, 855, 315));
    OK1 = makeFace(this, "OK1", form2_texts::OK1, twipsRect(5340, 5085, 735, 195));
    NO2 = makeFace(this, "NO2", nullptr, twipsRect(5280, 5505, 855, 315));
    NO1 = makeFace(this, "NO1", form2_texts::NO1, twipsRect(5340, 5565, 735, 195));
    OK1->raise();
    NO1->raise();
}

// The client height of the dialog with the section "更多选项" closed.
constexpr int ClosedHeightTwips = 6180;
// The section's place under the controls above, and the room left below it.
constexpr int MoreTopTwips = 6180;
constexpr int MoreBottomMarginTwips = 120;

void Form2::createMoreOptions() {
    Btn_More = new QToolButton(this);
    Btn_More->setObjectName(QStringLiteral("Btn_More"));
    Btn_More->setText(text(form2_texts::MoreClosed));
    Btn_More->setCheckable(true);
    Btn_More->setAutoRaise(true);
    Btn_More->setToolButtonStyle(Qt::ToolButtonTextOnly);
    Btn_More->setGeometry(twipsRect(4920, 5880, 1695, 270));

    Frame3 = makeFrame(this, "Frame3", form2_texts::Frame3, twipsRect(120, MoreTopTwips, 6495, 0));
    auto* grid = new QGridLayout(Frame3);
    // The same insets as the controls of the frames above: 480 twips left, the caption on top.
    grid->setContentsMargins(widgets::twipsToPixels(360), widgets::twipsToPixels(120),
                             widgets::twipsToPixels(240), widgets::twipsToPixels(120));
    grid->setHorizontalSpacing(widgets::twipsToPixels(120));
    grid->setVerticalSpacing(0);
    grid->setColumnMinimumWidth(0, widgets::twipsToPixels(3000));
    grid->setColumnStretch(2, 1);
    const QRect none;
    Check_Align = makeCheck(Frame3, "Check_Align", form2_texts::CheckAlign, none);
    Check_BlankRows = makeCheck(Frame3, "Check_BlankRows", form2_texts::CheckBlankRows, none);
    Check_HeaderRepeats =
        makeCheck(Frame3, "Check_HeaderRepeats", form2_texts::CheckHeaderRepeats, none);
    Check_StopAt = makeCheck(Frame3, "Check_StopAt", form2_texts::CheckStopAt, none);
    Txt_StopAt = makeLineEdit(Frame3, "Txt_StopAt", none);
    Check_SkipLast = makeCheck(Frame3, "Check_SkipLast", form2_texts::CheckSkipLast, none);
    Txt_SkipLast = makeLineEdit(Frame3, "Txt_SkipLast", none);
    Check_Dedupe = makeCheck(Frame3, "Check_Dedupe", form2_texts::CheckDedupe, none);
    Check_FillMerged = makeCheck(Frame3, "Check_FillMerged", form2_texts::CheckFillMerged, none);
    Check_LogSheet = makeCheck(Frame3, "Check_LogSheet", form2_texts::CheckLogSheet, none);
    Option_AllSheets = makeOption(Frame3, "Option_AllSheets", form2_texts::OptionAllSheets, none);
    Check_SkipHidden = makeCheck(Frame3, "Check_SkipHidden", form2_texts::CheckSkipHidden, none);
    Option_Pattern = makeOption(Frame3, "Option_Pattern", form2_texts::OptionPattern, none);
    Txt_Pattern = makeLineEdit(Frame3, "Txt_Pattern", none);
    Txt_Pattern->setPlaceholderText(text(form2_texts::PatternHint));
    Label_MarkSheet = makeLabel(Frame3, "Label_MarkSheet", form2_texts::LabelMarkSheet, none);
    Check_MarkSheet = makeCheck(Frame3, "Check_MarkSheet", form2_texts::CheckMarkSheet, none);
    Check_PerSource = makeCheck(Frame3, "Check_PerSource", form2_texts::CheckPerSource, none);
    Label_Include = makeLabel(Frame3, "Label_Include", form2_texts::LabelInclude, none);
    Txt_Include = makeLineEdit(Frame3, "Txt_Include", none);
    Txt_Include->setPlaceholderText(text(form2_texts::IncludeHint));
    Label_Exclude = makeLabel(Frame3, "Label_Exclude", form2_texts::LabelExclude, none);
    Txt_Exclude = makeLineEdit(Frame3, "Txt_Exclude", none);
    Txt_Exclude->setPlaceholderText(text(form2_texts::ExcludeHint));
    Btn_SaveJob = new QPushButton(text(form2_texts::BtnSaveJob), Frame3);
    Btn_SaveJob->setObjectName(QStringLiteral("Btn_SaveJob"));
    Btn_SaveJob->setAutoDefault(false);
    // Which sheets and how they are labelled first, as in the frames above; then the rows and
    // the result; then the files.
    addMoreOptionsRow({Option_AllSheets, Check_SkipHidden});
    addMoreOptionsRow({Option_Pattern, Txt_Pattern});
    addMoreOptionsRow({Label_MarkSheet, Check_MarkSheet});
    addMoreOptionsRow({Check_Align});
    addMoreOptionsRow({Check_BlankRows, Check_HeaderRepeats});
    addMoreOptionsRow({Check_StopAt, Txt_StopAt});
    addMoreOptionsRow({Check_SkipLast, Txt_SkipLast});
    addMoreOptionsRow({Check_Dedupe, Check_FillMerged});
    addMoreOptionsRow({Check_LogSheet, Check_PerSource});
    addMoreOptionsRow({Label_Include, Txt_Include});
    addMoreOptionsRow({Label_Exclude, Txt_Exclude});
    addMoreOptionsRow({Btn_SaveJob});
    Frame3->setVisible(false);
}

void Form2::addMoreOptionsRow(std::initializer_list<QWidget*> controls) {
    auto* grid = static_cast<QGridLayout*>(Frame3->layout());
    const int row = grid->rowCount() == 1 && grid->count() == 0 ? 0 : grid->rowCount();
    int column = 0;
    for (QWidget* control : controls) {
        // Rows as tall as the option rows above; text boxes as wide as Txt_Head. A button has
        // a row of its own, at its right end, so that it widens no column.
        if (qobject_cast<QPushButton*>(control)) {
            grid->addWidget(control, row, 0, 1, 3, Qt::AlignRight | Qt::AlignVCenter);
            continue;
        }
        if (qobject_cast<QLineEdit*>(control))
            control->setFixedSize(widgets::twipsToPixels(1830), widgets::twipsToPixels(270));
        else
            control->setFixedHeight(widgets::twipsToPixels(375));
        grid->addWidget(control, row, column++, Qt::AlignLeft | Qt::AlignVCenter);
    }
    Frame3->resize(Frame3->width(), grid->sizeHint().height());
}

void Form2::setMoreOptionsOpen(bool open) {
    Frame3->setVisible(open);
    Btn_More->setText(text(open ? form2_texts::MoreOpen : form2_texts::MoreClosed));
    if (Btn_More->isChecked() != open) Btn_More->setChecked(open);
    const int height =
        widgets::twipsToPixels(ClosedHeightTwips) +
        (open ? Frame3->height() + widgets::twipsToPixels(MoreBottomMarginTwips) : 0);
    setFixedSize(width(), height);
}

void Form2::keepPointerMovesInControls() {
    // A pointer over any control belongs to that control, never to the bare dialog, whose
    // move rule restores the button faces.
    for (QWidget* control : findChildren<QWidget*>())
        control->setAttribute(Qt::WA_NoMousePropagation);
}

void Form2::groupOptionButtons() {
    // Each group of option buttons is exclusive on its own. Without explicit groups Qt would
    // treat Option7 and Option8 as one group with the buttons inside both frames, since these
    // are children of the dialog too, and selecting Option8 would clear Option1.
    for (const auto& members : {std::initializer_list<QRadioButton*>{
                                    Option1, Option2, Option3, Option_AllSheets, Option_Pattern},
                                std::initializer_list<QRadioButton*>{Option4, Option5, Option6},
                                std::initializer_list<QRadioButton*>{Option7, Option8, Option9}}) {
        auto* group = new QButtonGroup(this);
        group->setExclusive(true);
        for (QRadioButton* member : members) group->addButton(member);
    }
}

void Form2::setStartState() {
    // Set before the rules are connected, so none of them runs.
    Option1->setChecked(true);
    Option5->setChecked(true);
    Option7->setChecked(true);
    Check1->setEnabled(false);
    Txt_RB->setText(text(form2_texts::FindCornerHint));
    Txt_RB->setEnabled(false);
    Check2->setEnabled(false);
    Option7->setEnabled(false);
    Option8->setEnabled(false);
    Txt_Head->setText(text(form2_texts::CellListHint));
    Txt_Head->setEnabled(false);
    Option9->setEnabled(false);
    Txt_StopAt->setText(text(form2_texts::StopAtHint));
    Txt_StopAt->setEnabled(false);
    Txt_SkipLast->setText(text(form2_texts::SkipLastHint));
    Txt_SkipLast->setEnabled(false);
    Check_SkipHidden->setEnabled(false);
    Txt_Include->setEnabled(false);
    Txt_Exclude->setEnabled(false);
    Btn_SaveJob->setEnabled(false);
}

void Form2::setTabOrder() {
    // The focus order of the controls that can take it, by their tab numbers 1, 2, 3, 4, 5, 7,
    // 8, 9, 10, 11, 12, 13, 18, 19, 20, 26, 27, 28, 29; labels and frames take no focus.
    const QList<QWidget*> order = {
        Txt_Row, Option5, Txt_LT, Option6, Option4, Option1, Option2, Combo1, Option3, Combo2,
        Check1, Txt_RB, Txt_Path, Check2, Check3, Txt_Xls1, Option7, Option8, Txt_Head,
        // The controls added since, in the order they are shown.
        Option9, Btn_More, Option_AllSheets, Check_SkipHidden, Option_Pattern, Txt_Pattern,
        Check_MarkSheet, Check_Align, Check_BlankRows, Check_HeaderRepeats, Check_StopAt,
        Txt_StopAt, Check_SkipLast, Txt_SkipLast, Check_Dedupe, Check_FillMerged, Check_LogSheet,
        Check_PerSource, Txt_Include, Txt_Exclude, Btn_SaveJob};
    for (qsizetype index = 0; index + 1 < order.size(); ++index)
        QWidget::setTabOrder(order[index], order[index + 1]);
}

void Form2::Form_Load() {
    widgets::MdlSetWindowPos::SetWindowTopmost(this, true);

    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, backgroundColour());
    setPalette(palette);

    for (QGroupBox* frame : {Frame1, Frame2, Frame3}) {
        frame->setAutoFillBackground(true);
        QPalette framePalette = frame->palette();
        framePalette.setColor(QPalette::Window, backgroundColour());
        framePalette.setColor(QPalette::WindowText, frameCaptionColour());
        framePalette.setColor(QPalette::Text, frameCaptionColour());
        frame->setPalette(framePalette);
        for (QWidget* child : frame->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            paintControl(child);
    }
    for (QWidget* control :
         std::initializer_list<QWidget*>{Option7, Option8, Option9, Check2, Check3, Btn_More})
        paintControl(control);

    for (widgets::ActiveLabel* face : {OK2, NO2}) {
        face->setAutoFillBackground(true);
        paintFace(face, faceColour());
    }
}

void Form2::connectRules() {
    auto onSelected = [this](QRadioButton* button, void (Form2::*rule)()) {
        connect(button, &QRadioButton::toggled, this, [this, rule](bool checked) {
            if (checked) (this->*rule)();
        });
    };
    onSelected(Option1, &Form2::Option1_Click);
    onSelected(Option2, &Form2::Option2_Click);
    onSelected(Option3, &Form2::Option3_Click);
    onSelected(Option4, &Form2::Option4_Click);
    onSelected(Option5, &Form2::Option5_Click);
    onSelected(Option6, &Form2::Option6_Click);
    onSelected(Option7, &Form2::Option7_Click);
    onSelected(Option8, &Form2::Option8_Click);
    onSelected(Option9, &Form2::Option9_Click);
    connect(Check_StopAt, &QCheckBox::toggled, this, &Form2::Check_StopAt_Click);
    connect(Check_SkipLast, &QCheckBox::toggled, this, &Form2::Check_SkipLast_Click);
    onSelected(Option_AllSheets, &Form2::Option_AllSheets_Click);
    onSelected(Option_Pattern, &Form2::Option_Pattern_Click);
    // Leaving a several-sheet choice for another toggles it off: the hidden-sheet box follows.
    for (QRadioButton* several : {Option_AllSheets, Option_Pattern})
        connect(several, &QRadioButton::toggled, this, &Form2::sheetChoiceChanged);
    connect(Txt_Include, &QLineEdit::textChanged, this, &Form2::filterChanged);
    connect(Txt_Exclude, &QLineEdit::textChanged, this, &Form2::filterChanged);
    connect(Btn_SaveJob, &QPushButton::clicked, this, &Form2::Btn_SaveJob_Click);
    connect(Btn_More, &QToolButton::toggled, this, &Form2::setMoreOptionsOpen);

    connect(Txt_Row, &QLineEdit::textChanged, this, &Form2::Txt_Row_Change);
    connect(Txt_LT, &QLineEdit::textChanged, this, &Form2::Txt_LT_Change);
    connect(Check1, &QCheckBox::toggled, this, &Form2::Check1_Click);
    connect(Check3, &QCheckBox::toggled, this, &Form2::Check3_Click);

    for (QWidget* box :
         std::initializer_list<QWidget*>{Combo1, Combo2, Txt_Row, Txt_LT, Txt_Pattern})
        box->installEventFilter(this);

    connect(OK1, &widgets::ActiveLabel::clicked, this, &Form2::OK1_Click);
    connect(OK2, &widgets::ActiveLabel::clicked, this, &Form2::OK2_Click);
    connect(NO1, &widgets::ActiveLabel::clicked, this, &Form2::NO1_Click);
    connect(NO2, &widgets::ActiveLabel::clicked, this, &Form2::NO2_Click);
    connect(OK1, &widgets::ActiveLabel::pointerMoved, this, &Form2::OK_MouseMove);
    connect(OK2, &widgets::ActiveLabel::pointerMoved, this, &Form2::OK_MouseMove);
    connect(NO1, &widgets::ActiveLabel::pointerMoved, this, &Form2::NO_MouseMove);
    connect(NO2, &widgets::ActiveLabel::pointerMoved, this, &Form2::NO_MouseMove);
}

void Form2::fill(const merge::SampleInfo& sample) {
    Txt_Path->setText(QString::fromStdString(sample.folderPath));
    m_sourceCount = sample.sourceCount;
    Lbl_Cnt->setText(QString::number(sample.sourceCount));
    Txt_Xls1->setText(QString::fromStdString(sample.samplePath));
    Combo1->clear();
    Combo2->clear();
    int position = 1;
    for (const std::string& name : sample.worksheetNames) {
        Combo1->addItem(QString::fromStdString(positionItem(position++)));
        Combo2->addItem(QString::fromStdString(name));
    }
    const int active = sample.activeWorksheet >= 0 && sample.activeWorksheet < Combo1->count()
                           ? sample.activeWorksheet
                           : 0;
    Combo1->setCurrentIndex(active);
    Combo2->setCurrentIndex(active);
}

void Form2::setResolver(merge::ReferenceResolver resolve) {
    m_resolve = std::move(resolve);
}

void Form2::setSources(SourceChoice sources) {
    m_sources = std::move(sources);
    const bool folder = filterApplies();
    for (QWidget* box : std::initializer_list<QWidget*>{Txt_Include, Txt_Exclude}) {
        box->setEnabled(folder);
        box->setToolTip(folder ? QString() : text(form2_texts::FilterOnlyForFolders));
    }
    Btn_SaveJob->setEnabled(m_chooseJobFile && !m_sources.paths.empty());
    filterChanged();
}

void Form2::setJobFileChooser(JobFileChooser choose) {
    m_chooseJobFile = std::move(choose);
    Btn_SaveJob->setEnabled(m_chooseJobFile && !m_sources.paths.empty());
}

void Form2::restore(const merge::MergeSettings& settings, const std::vector<std::string>& include,
                    const std::vector<std::string>& exclude) {
    // The values go in as clicks and typing would put them, so that every rule runs.
    const DialogValues values = dialogValuesOf(settings);
    switch (values.sheet) {
        case SheetOption::Active:
            break;
        case SheetOption::ByPosition: {
            const int index = Combo1->findText(QString::fromStdString(values.combo1));
            if (index < 0) break;
            Combo1->setCurrentIndex(index);
            Option2->setChecked(true);
            break;
        }
        case SheetOption::ByName: {
            // Sheet names are compared ignoring case, as the merge compares them.
            const int index =
                Combo2->findText(QString::fromStdString(values.combo2), Qt::MatchFixedString);
            if (index < 0) break;
            Combo2->setCurrentIndex(index);
            Option3->setChecked(true);
            break;
        }
        case SheetOption::All:
            Option_AllSheets->setChecked(true);
            break;
        case SheetOption::ByPattern:
            Txt_Pattern->setText(QString::fromStdString(values.sheetPattern));
            Option_Pattern->setChecked(true);
            break;
    }
    Check_SkipHidden->setChecked(values.skipHidden && Check_SkipHidden->isEnabled());

    switch (values.range) {
        case RangeOption::StartRow:
            Txt_Row->setText(QString::fromStdString(values.txtRow));
            if (Check2->isEnabled()) Check2->setChecked(values.check2);
            break;
        case RangeOption::LargestRectangle:
            Option4->setChecked(true);
            break;
        case RangeOption::Cells:
            Txt_LT->setText(QString::fromStdString(values.txtLT));
            Option6->setChecked(true);
            if (values.check1 && Check1->isEnabled()) {
                Check1->setChecked(true);
                Txt_RB->setText(QString::fromStdString(values.txtRB));
            }
            break;
    }

    if (values.check3) {
        Check3->setChecked(true);
        if (values.label == LabelOption::CellContents) {
            Option8->setChecked(true);
            Txt_Head->setText(QString::fromStdString(values.txtHead));
        } else if (values.label == LabelOption::FileName) {
            Option9->setChecked(true);
        }
    }

    Check_MarkSheet->setChecked(values.markSheet);
    Check_PerSource->setChecked(values.perSource);
    Check_Align->setChecked(values.alignColumns);
    Check_BlankRows->setChecked(values.skipBlankRows);
    Check_HeaderRepeats->setChecked(values.dropHeaderRepeats);
    if (values.stopAt) {
        Check_StopAt->setChecked(true);
        Txt_StopAt->setText(QString::fromStdString(values.txtStopAt));
    }
    if (values.skipLast) {
        Check_SkipLast->setChecked(true);
        Txt_SkipLast->setText(QString::fromStdString(values.txtSkipLast));
    }
    Check_Dedupe->setChecked(values.dedupe);
    Check_FillMerged->setChecked(values.fillMerged);
    Check_LogSheet->setChecked(values.logSheet);
    Txt_Include->setText(joinPatterns(include));
    Txt_Exclude->setText(joinPatterns(exclude));

    const bool filtering = filterApplies() && !(include.empty() && exclude.empty());
    const bool sectionInUse = Option_AllSheets->isChecked() || Option_Pattern->isChecked() ||
                              values.markSheet || values.perSource || values.alignColumns ||
                              values.skipBlankRows || values.dropHeaderRepeats || values.stopAt ||
                              values.skipLast || values.dedupe || values.fillMerged ||
                              values.logSheet || filtering;
    if (sectionInUse) setMoreOptionsOpen(true);
}

bool Form2::filterApplies() const {
    return m_sources.folder && static_cast<bool>(m_sources.countTaken);
}

std::vector<std::string> Form2::includeInEffect() const {
    if (!filterApplies()) return {};
    return splitNamePatterns(toUtf8(Txt_Include->text()));
}

std::vector<std::string> Form2::excludeInEffect() const {
    if (!filterApplies()) return {};
    return splitNamePatterns(toUtf8(Txt_Exclude->text()));
}

void Form2::filterChanged() {
    const int count = filterApplies() ? m_sources.countTaken(includeInEffect(), excludeInEffect())
                                      : m_sourceCount;
    Lbl_Cnt->setText(QString::number(count));
}

void Form2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The box of the chosen range has the focus when the dialog opens: the start row, as the
    // dialog starts, or what remembered options chose, without changing that choice.
    if (!m_focusPlaced) {
        m_focusPlaced = true;
        // A remembered text is selected, so that typing replaces it as it would fill the
        // empty box.
        if (Option6->isChecked()) {
            Txt_LT->setFocus(Qt::OtherFocusReason);
            Txt_LT->selectAll();
        } else if (Option4->isChecked()) {
            Option4->setFocus(Qt::OtherFocusReason);
        } else {
            Txt_Row->setFocus(Qt::OtherFocusReason);
            Txt_Row->selectAll();
        }
    }
}

bool Form2::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        if (watched == Combo1)
            Combo1_GotFocus();
        else if (watched == Combo2)
            Combo2_GotFocus();
        else if (watched == Txt_Row)
            Txt_Row_GotFocus();
        else if (watched == Txt_LT)
            Txt_LT_GotFocus();
        else if (watched == Txt_Pattern)
            Txt_Pattern_GotFocus();
    }
    return QDialog::eventFilter(watched, event);
}

void Form2::keyPressEvent(QKeyEvent* event) {
    // Enter confirms as a click on "确定" does; Escape cancels as "放弃" does. Both reach the
    // dialog only when the control with the focus leaves them: an open drop-down list keeps
    // Escape and Enter to itself and only closes.
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        OK1_Click();
        return;
    }
    if (plain && event->key() == Qt::Key_Escape) {
        NO1_Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Form2::mouseMoveEvent(QMouseEvent* event) {
    // Only moves over the bare dialog arrive here: controls keep their moves to themselves.
    Form_MouseMove();
    QDialog::mouseMoveEvent(event);
}

void Form2::resetBottomRight() {
    Check1->setChecked(false);
    Check1->setEnabled(false);
    Txt_RB->setText(text(form2_texts::FindCornerHint));
    Txt_RB->setEnabled(false);
}

void Form2::resetHeaderBox() {
    Check2->setChecked(false);
    Check2->setEnabled(false);
}

void Form2::Option1_Click() {}

void Form2::Option2_Click() {
    Combo1->setFocus(Qt::OtherFocusReason);
}

void Form2::Option3_Click() {
    Combo2->setFocus(Qt::OtherFocusReason);
}

void Form2::Combo1_GotFocus() {
    Option2->setChecked(true);
}

void Form2::Combo2_GotFocus() {
    Option3->setChecked(true);
}

void Form2::Option4_Click() {
    resetBottomRight();
    resetHeaderBox();
}

void Form2::Option5_Click() {
    resetBottomRight();
    const std::optional<int> startRow = readStartRow(toUtf8(Txt_Row->text()));
    if (startRow && *startRow > 1) {
        Check2->setEnabled(true);
        Check2->setChecked(true);
    }
    Txt_Row->setFocus(Qt::OtherFocusReason);
}

void Form2::Txt_Row_GotFocus() {
    Option5->setChecked(true);
}

void Form2::Txt_Row_Change() {
    const std::string typed = toUtf8(Txt_Row->text());
    // Blanks alone, as when a space is typed before the digits, count as an empty box.
    if (isBlankText(typed)) {
        resetHeaderBox();
        return;
    }
    const std::optional<int> startRow = readStartRow(typed);
    if (!startRow || !isUsableStartRow(*startRow)) {
        widgets::MessageService::show(text(texts::StartRowNotPositive),
                                      merge::MessageStyle::Information, text(texts::MessageTitle),
                                      this);
        Txt_Row->clear();
        Txt_Row->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (*startRow >= 2) {
        Check2->setEnabled(true);
        Check2->setChecked(true);
    }
}

void Form2::Option6_Click() {
    resetHeaderBox();
    if (looksLikeAddress(toUtf8(Txt_LT->text()))) Check1->setEnabled(true);
    Txt_LT->setFocus(Qt::OtherFocusReason);
}

void Form2::Txt_LT_GotFocus() {
    Option6->setChecked(true);
}

void Form2::Txt_LT_Change() {
    if (looksLikeAddress(toUtf8(Txt_LT->text())))
        Check1->setEnabled(true);
    else
        resetBottomRight();
}

void Form2::Check1_Click() {
    if (Check1->isChecked()) {
        Txt_RB->clear();
        Txt_RB->setEnabled(true);
        Txt_RB->setFocus(Qt::OtherFocusReason);
    } else {
        Txt_RB->setText(text(form2_texts::FindCornerHint));
        Txt_RB->setEnabled(false);
    }
}

void Form2::Check3_Click() {
    const bool ticked = Check3->isChecked();
    Option7->setEnabled(ticked);
    Option8->setEnabled(ticked);
    Option9->setEnabled(ticked);
    if (ticked) {
        if (Option8->isChecked()) {
            Txt_Head->setEnabled(true);
            Txt_Head->clear();
            Txt_Head->setFocus(Qt::OtherFocusReason);
        }
    } else {
        Txt_Head->setText(text(form2_texts::CellListHint));
        Txt_Head->setEnabled(false);
    }
}

void Form2::Option7_Click() {
    Txt_Head->setText(text(form2_texts::CellListHint));
    Txt_Head->setEnabled(false);
}

void Form2::Option8_Click() {
    Txt_Head->setEnabled(true);
    Txt_Head->clear();
    Txt_Head->setFocus(Qt::OtherFocusReason);
}

void Form2::Option9_Click() {
    Option7_Click();
}

// A box beside a check is in use only while the check is ticked; otherwise it shows its hint.
void Form2::Check_StopAt_Click() {
    if (Check_StopAt->isChecked()) {
        Txt_StopAt->clear();
        Txt_StopAt->setEnabled(true);
        Txt_StopAt->setFocus(Qt::OtherFocusReason);
    } else {
        Txt_StopAt->setText(text(form2_texts::StopAtHint));
        Txt_StopAt->setEnabled(false);
    }
}

void Form2::Check_SkipLast_Click() {
    if (Check_SkipLast->isChecked()) {
        Txt_SkipLast->clear();
        Txt_SkipLast->setEnabled(true);
        Txt_SkipLast->setFocus(Qt::OtherFocusReason);
    } else {
        Txt_SkipLast->setText(text(form2_texts::SkipLastHint));
        Txt_SkipLast->setEnabled(false);
    }
}

void Form2::Option_AllSheets_Click() {}

void Form2::Option_Pattern_Click() {
    Txt_Pattern->setFocus(Qt::OtherFocusReason);
}

void Form2::Txt_Pattern_GotFocus() {
    Option_Pattern->setChecked(true);
}

// Hidden sheets are a question only when a source gives several sheets.
void Form2::sheetChoiceChanged() {
    Check_SkipHidden->setEnabled(Option_AllSheets->isChecked() || Option_Pattern->isChecked());
}

void Form2::Btn_SaveJob_Click() {
    // The job holds what OK would accept, and nothing that OK would refuse.
    const OkOutcome outcome = runOkAction(snapshot(OkPart::Caption), m_resolve);
    if (!outcome.accepted) {
        showRefusal(outcome);
        return;
    }
    if (!m_chooseJobFile) return;
    const std::optional<std::string> file = m_chooseJobFile(this);
    if (!file) return;
    merge::MergeJob job;
    job.paths = m_sources.paths;
    job.recursive = m_sources.folder && m_sources.recursive;
    job.include = includeInEffect();
    job.exclude = excludeInEffect();
    job.settings = merge::decodeOptions(outcome.options);
    const std::optional<std::string> problem = merge::saveJobFile(*file, job);
    const std::string message =
        problem ? texts::JobNotSaved + *problem : texts::JobSaved + *file + texts::JobSavedTail;
    widgets::MessageService::show(QString::fromStdString(message), merge::MessageStyle::Information,
                                  text(texts::MessageTitle), this);
}

void Form2::OK_MouseMove() {
    paintFace(OK2, faceHoverColour());
}

void Form2::NO_MouseMove() {
    paintFace(NO2, faceHoverColour());
}

void Form2::Form_MouseMove() {
    paintFace(OK2, faceColour());
    paintFace(NO2, faceColour());
}

void Form2::OK1_Click() {
    runOk(OkPart::Caption);
}

void Form2::OK2_Click() {
    runOk(OkPart::Face);
}

void Form2::NO1_Click() {
    reject();
}

void Form2::NO2_Click() {
    reject();
}

DialogValues Form2::snapshot(OkPart clicked) const {
    DialogValues values;
    values.sheet = Option2->isChecked()            ? SheetOption::ByPosition
                   : Option3->isChecked()          ? SheetOption::ByName
                   : Option_AllSheets->isChecked() ? SheetOption::All
                   : Option_Pattern->isChecked()   ? SheetOption::ByPattern
                                                   : SheetOption::Active;
    values.sheetPattern = toUtf8(Txt_Pattern->text());
    // A ticked box that does not apply (one sheet per source) is greyed and hands nothing on.
    values.skipHidden = Check_SkipHidden->isChecked() && Check_SkipHidden->isEnabled();
    values.markSheet = Check_MarkSheet->isChecked();
    values.perSource = Check_PerSource->isChecked();
    values.filterApplies = filterApplies();
    values.txtInclude = toUtf8(Txt_Include->text());
    values.txtExclude = toUtf8(Txt_Exclude->text());
    if (values.filterApplies)
        values.filteredCount = m_sources.countTaken(includeInEffect(), excludeInEffect());
    values.range = Option4->isChecked()   ? RangeOption::LargestRectangle
                   : Option6->isChecked() ? RangeOption::Cells
                                          : RangeOption::StartRow;
    values.label = Option8->isChecked()   ? LabelOption::CellContents
                   : Option9->isChecked() ? LabelOption::FileName
                                          : LabelOption::FilePath;
    values.txtRow = toUtf8(Txt_Row->text());
    values.txtLT = toUtf8(Txt_LT->text());
    values.txtRB = toUtf8(Txt_RB->text());
    values.txtHead = toUtf8(Txt_Head->text());
    values.check1 = Check1->isChecked();
    values.check2 = Check2->isChecked();
    values.check3 = Check3->isChecked();
    values.txtHeadEnabled = Txt_Head->isEnabled();
    values.combo1 = toUtf8(Combo1->currentText());
    values.combo2 = toUtf8(Combo2->currentText());
    values.clicked = clicked;
    values.alignColumns = Check_Align->isChecked();
    values.skipBlankRows = Check_BlankRows->isChecked();
    values.dropHeaderRepeats = Check_HeaderRepeats->isChecked();
    values.stopAt = Check_StopAt->isChecked();
    values.txtStopAt = values.stopAt ? toUtf8(Txt_StopAt->text()) : std::string();
    values.skipLast = Check_SkipLast->isChecked();
    values.txtSkipLast = values.skipLast ? toUtf8(Txt_SkipLast->text()) : std::string();
    values.dedupe = Check_Dedupe->isChecked();
    values.fillMerged = Check_FillMerged->isChecked();
    values.logSheet = Check_LogSheet->isChecked();
    return values;
}

void Form2::runOk(OkPart clicked) {
    const OkOutcome outcome = runOkAction(snapshot(clicked), m_resolve);
    if (outcome.accepted) {
        m_mergeOptions = outcome.options;
        m_include = includeInEffect();
        m_exclude = excludeInEffect();
        accept();
        return;
    }
    showRefusal(outcome);
}

void Form2::showRefusal(const OkOutcome& outcome) {
    widgets::MessageService::show(QString::fromStdString(outcome.message),
                                  merge::MessageStyle::Information, text(texts::MessageTitle),
                                  this);
    QLineEdit* atFault = nullptr;
    switch (outcome.focus) {
        case FocusTarget::TxtRow:
            atFault = Txt_Row;
            break;
        case FocusTarget::TxtLT:
            atFault = Txt_LT;
            break;
        case FocusTarget::TxtRB:
            atFault = Txt_RB;
            break;
        case FocusTarget::TxtHead:
            atFault = Txt_Head;
            break;
        case FocusTarget::TxtStopAt:
            atFault = Txt_StopAt;
            break;
        case FocusTarget::TxtSkipLast:
            atFault = Txt_SkipLast;
            break;
        case FocusTarget::SheetPattern:
            atFault = Txt_Pattern;
            break;
        case FocusTarget::TxtInclude:
            atFault = Txt_Include;
            break;
        case FocusTarget::None:
            break;
    }
    // A box of the closed section is shown before it gets the focus.
    if (atFault && atFault->parentWidget() == Frame3) setMoreOptionsOpen(true);
    if (atFault) atFault->setFocus(Qt::OtherFocusReason);
}

}  // namespace options
