#include "dialogs/frmParam.h"

#include "character/CharaFile.h"
#include "character/LoadChara.h"
#include "character/MakeChara.h"
#include "character/ParamText.h"
#include "services/HomeFolder.h"
#include "services/Settings.h"
#include "services/clsFile.h"
#include "ui/Platform.h"
#include "ui/Twips.h"

#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>

#include <tuple>

namespace dm {

std::int16_t ParamMode = 1;

namespace {

bool g_openSheet = false;

constexpr int kClientWidth = 3630;
constexpr int kClientHeight = 3465;
constexpr int kRowTop = 600;
constexpr int kRowStep = 240;
constexpr int kRowHeight = 225;
constexpr int kValueLeft = 1440;
constexpr int kValueWidth = 2070;

// Caption and value row, top to bottom, after the name.
constexpr struct {
    const char* caption;
    int value;
} kRows[] = {
    {"Tribe :", 0},   {"Level :", 1}, {"Vitarity :", 2},   {"Strength :", 3},   {"Defense :", 4},
    {"Agility :", 5}, {"Luck :", 6},  {"Experience :", 7}, {"Next Level :", 9}, {"Item :", 8},
};

QLabel* caption(QWidget* parent, const char* text, int top)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setGeometry(PixelsFromTwips(120, top, 1260, kRowHeight));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// A character file the sheet may make current: its header matches its size,
// and it can be grown in place (readable, writable, in a writable folder).
bool usableCharaFile(const QString& path)
{
    clsFile file;
    file.setFileName(path);
    return CheckCharaFile(path) && file.Enabled() && !file.ReadOnly();
}

void showSheet(QWidget* owner)
{
    frmParam sheet(owner);
    sheet.Form_Load();
    NeverMinimised(sheet);
    sheet.exec();
}

} // namespace

frmParam::frmParam(QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                  | Qt::MSWindowsFixedSizeDialogHint),
      fraName(new QFrame(this)),
      txtName(new QLineEdit(fraName)),
      cmdExecute(new QPushButton(this)),
      cmdCancel(new QPushButton(this))
{
    setWindowTitle(QStringLiteral("Parameter"));
    setFont(JapaneseFont(false, 9.75));
    setFixedSize(PixelsFromTwips(0, 0, kClientWidth, kClientHeight).size());

    caption(this, "Name :", 180);
    fraName->setGeometry(PixelsFromTwips(kValueLeft, 60, kValueWidth, 465));
    fraName->setFrameShape(QFrame::StyledPanel);
    txtName->setGeometry(PixelsFromTwips(60, 75, kValueWidth - 120, 315));
    for (int r = 0; r < 10; ++r) {
        const int top = kRowTop + r * kRowStep;
        caption(this, kRows[r].caption, top);
        auto* value = new QLabel(this);
        value->setGeometry(PixelsFromTwips(kValueLeft, top, kValueWidth, kRowHeight));
        value->setFrameShape(QFrame::Panel);
        value->setFrameShadow(QFrame::Sunken);
        // Names read from the left, numbers from the right.
        value->setAlignment((kRows[r].value == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
        lblValue[static_cast<size_t>(kRows[r].value)] = value;
    }
    lblValue[0]->setText(QStringLiteral(" DMF"));
    cmdExecute->setGeometry(PixelsFromTwips(480, 3000, 1200, 360));
    cmdCancel->setGeometry(PixelsFromTwips(1950, 3000, 1200, 360));
    connect(cmdExecute, &QPushButton::clicked, this, &frmParam::cmdExecute_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmParam::cmdCancel_Click);
}

void frmParam::Form_Load()
{
    if (ParamPlaced || parentWidget() == nullptr) {
        move(PixelsFromTwipsX(ParamLeft), PixelsFromTwipsY(ParamTop));
        KeepOnScreen(*this);
    } else {
        PlaceBeside(*this, *parentWidget());
    }
    const bool makeNew = ParamMode == 0;
    cmdExecute->setVisible(ParamMode != 1);
    cmdExecute->setText(makeNew ? QStringLiteral("Make") : QStringLiteral("Ok"));
    cmdCancel->setText(ParamMode == 1 ? QStringLiteral("Ok") : QStringLiteral("Cancel"));
    fraName->setEnabled(makeNew);
    (makeNew ? cmdExecute : cmdCancel)->setDefault(true);
    SheetPath.clear();
    switch (ParamMode) {
    case 1:
        SheetPath = CharaPath;
        SheetChara = Chara;
        SheetItem = CharaItem;
        break;
    case 2:
        SheetPath = CharaPath;
        if (!usableCharaFile(SheetPath) || LoadChara(SheetPath, SheetChara, SheetItem) != 0) {
            MsgBox(this, QStringLiteral("不正なファイルでごわス!"), QStringLiteral("読み込みエラー"),
                   QMessageBox::Critical);
            SheetPath.clear();
            cmdExecute->setEnabled(false);
        }
        break;
    default: break;
    }
    if (!SheetPath.isEmpty())
        ShowParam(SheetPath, SheetChara, SheetItem);
}

void frmParam::ShowParam(const QString& path, const CharaRecord& chara, const CharaRecord& item)
{
    const ParamText t = ShowParamText(path, chara, item);
    txtName->setText(t.name);
    const QString values[]
        = {t.tribe, t.level, t.vitarity, t.strength, t.defense, t.agility, t.luck, t.experience, t.item, t.nextLevel};
    for (size_t i = 0; i < lblValue.size(); ++i)
        lblValue[i]->setText(values[i]);
}

void frmParam::cmdExecute_Click()
{
    if (ParamMode == 0) {
        bool cancel = false;
        const QString message = MakeChara(txtName->text(), CharaPath, cancel);
        if (cancel) {
            MsgBox(this, message, QString::fromUtf16(kMakeCharaErrorTitle), QMessageBox::Critical);
            return;
        }
        std::ignore = LoadChara(CharaPath, Chara, CharaItem);
    } else if (ParamMode == 2) {
        Chara = SheetChara;
        CharaItem = SheetItem;
        CharaPath = SheetPath;
        CharaPathBackup = CharaPath;
    }
    accept();
}

void frmParam::cmdCancel_Click()
{
    if (ParamMode == 2)
        CharaPath = CharaPathBackup;
    QDialog::reject();
}

void frmParam::reject() { cmdCancel_Click(); }

void frmParam::done(int result)
{
    StoreTwips(pos(), ParamLeft, ParamTop);
    ParamPlaced = true;
    QDialog::done(result);
}

void ShowCharaParam(QWidget* owner)
{
    ParamMode = 1;
    showSheet(owner);
}

void NewChara(QWidget* owner)
{
    ParamMode = 0;
    showSheet(owner);
}

void OpenChara(QWidget* owner)
{
    ParamMode = 2;
    QFileDialog dialog(owner, QString(), HomeFolder(), QStringLiteral("DustmawFile(*.dmf)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.adjustSize();
    CentreOnOwnersScreen(dialog);
    NeverMinimised(dialog);
    const QString chosen = dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    if (chosen.isEmpty())
        return;
    CharaPathBackup = CharaPath;
    CharaPath = chosen;
    // No drop and no New, Open or Quit while the sheet decides.
    Idle = kFalse;
    g_openSheet = true;
    const auto idleAgain = qScopeGuard([] {
        g_openSheet = false;
        Idle = kTrue;
    });
    showSheet(owner);
}

bool OpenSheetShowing() { return g_openSheet; }

} // namespace dm
