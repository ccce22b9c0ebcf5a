// The parameter sheet in its three modes, creation and opening through it,
// the settings dialog's mapping of every option and the About dialog.
#include "character/CharaFile.h"
#include "character/LoadChara.h"
#include "desktop/WindowTest.h"
#include "desktop/frmVer.h"
#include "dialogs/frmParam.h"
#include "dialogs/frmSet.h"
#include "dialogs/frmVersion.h"
#include "services/Autostart.h"
#include "ui/Twips.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dm {
namespace {

using test::CaseName;
using test::PrintTo;
using test::ShownBox;

class SheetTest : public test::WindowTest {
protected:
    // Hero.dmf of 1000 bytes, made current.
    QString hero = home.file(QStringLiteral("Hero.dmf"));
    SheetTest()
    {
        test::writeFile(hero, test::stampedChara(1000));
        CharaPath = hero;
        EXPECT_EQ(LoadChara(hero, Chara, CharaItem), 0);
    }
};

// Execute's caption ("-" when hidden), Cancel's, the name ([typed] when it
// may be), then tribe, level, vitality, strength, defence, agility, luck,
// experience, item and next level.
QString shown(const frmParam& s)
{
    const QString name = s.txtName->text();
    QStringList out{s.cmdExecute->isHidden() ? QStringLiteral("-") : s.cmdExecute->text(), s.cmdCancel->text(),
                    s.fraName->isEnabled() ? QLatin1Char('[') + name + QLatin1Char(']') : name};
    for (const QLabel* l : s.lblValue)
        out << l->text();
    return out.join(QLatin1Char('|'));
}

struct ModeCase {
    std::string name;
    std::int16_t mode;
    bool character;
    const char* shown;
};
class SheetModes : public SheetTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(SheetModes, ShowsAndOpensWhereTheLastWasClosed)
{
    const ModeCase& c = GetParam();
    if (!c.character)
        ResetSharedState();
    ParamMode = c.mode;
    QWidget owner; // the first showing opens beside it, the next where the last was closed
    frmParam sheet(&owner);
    sheet.Form_Load();
    EXPECT_EQ(shown(sheet), QString::fromUtf8(c.shown));
    sheet.show();
    sheet.move(40, 60);
    sheet.cmdCancel->click();
    frmParam again(&owner);
    again.Form_Load();
    EXPECT_EQ(again.pos(), QPoint(40, 60));
}

INSTANTIATE_TEST_SUITE_P(Modes, SheetModes, ::testing::Values(
    ModeCase{"Show", 1, true, "-|Ok| Hero| DMF|1 |134/134 |150(0%) |45(5%) |169(0%) |11(0%) |1000 |Cape |1179 "},
    ModeCase{"ShowWithoutCharacter", 1, false, "-|Ok|| DMF|||||||||"},
    ModeCase{"New", 0, true, "Make|Cancel|[]| DMF|||||||||"}),
    CaseName());

// Which names are refused is the character rules' business; here, what the
// sheet does about a refusal, and that a home it cannot write in comes last.
struct MakeCase {
    std::string name;
    const char* typed;
    const char* refusal; // nullptr: made
    bool readOnlyHome = false;
};
class Creation : public SheetTest, public ::testing::WithParamInterface<MakeCase> {};

TEST_P(Creation, MakesOrSaysWhyNotAndStaysOpen)
{
    const MakeCase& c = GetParam();
    const QString typed = QString::fromUtf8(c.typed);
    const auto listing = [this] { return QDir(home.path()).entryList(QDir::AllEntries | QDir::Hidden); };
    const QStringList before = listing();
    const QByteArray native = QFile::encodeName(home.path());
    ASSERT_EQ(::chmod(native.constData(), c.readOnlyHome ? 0555 : 0755), 0);
    std::optional<QString> keptName; // while the sheet stays open
    modals.then<frmParam>([&](frmParam& sheet) {
        sheet.txtName->setText(typed);
        sheet.cmdExecute->click();
        if (sheet.isVisible()) {
            keptName = sheet.txtName->text();
            sheet.cmdCancel->click();
        }
    });
    NewChara();
    ::chmod(native.constData(), 0755);
    EXPECT_TRUE(modals.done());
    if (c.refusal == nullptr) {
        EXPECT_TRUE(!keptName && modals.boxes.isEmpty());
        EXPECT_EQ(CharaPath, home.file(typed + QStringLiteral(".dmf")));
        EXPECT_TRUE(Chara.Experience == 1000 && CheckCharaFile(CharaPath));
        return;
    }
    EXPECT_EQ(keptName, typed);
    const ShownBox refusal{QStringLiteral("作成ｴﾗｰ"), QString::fromUtf8(c.refusal), QMessageBox::Critical};
    EXPECT_EQ(modals.boxes, QList<ShownBox>{refusal});
    EXPECT_EQ(CharaPath, hero);
    EXPECT_EQ(listing(), before) << "nothing is left behind";
}

INSTANTIATE_TEST_SUITE_P(Names, Creation, ::testing::Values(
    MakeCase{"Empty", "", "名前を入力して下さい", true},
    MakeCase{"Made", "Knight", nullptr},
    MakeCase{"UnwritableHome", "Knight", "キャラファイルを作成できません", true}),
    CaseName());

enum class Close { Ok, Cancel, CloseBox, NoFileChosen };

struct OpenCase {
    std::string name;
    void (*spoil)(const QString& file); // makes the chosen file unusable
    Close close;
};
class Opening : public SheetTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(Opening, AcceptsOrRefusesAndRestores)
{
    const OpenCase& c = GetParam();
    const QString other = home.file(QStringLiteral("Knight.dmf"));
    test::writeFile(other, test::stampedChara(5000));
    if (c.spoil != nullptr)
        c.spoil(other);
    const CharaRecord heroChara = Chara;
    const CharaRecord heroItem = CharaItem;
    Chara.Vitarity = 3; // a wounded current character stays wounded on Cancel
    modals.then<QFileDialog>([&](QFileDialog& d) {
        d.selectFile(other);
        c.close == Close::NoFileChosen ? d.reject() : static_cast<QDialog&>(d).accept();
    });
    modals.then<frmParam>([&](frmParam& sheet) {
        EXPECT_EQ(sheet.cmdExecute->isEnabled(), c.spoil == nullptr);
        EXPECT_EQ(Idle, kFalse); // no drop, New, Open or Quit meanwhile
        if (c.close == Close::Ok)
            sheet.cmdExecute->click();
        else if (c.close == Close::Cancel)
            sheet.cmdCancel->click();
        else
            sheet.close();
    });
    OpenChara();
    EXPECT_EQ(modals.done(), c.close != Close::NoFileChosen);
    EXPECT_EQ(Idle, kTrue);
    const ShownBox refusal{QStringLiteral("読み込みエラー"), QStringLiteral("不正なファイルでごわス!"),
                           QMessageBox::Critical};
    EXPECT_EQ(modals.boxes, c.spoil == nullptr ? QList<ShownBox>() : QList<ShownBox>{refusal});
    const bool opened = c.close == Close::Ok;
    EXPECT_EQ(CharaPath, opened ? other : hero);
    EXPECT_EQ(Chara.Name, opened ? QStringLiteral("Knight") : heroChara.Name);
    EXPECT_EQ(Chara.Vitarity, opened ? Chara.MaxVitarity : 3);
    EXPECT_TRUE(opened || CharaItem == heroItem);
}

INSTANTIATE_TEST_SUITE_P(Files, Opening, ::testing::Values(
    OpenCase{"ValidOk", nullptr, Close::Ok},
    OpenCase{"ValidCloseBox", nullptr, Close::CloseBox},
    OpenCase{"NoFileChosen", nullptr, Close::NoFileChosen},
    OpenCase{"ResizedElsewhere", [](const QString& f) { test::writeFile(f, test::readFile(f) + "more"); },
             Close::Cancel},
    OpenCase{"OwnerMayNotWrite", [](const QString& f) { QFile(f).setPermissions(QFile::ReadOwner); }, Close::Cancel}),
    CaseName());

// A setting accepted with OK and a new current character are on disk at
// once; the program ended while the open sheet shows another file keeps the
// character that was current.
TEST_F(SheetTest, ChangesAreSavedAtOnce)
{
    const QString ini = home.file(QStringLiteral("DM.ini"));
    const QString other = home.file(QStringLiteral("Knight.dmf"));
    test::writeFile(other, test::stampedChara(5000));
    test::writeFile(ini, "[Setting]\nDefaultChara=" + QFile::encodeName(hero) + '\n');
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    const auto saved = [&ini](const QString& chara) {
        return test::readFile(ini).contains("\nDefaultChara=" + QFile::encodeName(chara) + '\n');
    };
    modals.then<frmSet>([](frmSet& d) {
        d.optMsgType->button(2)->click();
        d.cmdOK->click();
    });
    maw.menuWindow().mnuSetting_Click();
    EXPECT_TRUE(test::readFile(ini).contains("\nMsgType=2\n"));

    modals.then<QFileDialog>([&](QFileDialog& d) {
        d.selectFile(other);
        static_cast<QDialog&>(d).accept();
    });
    modals.then<frmParam>([&](frmParam& sheet) {
        const pid_t child = ::fork();
        if (child == 0)
            maw.Terminate(); // ends the child
        int status = -1;
        EXPECT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_TRUE(saved(hero)) << test::readFile(ini).toStdString();
        sheet.cmdExecute->click();
    });
    maw.menuWindow().mnuOpen_Click();
    EXPECT_TRUE(modals.done());
    EXPECT_TRUE(saved(other)) << test::readFile(ini).toStdString();
}

// A group of options, the setting it stands for and the value of each option.
struct GroupCase {
    std::string name;
    QButtonGroup* frmSet::*group;
    std::int16_t* setting; // nullptr: MsgWait
    std::vector<float> values;
};
class SettingsDialog : public test::WindowTest, public ::testing::WithParamInterface<GroupCase> {};
using DialogTest = test::WindowTest;

TEST_P(SettingsDialog, ShowsEveryOptionAndStoresItOnlyOnOk)
{
    const GroupCase& c = GetParam();
    const auto value = [&c] { return c.setting != nullptr ? *c.setting : MsgWait; };
    frmSet d;
    for (size_t i = 0; i < c.values.size(); ++i) {
        SCOPED_TRACE("option " + std::to_string(i));
        if (c.setting != nullptr)
            *c.setting = static_cast<std::int16_t>(c.values[i]);
        else
            MsgWait = c.values[i];
        const size_t next = (i + 1) % c.values.size();
        d.Form_Load();
        EXPECT_EQ((d.*c.group)->checkedId(), static_cast<int>(i));
        (d.*c.group)->button(static_cast<int>(next))->click();
        d.cmdCancel->click();
        EXPECT_EQ(value(), c.values[i]);
        d.Form_Load();
        (d.*c.group)->button(static_cast<int>(next))->click();
        d.cmdOK->click();
        EXPECT_EQ(value(), c.values[next]);
    }
}

INSTANTIATE_TEST_SUITE_P(Groups, SettingsDialog, ::testing::Values(
    GroupCase{"AttackOrder", &frmSet::optBt, &AttSr, {0, 1, 2, 3, 4}},
    GroupCase{"MessageSpeed", &frmSet::optMsg, nullptr, {0.2F, 0.5F, 1.0F, 1.3F, 1.6F}},
    GroupCase{"MessageStyle", &frmSet::optMsgType, &MsgType, {0, 1, 2}},
    GroupCase{"WhenMinimised", &frmSet::optMini, &Minimize, {0, 1}},
    GroupCase{"BeatenFiles", &frmSet::optDead, &DeadAfter, {0, 1}},
    GroupCase{"InFront", &frmSet::optTop, &FormTop, {-1, -2}}),
    CaseName());

// The check box shows the autostart entry and only OK switches it; a refusal
// is told and the other settings are taken all the same. The box stands
// below every other control, inside the dialog.
TEST_F(DialogTest, AutostartBoxSwitchesTheEntryOnOk)
{
    frmSet d;
    for (const bool wasOn : {false, true}) {
        d.Form_Load();
        EXPECT_EQ(d.chkAutostart->isChecked(), wasOn);
        d.chkAutostart->click();
        d.cmdCancel->click();
        EXPECT_EQ(AutostartEnabled(), wasOn);
        d.Form_Load();
        d.chkAutostart->click();
        d.cmdOK->click();
        EXPECT_EQ(AutostartEnabled(), !wasOn);
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(AutostartPath()).path());
    ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
    d.Form_Load();
    d.chkAutostart->click();
    d.optMsgType->button(2)->click();
    d.cmdOK->click();
    ::chmod(folder.constData(), 0755);
    EXPECT_TRUE(!AutostartEnabled() && MsgType == 2 && d.result() == QDialog::Accepted);
    ASSERT_EQ(modals.boxes.size(), 1);
    EXPECT_TRUE(modals.boxes[0].text.startsWith(QStringLiteral("ログイン時の起動を設定できません\n")));
    for (const QWidget* w : d.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(w == d.chkAutostart || w->geometry().bottom() < d.chkAutostart->y()) << w->metaObject()->className();
    EXPECT_TRUE(d.rect().contains(d.chkAutostart->geometry()));
}

// The settings dialog's button opens About over it; About shows the version
// and hides its last line until made taller; closed, it leaves the settings
// chosen so far as they were.
TEST_F(DialogTest, AboutOpensOverTheSettings)
{
    frmSet d;
    d.Form_Load();
    d.optMsgType->button(2)->click();
    const QWidget* over = nullptr;
    modals.then<frmVersion>([&](frmVersion& about) {
        over = about.parentWidget();
        EXPECT_EQ(about.Label1->text(), QStringLiteral("Dustmaw Ver 1.0"));
        EXPECT_TRUE(about.Label4->visibleRegion().isEmpty());
        about.resize(about.width(), about.height() + PixelsFromTwipsY(780));
        EXPECT_FALSE(about.Label4->visibleRegion().isEmpty());
        about.close();
    });
    d.Command1->click();
    EXPECT_TRUE(modals.done() && over == &d);
    d.cmdOK->click();
    EXPECT_EQ(MsgType, 2);
}

} // namespace
} // namespace dm
