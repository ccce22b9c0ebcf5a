// The parameter sheet in its three modes, creation and opening through it,
// the settings dialog's mapping of every option, and the About dialog.
#include "character/CharaFile.h"
#include "character/LoadChara.h"
#include "desktop/Twips.h"
#include "desktop/WindowTest.h"
#include "desktop/frmMaw.h"
#include "desktop/frmVer.h"
#include "dialogs/frmParam.h"
#include "dialogs/frmSet.h"
#include "dialogs/frmVersion.h"
#include "services/Settings.h"

#include <QAction>
#include <QButtonGroup>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <sys/stat.h>

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
        test::writeFile(hero, CheckHeader(1000) + QByteArray(990, 'h'));
        CharaPath = hero;
        EXPECT_EQ(LoadChara(hero, Chara, CharaItem), 0);
    }
    static QStringList values(const frmParam& sheet)
    {
        QStringList v;
        for (const QLabel* l : sheet.lblValue)
            v << l->text();
        return v;
    }
};

const QStringList kHeroValues{QStringLiteral(" DMF"),      QStringLiteral("1 "),       QStringLiteral("134/134 "),
                              QStringLiteral("150(0%) "),  QStringLiteral("45(5%) "),  QStringLiteral("169(0%) "),
                              QStringLiteral("11(0%) "),   QStringLiteral("1000 "),    QStringLiteral("Cape "),
                              QStringLiteral("1179 ")};
const QStringList kEmptyValues{QStringLiteral(" DMF"), {}, {}, {}, {}, {}, {}, {}, {}, {}};

struct ModeCase {
    std::string name;
    std::int16_t mode;
    bool character;
    bool executeShown;
    const char* execute;
    const char* cancel;
    bool nameEnabled;
    const char* nameText;
    QStringList values;
};

class SheetModes : public SheetTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(SheetModes, ButtonsCaptionsAndValues)
{
    const ModeCase& c = GetParam();
    if (!c.character)
        ResetSettings();
    ParamMode = c.mode;
    frmParam sheet;
    sheet.Form_Load();
    EXPECT_EQ(sheet.windowTitle(), QStringLiteral("Parameter"));
    EXPECT_EQ(sheet.size(), PixelsFromTwips(0, 0, 3630, 3465).size());
    EXPECT_EQ(!sheet.cmdExecute->isHidden(), c.executeShown);
    EXPECT_EQ(sheet.cmdExecute->text(), QString::fromLatin1(c.execute));
    EXPECT_EQ(sheet.cmdCancel->text(), QString::fromLatin1(c.cancel));
    EXPECT_EQ(sheet.fraName->isEnabled(), c.nameEnabled);
    EXPECT_EQ(sheet.txtName->text(), QString::fromLatin1(c.nameText));
    EXPECT_EQ(values(sheet), c.values);
}

INSTANTIATE_TEST_SUITE_P(Modes, SheetModes,
    ::testing::Values(ModeCase{"Show", 1, true, false, "Ok", "Ok", false, " Hero", kHeroValues},
                      ModeCase{"ShowWithoutCharacter", 1, false, false, "Ok", "Ok", false, "", kEmptyValues},
                      ModeCase{"New", 0, true, true, "Make", "Cancel", true, "", kEmptyValues}),
    CaseName());

struct MakeCase {
    std::string name;
    const char* typed;
    const char* existing; // a file already in the home folder, or nullptr
    const char* refusal;  // nullptr: made
    bool readOnlyHome = false;
};

class Creation : public SheetTest, public ::testing::WithParamInterface<MakeCase> {};

