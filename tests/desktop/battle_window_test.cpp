// Battles through the battle list window and their undo; what the hero's window
// answers to each way of handling it, in a battle and out of one.
#include "battle/History.h"
#include "battle/Messages.h"
#include "character/CharaLock.h"
#include "desktop/EntryModel.h"
#include "desktop/WindowTest.h"
#include "desktop/frmEntry.h"
#include "desktop/frmVer.h"
#include "dialogs/frmParam.h"
#include "ui/Twips.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTest>
#include <QTreeView>
#include <QUrl>

#include <functional>

#include <sys/wait.h>
#include <unistd.h>

namespace dm {
namespace {

using test::PrintTo;
using test::ShownBox;

// A file list as a file manager drags it; what is not an absolute path is a URL.
std::unique_ptr<QMimeData> files(const QStringList& paths)
{
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls << (p.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(p) : QUrl(p));
    mime->setUrls(urls);
    return mime;
}

// Opens a pop-up menu with `open` and chooses its first action when `choose`
// and it is enabled, else closes it. What the menu offered, " (off)" after a
// disabled action; empty when no menu opened.
QStringList popup(const std::function<void()>& open, bool choose)
{
    QStringList offered;
    QTimer answer;
    answer.callOnTimeout([&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr)
            return;
        answer.stop();
        for (const QAction* a : menu->actions()) {
            if (!a->isSeparator())
                offered << a->text() + (a->isEnabled() ? QString() : QStringLiteral(" (off)"));
        }
        QAction* first = menu->actions().value(0);
        if (choose && first != nullptr && first->isEnabled()) {
            menu->setActiveAction(first);
            QTest::keyClick(menu, Qt::Key_Return);
        } else {
            menu->close();
        }
    });
    answer.start(5);
    open();
    return offered;
}

QStringList rightClick(frmEntry& entry, bool choose)
{
    return popup(
        [&entry] {
            QWidget* list = entry.lvEntry().viewport();
            const QPoint at(5, 5);
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->mapToGlobal(at));
            QApplication::sendEvent(list, &event);
        },
        choose);
}

class DropTest : public test::WindowTest {
protected:
    QString hero = home.file(QStringLiteral("Hero.dmf"));
    QString dir = home.file(QStringLiteral("drop"));
    QString ini = home.file(QStringLiteral("DM.ini"));

    DropTest()
    {
        test::writeFile(hero, test::stampedChara(1000));
        test::writeFile(ini,
                        "[Setting]\nMsgType=1\nDefaultChara=" + QFile::encodeName(hero) + '\n');
        QDir().mkpath(dir + QStringLiteral("/folder"));
    }

    QString enemy(const char* name) { return test::makeFile(dir + QLatin1Char('/') + QString::fromUtf8(name), {200, 'x'}); }

    // Drags onto an opaque pixel of the hero offering copy and move, as file
    // managers do, and drops; what the source is told it has done.
    static Qt::DropAction drop(frmMaw& maw, const QMimeData& mime)
    {
        const QPoint at = maw.outline().front().topLeft();
        const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(at, offered, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&maw, &enter);
        QDropEvent dropped(at, offered, &mime, Qt::LeftButton, Qt::NoModifier);
        dropped.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(&maw, &dropped);
        EXPECT_TRUE(enter.isAccepted() && dropped.isAccepted());
        return dropped.dropAction();
    }
};

