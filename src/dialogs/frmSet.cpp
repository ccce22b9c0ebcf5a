#include "dialogs/frmSet.h"

#include "dialogs/frmVersion.h"
#include "services/Autostart.h"
#include "services/Numeric.h"
#include "services/Settings.h"
#include "ui/Platform.h"
#include "ui/Twips.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

namespace dm {

namespace {

// What the message-speed and always-in-front options store.
const char* const kWaitValues[] = {"0.2", "0.5", "1", "1.3", "1.6"};
const char* const kTopValues[] = {"-1", "-2"};

constexpr int kFrameLeft = 180;
constexpr int kFrameWidth = 4920;

double valueOf(const char* const* values, int index) { return Val(QString::fromLatin1(values[index])); }

void select(QButtonGroup* g, int index)
{
    if (QAbstractButton* b = g->button(index))
        b->setChecked(true);
}

} // namespace

frmSet::frmSet(QWidget* owner)
    : QDialog(owner,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                  | Qt::MSWindowsFixedSizeDialogHint)
{
    setWindowTitle(QStringLiteral("Setting"));
    setFont(JapaneseFont(true, 9));
    setFixedSize(PixelsFromTwips(0, 0, 5355, 6135).size());
    // On the hero's screen, not over the small hero at the screen's edge.
    CentreOnOwnersScreen(*this);

    QWidget* last = nullptr;
    optBt = group("削除対象の決定方法", 135, 1635,
                  {"エントリー順に攻撃する", "Vitarityの低い順に攻撃する", "Strengthの高い順に攻撃する",
                   "Defenseの低い順に攻撃する", "適当に攻撃する"},
                  false, kFrameLeft, 4950, last);
    optMsg = group("削除中メッセージ表示速度", 1845, 645, {"早すぎ", "早い", "普通", "遅い", "遅すぎ"}, true,
                   kFrameLeft, kFrameWidth, last);
    optMsgType = group("削除中のメッセージ", 2535, 585, {"仕事中っぽく", "ＲＰＧっぽく", "暴力的に"}, true, kFrameLeft,
                       kFrameWidth, last);
    optMini = group("最小化時の戦況表示", 3165, 585, {"通常メッセージ", "Vitarityと敵の残数"}, true, kFrameLeft,
                    kFrameWidth, last);
    optDead = group("削除したファイルの処理", 3795, 585, {"ゴミ箱にすてる", "削除する"}, true, kFrameLeft, kFrameWidth,
                    last);
    optTop = group("ウインドウを常に手前に表示", 4440, 585, {"する", "しない"}, true, 195, kFrameWidth, last);
    // Until loaded: "普通" and "しない", index 0 elsewhere.
    select(optMsg, 2);
    select(optTop, 1);

    Command1 = new QPushButton(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"), this);
    Command1->setGeometry(PixelsFromTwips(195, 5235, 1350, 360));
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setGeometry(PixelsFromTwips(2250, 5235, 1350, 360));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setGeometry(PixelsFromTwips(3720, 5235, 1350, 360));
    setTabOrder(last, cmdOK);
    setTabOrder(cmdOK, cmdCancel);
    setTabOrder(cmdCancel, Command1);
    chkAutostart = new QCheckBox(QStringLiteral("ログイン時に起動する"), this);
    chkAutostart->setGeometry(PixelsFromTwips(195, 5715, kFrameWidth, 270));
    setTabOrder(Command1, chkAutostart);

    connect(cmdOK, &QPushButton::clicked, this, &frmSet::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(Command1, &QPushButton::clicked, this, &frmSet::Command1_Click);
}

QButtonGroup* frmSet::group(const char* caption, int top, int height, const QList<const char*>& options, bool oneRow,
                            int left, int width, QWidget*& lastInTabOrder)
{
    auto* frame = new QGroupBox(QString::fromUtf8(caption), this);
    frame->setGeometry(PixelsFromTwips(left, top, width, height));
    auto* g = new QButtonGroup(this);
    const int n = static_cast<int>(options.size());
    for (int i = 0; i < n; ++i) {
        auto* option = new QRadioButton(QString::fromUtf8(options[i]), frame);
        // A row of options shares the frame's width; a column has one a line.
        const int optionWidth = n == 5 ? 900 : (width - 240) / n;
        option->setGeometry(oneRow ? PixelsFromTwips(120 + i * optionWidth, 255, optionWidth, 270)
                                   : PixelsFromTwips(120, 255 + i * 270, width - 240, 270));
        g->addButton(option, i);
        if (lastInTabOrder != nullptr)
            setTabOrder(lastInTabOrder, option);
        lastInTabOrder = option;
    }
    g->button(0)->setChecked(true);
    return g;
}

void frmSet::Form_Load()
{
    select(optBt, AttSr);
    int wait = 4;
    for (int i = 0; i < 4; ++i) {
        // Compared as the single-precision number the setting is.
        if (MsgWait == static_cast<float>(valueOf(kWaitValues, i)))
            wait = i;
    }
    select(optMsg, wait);
    select(optDead, DeadAfter);
    if (FormTop == -2)
        select(optTop, 1);
    else if (FormTop == -1)
        select(optTop, 0);
    select(optMsgType, MsgType);
    select(optMini, Minimize);
    chkAutostart->setChecked(AutostartEnabled());
}

void frmSet::cmdOK_Click()
{
    AttSr = static_cast<std::int16_t>(optBt->checkedId());
    MsgWait = static_cast<float>(valueOf(kWaitValues, optMsg->checkedId()));
    DeadAfter = static_cast<std::int16_t>(optDead->checkedId());
    FormTop = roundToInt<std::int16_t>(valueOf(kTopValues, optTop->checkedId()));
    MsgType = static_cast<std::int16_t>(optMsgType->checkedId());
    Minimize = static_cast<std::int16_t>(optMini->checkedId());
    // Only a change is written: an entry the user edited stays as it is.
    const bool autostart = chkAutostart->isChecked();
    if (autostart != AutostartEnabled()) {
        const AutostartResult r
            = autostart ? EnableAutostart(QCoreApplication::applicationFilePath()) : DisableAutostart();
        if (!r.ok)
            MsgBox(this, QStringLiteral("ログイン時の起動を設定できません\n") + r.error, {}, QMessageBox::Warning);
    }
    Q_EMIT formTopChosen();
    accept();
}

void frmSet::Command1_Click()
{
    frmVersion about(this);
    NeverMinimised(about);
    about.exec();
}

} // namespace dm
