// Drops on the hero: a real battle through the battle list window, and the
// drops that start nothing.
#include "desktop/EntryModel.h"
#include "desktop/Twips.h"
#include "desktop/WindowTest.h"
#include "desktop/frmEntry.h"
#include "desktop/frmVer.h"

#include <QAction>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include <cstring>

namespace dm {
namespace {

using test::CaseName;
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

class DropTest : public test::WindowTest {
protected:
    QString hero = home.file(QStringLiteral("Hero.dmf"));
    QString dir = home.file(QStringLiteral("drop"));

    DropTest()
    {
        test::writeFile(hero, test::stampedChara(1000));
        test::writeFile(home.file(QStringLiteral("DM.ini")),
                        "[Setting]\nMsgType=1\nDefaultChara=" + QFile::encodeName(hero) + '\n');
        QDir().mkpath(dir + QStringLiteral("/folder"));
    }

    QString enemy(const char* name)
    {
        test::writeFileOfSize(dir + QLatin1Char('/') + QString::fromUtf8(name), 200);
        return dir + QLatin1Char('/') + QString::fromUtf8(name);
    }

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

    // New, Open, Properties and Quit of the menu: a battle leaves only Properties.
    static QList<bool> menu(frmMaw& maw)
    {
        frmVer& ver = maw.menuWindow();
        ver.UpdateMenu();
        return {ver.mnuAddNew->isEnabled(), ver.mnuOpen->isEnabled(), ver.mnuParam->isEnabled(),
                ver.mnuQuit->isEnabled()};
    }
};

TEST_F(DropTest, DroppedFilesFightThroughTheEntryWindow)
{
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    // Every draw 0.5: Hero (Agility 169) always hits these slower enemies,
    // which never hit back; each falls to one blow.
    test::ScriptedRandom draws({}, 0.5F);
    frmEntry& entry = maw.entry();
    entry.setWaitScale(0.001);
    const QStringList beaten{enemy("draft.txt"), enemy("list.txt"), enemy("b.txt")};
    const QString late = enemy("c.txt");

    // Looked at once, in the middle of the battle.
    bool seen = false;
    QTimer probe;
    probe.callOnTimeout([&] {
        if (seen || Idle != kFalse)
            return;
        seen = true;
        EXPECT_EQ(entry.model().rowCount(), 3);
        EXPECT_EQ(entry.vitarityText(), QStringLiteral("Vit：134"));
        EXPECT_FALSE(entry.close() || !entry.isVisible());
        EXPECT_EQ(menu(maw), (QList<bool>{false, false, true, false}));
        drop(maw, *files({late}));
        EXPECT_EQ(entry.model().rowCount(), 3);
    });
    probe.start(1);

    // Folders, vanished files, web addresses, the hero's own file and file
    // URLs that name other files than they show are no enemies.
    test::writeFile(dir + QStringLiteral("/keep.txt"), "k");
    EXPECT_EQ(drop(maw, *files({beaten[0], dir + QStringLiteral("/folder"), beaten[1], dir + QStringLiteral("/gone"),
                                QStringLiteral("https://example.com/x.txt"), hero, QStringLiteral("file:keep.txt"),
                                dir + QStringLiteral("/folder/../keep.txt"), beaten[2]})),
              Qt::CopyAction);
    EXPECT_TRUE(maw.Busy()); // until the battle has begun, another drop only beeps
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen && !maw.Busy(); }, 30000));
    EXPECT_TRUE(QFile::exists(late));

    ASSERT_EQ(entry.model().rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        const QFileInfo file(beaten[row]);
        QStringList cells;
        for (const int column : {0, 1, 3, 9})
            cells << entry.model().index(row, column).data().toString();
        EXPECT_EQ(cells, (QStringList{file.completeBaseName(), QStringLiteral("TXT"), QStringLiteral("0"),
                                      QStringLiteral("200")}));
        EXPECT_FALSE(entry.model().index(row, 0).data(Qt::DecorationRole).isNull());
        EXPECT_FALSE(file.exists());
        EXPECT_TRUE(QFile::exists(home.trashed(file.fileName())));
    }
    EXPECT_TRUE(entry.isVisible());
    EXPECT_TRUE(entry.messageText().startsWith(QStringLiteral("Hero"))) << entry.messageText().toStdString();
    EXPECT_GT(QFileInfo(hero).size(), 1000);
    EXPECT_TRUE(QFileInfo(dir + QStringLiteral("/folder")).isDir());
    EXPECT_TRUE(QFile::exists(dir + QStringLiteral("/keep.txt")));
    EXPECT_EQ(menu(maw), (QList<bool>{true, true, true, true}));
    EXPECT_TRUE(modals.boxes.isEmpty());

    // Moved, it is the list again, not a minimised battle report; closed
    // while idle, it is unloaded, and the next use loads it where it was.
    entry.SetCaption(QStringLiteral("V:1 残:2"));
    entry.move(30, 45);
    EXPECT_EQ(entry.windowTitle(), QStringLiteral("Entry"));
    EXPECT_EQ(QPoint(EntryLeft, EntryTop), TwipsFromPixels({30, 45}).toPoint());
    EXPECT_TRUE(entry.close());
    entry.resize(50, 50);
    maw.entry().ShowEntryWindow();
    EXPECT_EQ(entry.pos(), QPoint(30, 45));
    EXPECT_NE(entry.size(), QSize(50, 50));
}

struct QuietCase {
    std::string name;
    std::vector<const char*> paths; // in the drop folder unless a URL; none: text only
    bool character;
    int rowsAfter;
    const char* box;
};
class QuietDrop : public DropTest, public ::testing::WithParamInterface<QuietCase> {};

TEST_P(QuietDrop, StartsNoBattle)
{
    const QuietCase& c = GetParam();
    if (!c.character)
        test::writeFile(home.file(QStringLiteral("DM.ini")), "[Setting]\nDefaultChara=\n");
    test::writeFile(dir + QStringLiteral("/b.txt"), "b");
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    CharaRecord old;
    old.Name = QStringLiteral("old");
    old.FileName = dir + QStringLiteral("/old");
    maw.entry().AddEntryRow(old);

    QStringList paths;
    for (const char* p : c.paths)
        paths << (std::strchr(p, ':') != nullptr ? QString::fromUtf8(p) : dir + QString::fromUtf8(p));
    auto mime = paths.isEmpty() ? std::make_unique<QMimeData>() : files(paths);
    mime->setText(QStringLiteral("hello"));
    drop(maw, *mime);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !maw.Busy(); }, 5000));
    EXPECT_EQ(maw.entry().model().rowCount(), c.rowsAfter);
    EXPECT_FALSE(maw.entry().isVisible());
    QList<ShownBox> boxes;
    if (c.box != nullptr)
        boxes << ShownBox{QStringLiteral("Dustmaw"), QString::fromUtf8(c.box)};
    EXPECT_EQ(modals.boxes, boxes);
    EXPECT_TRUE(QFile::exists(dir + QStringLiteral("/b.txt")));
}

INSTANTIATE_TEST_SUITE_P(Drops, QuietDrop, ::testing::Values(
    QuietCase{"TextOnly", {}, true, 0, nullptr},
    // Found by fuzzing: such URLs name other files than they show.
    QuietCase{"NothingToFight", {"/folder", "/gone.txt", "file:b.txt", "/folder/../b.txt"}, true, 0, nullptr},
    QuietCase{"NoCharacter", {"/b.txt"}, false, 1, "キャラが未設定です"}),
    CaseName());

} // namespace
} // namespace dm