TEST_F(DropTest, DroppedFilesFightThroughTheEntryWindow)
{
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    frmEntry& entry = maw.entry();
    const QStringList beaten{enemy("draft.txt"), enemy("list.txt"), enemy("b.txt")};
    // Every draw 0.5: Hero (Agility 169) always hits these slower enemies,
    // which never hit back; each falls to one blow.
    test::ScriptedRandom draws({}, 0.5F);
    entry.setWaitScale(0.001);
    const QString late = enemy("c.txt");

    // Looked at once, in the middle of the battle.
    bool seen = false;
    QTimer probe;
    probe.callOnTimeout([&] {
        if (seen || Idle != kFalse)
            return;
        seen = true;
        EXPECT_TRUE(entry.vitarityText() == QStringLiteral("Vit：134") && !entry.close() && entry.isVisible());
        drop(maw, *files({late}));
        EXPECT_EQ(entry.model().rowCount(), 3);
    });
    probe.start(1);

    // A folder, a web address and the hero's own file are no enemies.
    EXPECT_EQ(drop(maw, *files({beaten[0], dir + QStringLiteral("/folder"), beaten[1],
                                QStringLiteral("https://example.com/x.txt"), hero, beaten[2]})),
              Qt::CopyAction);
    EXPECT_TRUE(maw.Busy()); // until the battle has begun, another drop only beeps
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen && !maw.Busy(); }, 30000));
    EXPECT_TRUE(QFile::exists(late));

    ASSERT_EQ(entry.model().rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        const QFileInfo file(beaten[row]);
        EXPECT_EQ(std::tuple(entry.model().index(row, 0).data().toString(), file.exists(),
                             QFile::exists(home.trashed(file.fileName()))),
                  std::tuple(file.completeBaseName(), false, true));
    }
    EXPECT_TRUE(entry.isVisible() && entry.messageText().startsWith(QStringLiteral("Hero")) && modals.boxes.isEmpty()
                && QFileInfo(hero).size() > 1000 && QFileInfo(dir + QStringLiteral("/folder")).isDir());
    EXPECT_TRUE(entry.close()); // idle, it may
}

// The list's context menu undoes the battle it shows, once, never during
// one: what the Trash holds goes back to its path, never over a file that took
// the path since, and a lost hero is the current character again, able to fight.
TEST_F(DropTest, TheListUndoesItsBattle)
{
    // Every draw 0.5: whoever is faster always hits. "boss" (Agility 265,
    // Strength 375) fells the hero at its first blow; "a" and "b" fall to one.
    const struct { const char* name; QStringList dropped; qint64 size; const char* box; } cases[] = {
        {"Lost", {u"boss.txt"_s}, 1000000, "1 件のファイルを元に戻しました。\nキャラ「Hero」を現在のキャラに戻しました。"},
        {"Occupied", {u"a.txt"_s, u"b.txt"_s}, 200,
         "1 件のファイルを元に戻しました。\nDIR/b.txt: 同じ名前のファイルがあるため、ごみ箱に残しました"}};
    const QString undo = QStringLiteral("このバトルを元に戻す");
    const QStringList on{undo}, off{undo + QStringLiteral(" (off)")};
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    frmEntry& entry = maw.entry();
    entry.setWaitScale(0.001);
    test::ScriptedRandom draws({}, 0.5F);
    const auto fight = [&](const QStringList& paths) {
        drop(maw, *files(paths));
        return QTest::qWaitFor([&] { return !maw.Busy(); }, 30000);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool lost = c.dropped.size() == 1;
        const QString folder = dir + QLatin1Char('/') + QString::fromUtf8(c.name);
        QStringList paths;
        QDir().mkpath(folder);
        for (const QString& name : c.dropped)
            test::writeFileOfSize(paths.emplace_back(folder + QLatin1Char('/') + name), c.size);
        const QByteArray heroBefore = test::readFile(hero);
        std::optional<QStringList> during;
        QTimer probe;
        probe.callOnTimeout([&] {
            if (!during && Idle == kFalse)
                during = rightClick(entry, false);
        });
        probe.start(1);
        ASSERT_TRUE(fight(paths));
        probe.stop();
        // A lost character is forgotten at once, not only at the end.
        EXPECT_EQ(std::tuple(during, CharaPath.isEmpty(), test::readFile(ini).contains("DefaultChara=\n"), maw.pose()),
                  std::tuple(std::optional(QStringList{}), lost, lost, lost ? HeroPose::Fallen : HeroPose::Standing));
        if (!lost)
            test::writeFile(paths[1], "new");
        EXPECT_EQ(rightClick(entry, true), on);
        const QString box = QString::fromUtf8(c.box).replace(QStringLiteral("DIR"), folder);
        EXPECT_EQ(modals.boxes, (QList<ShownBox>{{QStringLiteral("Dustmaw"), box}}));
        modals.boxes.clear();
        EXPECT_EQ(test::readFile(paths.back()), lost ? QByteArray(c.size, 'x') : "new");
        // A lost hero comes back as it was; a winner keeps what it gained.
        EXPECT_EQ(std::tuple(test::readFile(paths[0]).size(), test::readFile(hero) == heroBefore, CharaPath, maw.pose(),
                             rightClick(entry, false)),
                  std::tuple(c.size, lost, hero, HeroPose::Standing, off));
        EXPECT_TRUE(test::readFile(ini).contains("DefaultChara=" + QFile::encodeName(hero)));
    }
    // The hero fights again, as it is on disk; a drop that fights nothing clears the list and its undo.
    ASSERT_TRUE(fight({enemy("next.txt")}));
    EXPECT_EQ(std::pair(QFile::exists(dir + QStringLiteral("/next.txt")), rightClick(entry, false)), std::pair(false, on));
    ASSERT_TRUE(fight({dir + QStringLiteral("/folder")}));
    EXPECT_EQ(std::pair(rightClick(entry, false), modals.boxes.isEmpty()), std::pair(off, true));
    // Where the history cannot say where a beaten file goes, it stays, and the hero says so.
    ASSERT_TRUE(QDir(HistoryFolder()).removeRecursively());
    test::writeFile(HistoryFolder(), "not a folder");
    const QString kept = enemy("kept.txt");
    ASSERT_TRUE(fight({kept}));
    EXPECT_TRUE(QFile::exists(kept) && modals.boxes.size() == 1
                && modals.boxes.value(0).text.startsWith(
                    QStringLiteral("履歴に記録できなかったため、1 件のファイルを元の場所に残しました。\n")))
        << modals.boxes.value(0).text.toStdString();
}