TEST_P(Creation, MakesOrSaysWhyNot)
{
    const MakeCase& c = GetParam();
    const QString typed = QString::fromUtf8(c.typed);
    if (c.existing != nullptr)
        test::writeFile(home.file(QString::fromUtf8(c.existing)), "x");
    const auto listing = [this] { return QDir(home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); };
    const QStringList before = listing();
    const QByteArray native = QFile::encodeName(home.path());
    if (c.readOnlyHome) {
        ASSERT_EQ(::chmod(native.constData(), 0555), 0);
    }
    test::ModalScript script;
    bool stayedOpen = false;
    QString keptName;
    script.then<frmParam>([&](frmParam& sheet) {
        sheet.txtName->setText(typed);
        sheet.cmdExecute->click();
        stayedOpen = sheet.isVisible();
        keptName = sheet.txtName->text();
        if (stayedOpen)
            sheet.cmdCancel->click();
    });
    NewChara();
    ::chmod(native.constData(), 0755);
    EXPECT_TRUE(script.done());
    const QString made = home.file(typed + QStringLiteral(".dmf"));
    if (c.refusal == nullptr) {
        EXPECT_FALSE(stayedOpen);
        EXPECT_TRUE(catcher.boxes.isEmpty());
        EXPECT_EQ(CharaPath, made);
        EXPECT_EQ(Chara.Experience, 1000);
        EXPECT_TRUE(CheckCharaFile(made));
    } else {
        EXPECT_TRUE(stayedOpen);
        EXPECT_EQ(keptName, typed);
        EXPECT_EQ(catcher.boxes, (QList<ShownBox>{{QStringLiteral("作成ｴﾗｰ"), QString::fromUtf8(c.refusal),
                                                   QMessageBox::Critical}}));
        EXPECT_EQ(CharaPath, hero);
        EXPECT_EQ(listing(), before) << "nothing is left behind";
    }
}

INSTANTIATE_TEST_SUITE_P(Names, Creation,
    ::testing::Values(MakeCase{"Empty", "", nullptr, "名前を入力して下さい"},
                      MakeCase{"Slash", "a/b", nullptr, "\\ / : , ; * ? \" < > | は、使えません"},
                      MakeCase{"Comma", "a,b", nullptr, "\\ / : , ; * ? \" < > | は、使えません"},
                      MakeCase{"ExistingOutranksForbidden", "a;b", "a;b.dmf", "すでに存在するキャラです"},
                      MakeCase{"Existing", "Hero", nullptr, "すでに存在するキャラです"},
                      MakeCase{"Made", "Knight", nullptr, nullptr},
                      MakeCase{"SpacesOnly", "  ", nullptr, nullptr},
                      MakeCase{"UnwritableHome", "Knight", nullptr, "キャラファイルを作成できません", true}),
    CaseName());

enum class Close { Ok, Cancel, CloseBox };

struct OpenCase {
    std::string name;
    std::function<void(const QString& file)> spoil; // makes the chosen file unusable
    Close close;
    bool becomesCurrent;
};

