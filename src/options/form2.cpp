#include "options/form2.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>

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

// Black texts on the dialog's grey for a control inside a frame, whose palette would otherwise
// carry the frame caption's green.
void paintControl(QWidget* control) {
    QPalette palette = control->palette();
    palette.setColor(QPalette::Window, Form2::backgroundColour());
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::black);
    control->setPalette(palette);
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
    auto label = [this](QWidget* container, QLabel*& member, const char* name, const char* caption,
                        QRect where) {
        member = new QLabel(caption ? text(caption) : QString(), container);
        member->setObjectName(QString::fromLatin1(name));
        member->setGeometry(where);
        member->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    };
    auto lineEdit = [](QWidget* container, QLineEdit*& member, const char* name, QRect where) {
        member = new QLineEdit(container);
        member->setObjectName(QString::fromLatin1(name));
        member->setGeometry(where);
        member->setTextMargins(1, 0, 1, 0);
    };
    auto option = [](QWidget* container, QRadioButton*& member, const char* name,
                     const char* caption, QRect where) {
        member = new QRadioButton(text(caption), container);
        member->setObjectName(QString::fromLatin1(name));
        member->setGeometry(where);
    };
    auto check = [](QWidget* container, QCheckBox*& member, const char* name, const char* caption,
                    QRect where) {
        member = new QCheckBox(text(caption), container);
        member->setObjectName(QString::fromLatin1(name));
        member->setGeometry(where);
    };
    auto combo = [](QWidget* container, QComboBox*& member, const char* name, QRect where) {
        member = new QComboBox(container);
        member->setObjectName(QString::fromLatin1(name));
        member->setGeometry(where);
        member->setEditable(false);
    };
    auto frame = [this](QGroupBox*& member, const char* name, const char* caption, QRect where) {
        member = new QGroupBox(text(caption), this);
        member->setObjectName(QString::fromLatin1(name));
        member->setGeometry(where);
    };
    auto face = [this](widgets::ActiveLabel*& member, const char* name, const char* caption,
                       QRect where) {
        member = new widgets::ActiveLabel(this);
        member->setObjectName(QString::fromLatin1(name));
        member->setGeometry(where);
        if (caption) {
            member->setText(text(caption));
            member->setAlignment(Qt::AlignCenter);
        }
        member->setCursor(Qt::PointingHandCursor);
    };

    // Information fields.
    label(this, Label2, "Label2", form2_texts::Label2, widgets::twipsRect(240, 240, 1695, 255));
    lineEdit(this, Txt_Path, "Txt_Path", widgets::twipsRect(1680, 230, 4920, 270));
    label(this, Label1, "Label1", form2_texts::Label1, widgets::twipsRect(240, 600, 1575, 255));
    label(this, Lbl_Cnt, "Lbl_Cnt", nullptr, widgets::twipsRect(1710, 615, 855, 255));
    label(this, Label3, "Label3", form2_texts::Label3, widgets::twipsRect(240, 960, 1575, 255));
    lineEdit(this, Txt_Xls1, "Txt_Xls1", widgets::twipsRect(1680, 950, 4920, 270));
    Txt_Path->setReadOnly(true);
    Txt_Xls1->setReadOnly(true);

    // Target worksheet.
    frame(Frame1, "Frame1", form2_texts::Frame1, widgets::twipsRect(120, 1400, 6495, 1455));
    option(Frame1, Option1, "Option1", form2_texts::Option1,
           widgets::twipsRect(480, 360, 1455, 375));
    option(Frame1, Option2, "Option2", form2_texts::Option2,
           widgets::twipsRect(3120, 360, 975, 375));
    combo(Frame1, Combo1, "Combo1", widgets::twipsRect(4080, 400, 1935, 300));
    option(Frame1, Option3, "Option3", form2_texts::Option3,
           widgets::twipsRect(480, 840, 975, 375));
    combo(Frame1, Combo2, "Combo2", widgets::twipsRect(1440, 880, 4575, 300));

    // Target range.
    frame(Frame2, "Frame2", form2_texts::Frame2, widgets::twipsRect(120, 3030, 6495, 1455));
    option(Frame2, Option4, "Option4", form2_texts::Option4,
           widgets::twipsRect(480, 360, 2415, 375));
    option(Frame2, Option5, "Option5", form2_texts::Option5,
           widgets::twipsRect(3840, 360, 1335, 375));
    lineEdit(Frame2, Txt_Row, "Txt_Row", widgets::twipsRect(5160, 420, 855, 270));
    option(Frame2, Option6, "Option6", form2_texts::Option6,
           widgets::twipsRect(480, 840, 1695, 375));
    label(Frame2, Label7, "Label7", form2_texts::Label7, widgets::twipsRect(2390, 945, 735, 255));
    lineEdit(Frame2, Txt_LT, "Txt_LT", widgets::twipsRect(3060, 930, 855, 270));
    check(Frame2, Check1, "Check1", form2_texts::Check1, widgets::twipsRect(4200, 850, 975, 375));
    lineEdit(Frame2, Txt_RB, "Txt_RB", widgets::twipsRect(5160, 930, 855, 270));

    // Header and source labels.
    check(this, Check2, "Check2", form2_texts::Check2, widgets::twipsRect(240, 4560, 2535, 375));
    check(this, Check3, "Check3", form2_texts::Check3, widgets::twipsRect(240, 4920, 4335, 375));
    option(this, Option7, "Option7", form2_texts::Option7,
           widgets::twipsRect(600, 5280, 1215, 375));
    option(this, Option8, "Option8", form2_texts::Option8,
           widgets::twipsRect(600, 5640, 1815, 375));
    lineEdit(this, Txt_Head, "Txt_Head", widgets::twipsRect(2460, 5710, 1830, 270));

    // The two buttons: a coloured face with its caption lying on it.
    face(OK2, "OK2", nullptr, widgets::twipsRect(5280, 5025, 855, 315));
    face(OK1, "OK1", form2_texts::OK1, widgets::twipsRect(5340, 5085, 735, 195));
    face(NO2, "NO2", nullptr, widgets::twipsRect(5280, 5505, 855, 315));
    face(NO1, "NO1", form2_texts::NO1, widgets::twipsRect(5340, 5565, 735, 195));
    OK1->raise();
    NO1->raise();

    // A pointer over any control belongs to that control, never to the bare dialog, whose
    // move rule restores the button faces.
    for (QWidget* control : findChildren<QWidget*>())
        control->setAttribute(Qt::WA_NoMousePropagation);

    // Each group of option buttons is exclusive on its own. Without explicit groups Qt would
    // treat Option7 and Option8 as one group with the buttons inside both frames, since these
    // are children of the dialog too, and selecting Option8 would clear Option1.
    for (const auto& members : {std::initializer_list<QRadioButton*>{Option1, Option2, Option3},
                                std::initializer_list<QRadioButton*>{Option4, Option5, Option6},
                                std::initializer_list<QRadioButton*>{Option7, Option8}}) {
        auto* group = new QButtonGroup(this);
        group->setExclusive(true);
        for (QRadioButton* member : members) group->addButton(member);
    }

    // The state the dialog opens with; set before the rules are connected, so none of them runs.
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
}