// What the hero's window does with each way of handling it, during a battle
// and outside one. "quits": the program unloads; "ends": the process ends at
// once with the settings saved and no further file disposed of; "sheet": the
// parameter sheet opens; "ready": the hero shows it would fight what is dragged
// over it; "busy" and "no character": a drop while another battle fights with
// the hero, or without one, fights nothing and says why; for the menu, its items.
enum class Act { Menu, Close, DoubleClick, Terminate, Quit, Drag, Drop };
struct AnswerCase {
    std::string name;
    bool chara;
    bool battle;
    Act act;
    const char* answer;
};
class Answers : public DropTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(Answers, DuringAndOutsideABattle)
{
    const AnswerCase& c = GetParam();
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    if (!c.chara)
        CharaPath.clear();
    bool unloaded = false;
    QObject::connect(&maw, &frmMaw::unloaded, [&unloaded] { unloaded = true; });
    bool sheet = false;
    modals.then<frmParam>([&sheet](frmParam& s) { sheet = s.close(); });
    const QPoint at = maw.outline().front().topLeft();
    const auto mouse = [&](QEvent::Type type, Qt::MouseButton button) {
        QMouseEvent e(type, at, maw.mapToGlobal(at), button, button, Qt::NoModifier);
        QApplication::sendEvent(&maw, &e);
    };
    // The process is forked to end it in the middle of its battle.
    const auto terminated = [&]() -> QString {
        test::writeFile(ini, "");
        const QStringList left = QDir(dir).entryList(QDir::Files);
        const pid_t child = ::fork();
        if (child == 0) {
            maw.Terminate();
            ::_exit(3);
        }
        int status = -1;
        EXPECT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(QDir(dir).entryList(QDir::Files), left);
        const bool saved = test::readFile(ini).contains("\nDefaultChara=" + QFile::encodeName(hero) + '\n');
        return WIFEXITED(status) && WEXITSTATUS(status) == 0 && saved ? QStringLiteral("ends")
                                                                     : QStringLiteral("status %1").arg(status);
    };
    const auto act = [&]() -> QString {
        switch (c.act) {
        case Act::Menu:
            return popup([&] { mouse(QEvent::MouseButtonPress, Qt::RightButton); }, false).join(QLatin1Char('|'));
        case Act::Close: maw.close(); break;
        case Act::DoubleClick: mouse(QEvent::MouseButtonDblClick, Qt::LeftButton); break;
        case Act::Quit: maw.menuWindow().mnuQuit_Click(); break;
        case Act::Drop: { // while another battle holds the hero
            CharaLock other;
            const QString a = enemy("a.txt");
            EXPECT_TRUE(other.acquire(hero));
            drop(maw, *files({a}));
            EXPECT_TRUE(QTest::qWaitFor([&] { return !maw.Busy(); }, 5000) && QFile::exists(a));
            EXPECT_FALSE(maw.entry().isVisible());
            const QString said = modals.boxes.value(0).text;
            return said == QStringLiteral("キャラが未設定です") ? QStringLiteral("no character")
                : said == QStringLiteral("このキャラは別のバトルで戦闘中です。そのバトルが終わってから、もう一度ドロップしてください。")
                ? QStringLiteral("busy")
                : said;
        }
        case Act::Drag: {
            const HeroPose before = maw.pose();
            const auto mime = files({hero});
            QDragEnterEvent enter(at, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&maw, &enter);
            const bool ready = maw.pose() == HeroPose::Ready;
            QDragLeaveEvent leave;
            QApplication::sendEvent(&maw, &leave);
            EXPECT_EQ(maw.pose(), before);
            return ready ? QStringLiteral("ready") : QStringLiteral("nothing");
        }
        case Act::Terminate:
            if (maw.Busy())
                return terminated();
            maw.Terminate();
            break;
        }
        return unloaded ? QStringLiteral("quits") : sheet ? QStringLiteral("sheet") : QStringLiteral("nothing");
    };
    QString answer;
    if (!c.battle) {
        answer = act();
    } else {
        test::ScriptedRandom draws({}, 0.5F);
        maw.entry().setWaitScale(0.001);
        QTimer probe;
        probe.callOnTimeout([&] {
            if (answer.isNull() && Idle == kFalse)
                answer = act();
        });
        probe.start(1);
        drop(maw, *files({enemy("a.txt"), enemy("b.txt")}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !maw.Busy(); }, 30000));
        EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList()) << "the battle went on to its end";
    }
    EXPECT_EQ(answer, QString::fromUtf8(c.answer));
    EXPECT_EQ(maw.isVisible(), !unloaded);
}