class Opening : public SheetTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(Opening, AcceptsOrRefusesAndRestores)
{
    const OpenCase& c = GetParam();
    const QString other = home.file(QStringLiteral("Knight.dmf"));
    test::writeFile(other, CheckHeader(5000) + QByteArray(4990, 'k'));
    if (c.spoil)
        c.spoil(other);
    const CharaRecord heroChara = Chara;
    const CharaRecord heroItem = CharaItem;
    Chara.Vitarity = 3; // a wounded current character stays wounded on Cancel
    frmMaw maw;
    QList<bool> menuDuring;
    bool okEnabled = false;
    QString shownName;
    test::ModalScript script;
    script.then<QFileDialog>([&](QFileDialog& d) {
        d.selectFile(other);
        static_cast<QDialog&>(d).accept();
    });
    script.then<frmParam>([&](frmParam& sheet) {
        frmVer& ver = maw.menuWindow();
        ver.UpdateMenu();
        menuDuring = {ver.mnuAddNew->isEnabled(), ver.mnuOpen->isEnabled(), ver.mnuQuit->isEnabled()};
        okEnabled = sheet.cmdExecute->isEnabled();
        shownName = sheet.txtName->text();
        if (c.close == Close::Ok)
            sheet.cmdExecute->click();
        else if (c.close == Close::Cancel)
            sheet.cmdCancel->click();
        else
            sheet.close();
    });
    OpenChara();
    EXPECT_TRUE(script.done());
    EXPECT_EQ(menuDuring, (QList<bool>{false, false, false}));
    EXPECT_EQ(Idle, kTrue);
    const bool valid = !c.spoil;
    EXPECT_EQ(okEnabled, valid);
    EXPECT_EQ(shownName, valid ? QStringLiteral(" Knight") : QString());
    const QList<ShownBox> refusal{{QStringLiteral("読み込みエラー"), QStringLiteral("不正なファイルでごわス!"),
                                   QMessageBox::Critical}};
    EXPECT_EQ(catcher.boxes, valid ? QList<ShownBox>() : refusal);
    if (c.becomesCurrent) {
        EXPECT_EQ(CharaPath, other);
        EXPECT_EQ(Chara.Name, QStringLiteral("Knight"));
        EXPECT_EQ(Chara.Vitarity, Chara.MaxVitarity);
    } else {
        EXPECT_EQ(CharaPath, hero);
        EXPECT_EQ(Chara.Name, heroChara.Name);
        EXPECT_EQ(Chara.Vitarity, 3);
        EXPECT_EQ(CharaItem, heroItem);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Opening,
    ::testing::Values(
        OpenCase{"ValidOk", {}, Close::Ok, true},
        OpenCase{"ValidCancel", {}, Close::Cancel, false},
        OpenCase{"ValidCloseBox", {}, Close::CloseBox, false},
        OpenCase{"ResizedElsewhere", [](const QString& f) { test::writeFile(f, test::readFile(f) + "more"); },
                 Close::Cancel, false},
        OpenCase{"CannotBeWritten",
                 [](const QString& f) { ::chmod(QFile::encodeName(f).constData(), 0444); }, Close::Cancel, false}),
    CaseName());

TEST_F(SheetTest, CancelledFileDialogChangesNothing)
{
    test::ModalScript script;
    script.then<QFileDialog>([](QFileDialog& d) { d.reject(); });
    OpenChara();
    EXPECT_TRUE(script.done());
    EXPECT_EQ(CharaPath, hero);
    EXPECT_EQ(Idle, kTrue);
}

TEST_F(SheetTest, ReopensWhereItWasClosed)
{
    ParamMode = 1;
    {
        frmParam sheet;
        sheet.Form_Load();
        sheet.show();
        sheet.move(40, 60);
        sheet.cmdCancel->click();
    }
    frmParam again;
    again.Form_Load();
    EXPECT_EQ(again.pos(), QPoint(40, 60));
}

// One option of one group: the setting it stands for and its value.
struct OptionCase {
    std::string name;
    int group; // in tab order: optBt, optMsg, optMsgType, optMini, optDead, optTop
    int index;
    double value;
};

QButtonGroup* groupOf(const frmSet& d, int g)
{
    return std::array{d.optBt, d.optMsg, d.optMsgType, d.optMini, d.optDead, d.optTop}[static_cast<size_t>(g)];
}

double setting(int g)
{
    switch (g) {
    case 0: return AttSr;
    case 1: return static_cast<double>(MsgWait);
    case 2: return MsgType;
    case 3: return Minimize;
    case 4: return DeadAfter;
    default: return FormTop;
    }
}

void setSetting(int g, double v)
{
    switch (g) {
    case 0: AttSr = static_cast<std::int16_t>(v); break;
    case 1: MsgWait = static_cast<float>(v); break;
    case 2: MsgType = static_cast<std::int16_t>(v); break;
    case 3: Minimize = static_cast<std::int16_t>(v); break;
    case 4: DeadAfter = static_cast<std::int16_t>(v); break;
    default: FormTop = static_cast<std::int16_t>(v); break;
    }
}

class SettingsDialog : public test::WindowTest, public ::testing::WithParamInterface<OptionCase> {};
using DialogTest = test::WindowTest;

TEST_P(SettingsDialog, LoadsAndStoresTheOption)
{
    const OptionCase& c = GetParam();
    setSetting(c.group, c.value);
    {
        frmSet d(nullptr);
        d.Form_Load();
        EXPECT_EQ(groupOf(d, c.group)->checkedId(), c.index);
        d.cmdOK->click();
    }
    EXPECT_EQ(setting(c.group), c.value) << "unchanged by OK";

    // Chosen from another option, the same value is stored.
    const int other = c.index == 0 ? 1 : 0;
    frmSet d(nullptr);
    d.Form_Load();
    groupOf(d, c.group)->button(other)->click();
    d.cmdOK->click();
    EXPECT_NE(setting(c.group), c.value);
    d.Form_Load();
    groupOf(d, c.group)->button(c.index)->click();
    d.cmdOK->click();
    EXPECT_EQ(setting(c.group), static_cast<double>(static_cast<float>(c.value)));
}

INSTANTIATE_TEST_SUITE_P(Options, SettingsDialog,
    ::testing::Values(OptionCase{"EntryOrder", 0, 0, 0}, OptionCase{"LowestVitarity", 0, 1, 1},
                      OptionCase{"HighestStrength", 0, 2, 2}, OptionCase{"LowestDefense", 0, 3, 3},
                      OptionCase{"AtRandom", 0, 4, 4}, OptionCase{"TooFast", 1, 0, static_cast<double>(0.2F)},
                      OptionCase{"Fast", 1, 1, 0.5}, OptionCase{"Normal", 1, 2, 1.0},
                      OptionCase{"Slow", 1, 3, static_cast<double>(1.3F)}, OptionCase{"TooSlow", 1, 4, static_cast<double>(1.6F)},
                      OptionCase{"Business", 2, 0, 0}, OptionCase{"Rpg", 2, 1, 1}, OptionCase{"Violent", 2, 2, 2},
                      OptionCase{"MessageWhenMinimised", 3, 0, 0}, OptionCase{"VitarityWhenMinimised", 3, 1, 1},
                      OptionCase{"ToTrash", 4, 0, 0}, OptionCase{"Delete", 4, 1, 1},
                      OptionCase{"AlwaysInFront", 5, 0, -1}, OptionCase{"NotInFront", 5, 1, -2}),
    CaseName());

TEST_F(DialogTest, SettingsOutsideTheListsAndCancel)
{
    MsgWait = 0.7F;
    FormTop = 0;
    {
        frmSet d(nullptr);
        d.Form_Load();
        d.cmdOK->click();
    }
    EXPECT_EQ(MsgWait, 1.6F);
    EXPECT_EQ(FormTop, -2);

    for (const bool closeBox : {false, true}) {
        frmSet d(nullptr);
        d.Form_Load();
        for (int g = 0; g < 6; ++g)
            groupOf(d, g)->button(1)->click();
        if (closeBox)
            d.close();
        else
            d.cmdCancel->click();
        EXPECT_EQ(AttSr | MsgType | Minimize | DeadAfter, 0);
        EXPECT_EQ(MsgWait, 1.6F);
        EXPECT_EQ(FormTop, -2);
    }
}

TEST_F(DialogTest, InFrontOrNotAppliesAtOnceInPlace)
{
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    maw.move(70, 90);
    const QRegion outline = maw.mask();
    for (const int option : {0, 1}) {
        frmSet d(&maw);
        d.Form_Load();
        d.optTop->button(option)->click();
        d.cmdOK->click();
        EXPECT_EQ(maw.windowFlags().testFlag(Qt::WindowStaysOnTopHint), option == 0);
        EXPECT_TRUE(maw.isVisible());
        EXPECT_EQ(maw.pos(), QPoint(70, 90));
        EXPECT_EQ(maw.mask(), outline);
    }
}

TEST_F(DialogTest, AboutShowsTheVersionAndHidesALine)
{
    frmVersion about(nullptr);
    EXPECT_EQ(about.Label1->text(), QStringLiteral("Dustmaw Ver 1.0"));
    about.show();
    EXPECT_TRUE(about.Label4->visibleRegion().isEmpty());
    about.resize(about.width(), about.height() + PixelsFromTwipsY(780));
    EXPECT_FALSE(about.Label4->visibleRegion().isEmpty());
}

} // namespace
} // namespace dm