void Form2::setTabOrder() {
    // The focus order of the controls that can take it, by their tab numbers 1, 2, 3, 4, 5, 7,
    // 8, 9, 10, 11, 12, 13, 18, 19, 20, 26, 27, 28, 29; labels and frames take no focus.
    const QList<QWidget*> order = {Txt_Row, Option5,  Txt_LT,  Option6, Option4, Option1,  Option2,
                                   Combo1,  Option3,  Combo2,  Check1,  Txt_RB,  Txt_Path, Check2,
                                   Check3,  Txt_Xls1, Option7, Option8, Txt_Head};
    for (qsizetype index = 0; index + 1 < order.size(); ++index)
        QWidget::setTabOrder(order[index], order[index + 1]);
}

void Form2::Form_Load() {
    widgets::MdlSetWindowPos::SetWindowTopmost(this, true);

    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, backgroundColour());
    setPalette(palette);

    for (QGroupBox* frame : {Frame1, Frame2}) {
        frame->setAutoFillBackground(true);
        QPalette framePalette = frame->palette();
        framePalette.setColor(QPalette::Window, backgroundColour());
        framePalette.setColor(QPalette::WindowText, frameCaptionColour());
        framePalette.setColor(QPalette::Text, frameCaptionColour());
        frame->setPalette(framePalette);
        for (QWidget* child : frame->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            paintControl(child);
    }
    for (QWidget* control : std::initializer_list<QWidget*>{Option7, Option8, Check2, Check3})
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

    connect(Txt_Row, &QLineEdit::textChanged, this, &Form2::Txt_Row_Change);
    connect(Txt_LT, &QLineEdit::textChanged, this, &Form2::Txt_LT_Change);
    connect(Check1, &QCheckBox::toggled, this, &Form2::Check1_Click);
    connect(Check3, &QCheckBox::toggled, this, &Form2::Check3_Click);

    for (QWidget* box : std::initializer_list<QWidget*>{Combo1, Combo2, Txt_Row, Txt_LT})
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

void Form2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The start row has the focus when the dialog opens.
    if (!m_focusPlaced) {
        m_focusPlaced = true;
        Txt_Row->setFocus(Qt::OtherFocusReason);
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
    }
    return QDialog::eventFilter(watched, event);
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
    const QString typed = Txt_Row->text();
    if (typed.isEmpty()) {
        resetHeaderBox();
        return;
    }
    const std::optional<int> startRow = readStartRow(toUtf8(typed));
    if (!startRow || *startRow <= 0) {
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
    values.sheet = Option2->isChecked()   ? SheetOption::ByPosition
                   : Option3->isChecked() ? SheetOption::ByName
                                          : SheetOption::Active;
    values.range = Option4->isChecked()   ? RangeOption::LargestRectangle
                   : Option6->isChecked() ? RangeOption::Cells
                                          : RangeOption::StartRow;
    values.label = Option8->isChecked() ? LabelOption::CellContents : LabelOption::FilePath;
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
    return values;
}

void Form2::runOk(OkPart clicked) {
    const OkOutcome outcome = runOkAction(snapshot(clicked), m_resolve);
    if (outcome.accepted) {
        m_mergeOptions = outcome.options;
        accept();
        return;
    }
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
        case FocusTarget::None:
            break;
    }
    if (atFault) atFault->setFocus(Qt::OtherFocusReason);
}

}  // namespace options