INSTANTIATE_TEST_SUITE_P(Hero, Answers, ::testing::Values(
    AnswerCase{"MenuWithoutCharacter", false, false, Act::Menu, "新規作成|開く|ﾌﾟﾛﾊﾟﾃｨ (off)|ゴミ箱を開く|設定|終了"},
    AnswerCase{"MenuWithCharacter", true, false, Act::Menu, "新規作成|開く|ﾌﾟﾛﾊﾟﾃｨ|ゴミ箱を開く|設定|終了"},
    AnswerCase{"MenuInBattle", true, true, Act::Menu,
               "新規作成 (off)|開く (off)|ﾌﾟﾛﾊﾟﾃｨ|ゴミ箱を開く|設定|終了 (off)"},
    AnswerCase{"Close", true, false, Act::Close, "quits"},
    AnswerCase{"CloseInBattle", true, true, Act::Close, "nothing"},
    AnswerCase{"QuitInBattle", true, true, Act::Quit, "nothing"},
    AnswerCase{"DoubleClickWithoutCharacter", false, false, Act::DoubleClick, "nothing"},
    AnswerCase{"DoubleClick", true, false, Act::DoubleClick, "sheet"},
    AnswerCase{"DoubleClickInBattle", true, true, Act::DoubleClick, "sheet"},
    AnswerCase{"Terminate", true, false, Act::Terminate, "quits"},
    AnswerCase{"TerminateInBattle", true, true, Act::Terminate, "ends"},
    AnswerCase{"DragWithoutCharacter", false, false, Act::Drag, "nothing"},
    AnswerCase{"Drag", true, false, Act::Drag, "ready"},
    AnswerCase{"DragInBattle", true, true, Act::Drag, "nothing"},
    AnswerCase{"DropOnAHeroInAnotherBattle", true, false, Act::Drop, "busy"},
    AnswerCase{"DropWithoutCharacter", false, false, Act::Drop, "no character"}),
    test::CaseName());

// The list's columns in order, aligned and sized; while the window is
// minimised its caption carries the battle, the turns as vitality and enemies
// left when so set, the messages that wait two seconds as their text; restored
// it reads "Entry" again, its status bar holds any message whole, and its place
// is kept.
TEST_F(DropTest, ColumnsAndTheMinimisedCaption)
{
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    frmEntry& entry = maw.entry();
    entry.setWaitScale(0.001);
    test::ScriptedRandom draws({}, 0.5F);
    Minimize = 1;
    entry.show();
    entry.showMinimized();
    QStringList captions;
    QObject::connect(&entry, &QWidget::windowTitleChanged, [&captions](const QString& t) {
        if (captions.isEmpty() || captions.back() != t)
            captions << t;
    });
    drop(maw, *files({enemy("a.txt"), enemy("b.txt")}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !maw.Busy(); }, 30000));
    EXPECT_EQ(captions.join(QLatin1Char('|')),
              QStringLiteral("## !!戦闘開始!! ##|V:134 残:2|V:134 残:1|V:134 残:0|すべての敵を倒した!|Heroは、4の経験を得た"));

    constexpr Qt::Alignment left = Qt::AlignLeft | Qt::AlignVCenter;
    constexpr Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
    const struct {
        const char* header;
        Qt::Alignment alignment;
        int twips;
        const char* cell; // DIR the folder of the dropped files
    } columns[] = {{"名前", left, 2540, "a"},        {"種族", left, 1235, "TXT"},     {"Level", right, 882, "1"},
                   {"Vitarity", right, 1235, "0"},   {"Strength", right, 1235, "106"}, {"Defense", right, 1235, "107"},
                   {"Agility", right, 1235, "109"},  {"Luck", right, 1235, "75"},      {"装備", left, 1940, ""},
                   {"経験値", right, 2117, "200"},   {"出身地", left, 2540, "DIR/"}};
    const QAbstractItemModel& model = entry.model();
    ASSERT_EQ(model.columnCount(), std::size(columns));
    for (int c = 0; c < model.columnCount(); ++c) {
        const auto& col = columns[c];
        const QModelIndex cell = model.index(0, c);
        EXPECT_EQ(model.headerData(c, Qt::Horizontal).toString(), QString::fromUtf8(col.header));
        EXPECT_EQ(cell.data(Qt::TextAlignmentRole).toInt(), col.alignment.toInt()) << col.header;
        EXPECT_EQ(entry.lvEntry().header()->sectionSize(c), PixelsFromTwipsX(col.twips)) << col.header;
        EXPECT_EQ(cell.data().toString(), QString::fromUtf8(col.cell).replace(QStringLiteral("DIR"), dir)) << col.header;
    }

    entry.showNormal();
    // At its first size the message panel holds every message of Hero and memo whole; the tip holds any.
    const QLabel& panel = *entry.statusBar()->findChildren<QLabel*>().value(1);
    const MessageArgs args{QStringLiteral("Hero"), QStringLiteral("Hero"), QStringLiteral("memo"), 12, 120, 1};
    for (int e = 0; e <= 2 * static_cast<int>(BattleEvent::EnemyBeaten) + 1; ++e) {
        entry.SetMessageText(MessageText(static_cast<std::int16_t>(e % 2), static_cast<BattleEvent>(e / 2), args));
        EXPECT_TRUE(panel.fontMetrics().horizontalAdvance(panel.text()) <= panel.contentsRect().width()
                    && panel.toolTip() == panel.text()) << panel.text().toStdString();
    }
    entry.move(300, 150);
    EXPECT_EQ(entry.windowTitle(), QStringLiteral("Entry"));
    maw.Quit();
    EXPECT_TRUE(test::readFile(ini).contains("[Entry]\nLeft=4500\nTop=2250\n")) << test::readFile(ini).toStdString();
}

} // namespace
} // namespace dm
