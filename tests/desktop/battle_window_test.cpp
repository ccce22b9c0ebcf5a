// Drops on the hero: a real battle through the battle list window, with its
// rows, icons, status bar and menu, and the drops that start nothing.
#include "character/CharaFile.h"
#include "desktop/EntryModel.h"
#include "desktop/Twips.h"
#include "desktop/WindowTest.h"
#include "desktop/frmEntry.h"
#include "desktop/frmMaw.h"
#include "desktop/frmVer.h"
#include "services/Settings.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QTest>
#include <QTreeView>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>

namespace dm {
namespace {

using test::CaseName;
using test::PrintTo;
using test::ShownBox;

// A file list as a file manager drags it; entries that are not absolute
// paths are taken as URLs.
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
    // The character Hero (1000 bytes), made the default one in DM.ini.
    QString hero = home.file(QStringLiteral("Hero.dmf"));
    QString dir = home.file(QStringLiteral("drop"));

    DropTest()
    {
        test::writeFile(hero, CheckHeader(1000) + QByteArray(990, 'h'));
        test::writeFile(home.file(QStringLiteral("DM.ini")),
                        "[Setting]\nMsgType=1\nDefaultChara=" + QFile::encodeName(hero) + '\n');
        QDir().mkpath(dir + QStringLiteral("/folder"));
    }

    QString enemy(const char* name)
    {
        const QString path = dir + QLatin1Char('/') + QString::fromUtf8(name);
        test::writeFileOfSize(path, 200);
        return path;
    }

    // Drags onto an opaque pixel of the hero and drops; what the source is
    // told to do with its files.
    static Qt::DropAction drop(frmMaw& maw, const QMimeData& mime)
    {
        const QRect first = maw.outline().front();
        const QPoint at = first.topLeft();
        const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(at, offered, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&maw, &enter);
        QDragMoveEvent move(at, offered, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&maw, &move);
        QDropEvent dropped(at, offered, &mime, Qt::LeftButton, Qt::NoModifier);
        dropped.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(&maw, &dropped);
        EXPECT_TRUE(enter.isAccepted() && dropped.isAccepted());
        return dropped.dropAction();
    }

    static QString cell(const frmEntry& e, int row, int column)
    {
        return e.model().index(row, column).data().toString();
    }

    static QList<bool> enabled(frmMaw& maw)
    {
        frmVer& ver = maw.menuWindow();
        ver.UpdateMenu();
        QList<bool> states;
        for (const QAction* a : {ver.mnuAddNew, ver.mnuOpen, ver.mnuParam, ver.mnuTrashOpen, ver.mnuSetting, ver.mnuQuit})
            states << a->isEnabled();
        return states;
    }
};

TEST_F(DropTest, DroppedFilesFightThroughTheEntryWindow)
{
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    ASSERT_EQ(CharaPath, hero);
    // Every draw 0.5: Hero (Agility 169) always hits these slower enemies,
    // which never hit back; each falls to one blow.
    test::ScriptedRandom draws({}, 0.5F);
    frmEntry& entry = maw.entry();
    entry.setWaitScale(0.001);
    const QStringList beaten{enemy("draft.txt"), enemy("list.txt"), enemy("b.txt")};
    const QString late = enemy("c.txt");
    EXPECT_EQ(enabled(maw), (QList<bool>{true, true, true, true, true, true}));

    struct {
        bool seen = false;
        int rows = 0;
        QString vitarity;
        bool closed = true;
        QList<bool> menu;
        int rowsAfterSecondDrop = 0;
    } during;
    QTimer probe;
    probe.callOnTimeout([&] {
        if (during.seen || Idle != kFalse)
            return;
        during.seen = true;
        during.rows = entry.model().rowCount();
        during.vitarity = entry.vitarityText();
        during.closed = entry.close() || !entry.isVisible();
        during.menu = enabled(maw);
        drop(maw, *files({late}));
        during.rowsAfterSecondDrop = entry.model().rowCount();
    });
    probe.start(1);

    const auto mime = files({beaten[0], dir + QStringLiteral("/folder"), beaten[1], dir + QStringLiteral("/gone.txt"),
                             QStringLiteral("https://example.com/x.txt"), hero, beaten[2]});
    EXPECT_EQ(drop(maw, *mime), Qt::CopyAction);
    EXPECT_TRUE(maw.Busy()); // until the battle has begun, another drop only beeps
    ASSERT_TRUE(QTest::qWaitFor([&] { return during.seen && !maw.Busy(); }, 30000));

    EXPECT_EQ(during.rows, 3);
    EXPECT_EQ(during.vitarity, QStringLiteral("Vit：134"));
    EXPECT_FALSE(during.closed);
    EXPECT_EQ(during.menu, (QList<bool>{false, false, true, true, true, false}));
    EXPECT_EQ(during.rowsAfterSecondDrop, 3);
    EXPECT_TRUE(QFile::exists(late));

    ASSERT_EQ(entry.model().rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        const QString name = QFileInfo(beaten[row]).fileName();
        EXPECT_EQ(cell(entry, row, 0), QFileInfo(beaten[row]).completeBaseName());
        EXPECT_EQ(cell(entry, row, 1), QStringLiteral("TXT"));
        EXPECT_EQ(cell(entry, row, 3), QStringLiteral("0"));
        EXPECT_EQ(cell(entry, row, 9), QStringLiteral("200"));
        EXPECT_FALSE(entry.model().index(row, 0).data(Qt::DecorationRole).isNull());
        EXPECT_FALSE(QFile::exists(beaten[row]));
        EXPECT_TRUE(QFile::exists(trashFiles() + QLatin1Char('/') + name)) << name.toStdString();
        EXPECT_TRUE(QFile::exists(home.file(QStringLiteral("xdg/Trash/info/")) + name + QStringLiteral(".trashinfo")));
    }
    EXPECT_TRUE(entry.isVisible());
    EXPECT_TRUE(entry.messageText().startsWith(QStringLiteral("Hero"))) << entry.messageText().toStdString();
    EXPECT_GT(QFileInfo(hero).size(), 1000);
    EXPECT_TRUE(QFileInfo(dir + QStringLiteral("/folder")).isDir());
    EXPECT_EQ(enabled(maw), (QList<bool>{true, true, true, true, true, true}));
    EXPECT_TRUE(entry.close());
    EXPECT_TRUE(catcher.boxes.isEmpty());
}

TEST_F(DropTest, EntryWindowKeepsItsPlaceAndComesBackThere)
{
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    frmEntry& entry = maw.entry();
    entry.show();
    entry.SetCaption(QStringLiteral("V:1 残:2"));
    entry.move(30, 45);
    const QPointF twips = TwipsFromPixels({30, 45});
    EXPECT_EQ(EntryLeft, qRound(twips.x()));
    EXPECT_EQ(EntryTop, qRound(twips.y()));
    EXPECT_EQ(entry.windowTitle(), QStringLiteral("Entry"));

    // Closed while idle, it is unloaded; the next use loads it at its place.
    EXPECT_TRUE(entry.close());
    entry.resize(50, 50);
    maw.entry().ShowEntryWindow();
    EXPECT_EQ(entry.pos(), QPoint(30, 45));
    EXPECT_NE(entry.size(), QSize(50, 50));
}

struct QuietCase {
    std::string name;
    std::function<std::unique_ptr<QMimeData>(const QString& dir)> mime;
    bool character;
    int rowsAfter;
    QList<ShownBox> boxes;
};

class QuietDrop : public DropTest, public ::testing::WithParamInterface<QuietCase> {};

TEST_P(QuietDrop, StartsNoBattle)
{
    const QuietCase& c = GetParam();
    if (!c.character)
        test::writeFile(home.file(QStringLiteral("DM.ini")), "[Setting]\nDefaultChara=\n");
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    CharaRecord old;
    old.Name = QStringLiteral("old");
    old.FileName = dir + QStringLiteral("/old");
    maw.entry().AddEntryRow(old);

    drop(maw, *c.mime(dir));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !maw.Busy(); }, 5000));
    EXPECT_EQ(maw.entry().model().rowCount(), c.rowsAfter);
    EXPECT_FALSE(maw.entry().isVisible());
    EXPECT_EQ(catcher.boxes, c.boxes);
}

INSTANTIATE_TEST_SUITE_P(Drops, QuietDrop,
    ::testing::Values(
        QuietCase{"TextOnly",
                  [](const QString&) {
                      auto m = std::make_unique<QMimeData>();
                      m->setText(QStringLiteral("hello"));
                      return m;
                  },
                  true, 0, {}},
        QuietCase{"FoldersAndVanishedFiles",
                  [](const QString& d) {
                      return files({d + QStringLiteral("/folder"), d + QStringLiteral("/gone.txt")});
                  },
                  true, 0, {}},
        // Found by fuzzing: such URLs name other files than they show.
        QuietCase{"RelativeAndUncleanFileUrls",
                  [](const QString& d) {
                      test::writeFile(d + QStringLiteral("/b.txt"), "b");
                      return files({QStringLiteral("file:b.txt"), d + QStringLiteral("/folder/../b.txt")});
                  },
                  true, 0, {}},
        QuietCase{"NoCharacter", [](const QString& d) { return files({d + QStringLiteral("/folder")}); }, false, 1,
                  {{QStringLiteral("Dustmaw"), QStringLiteral("キャラが未設定です")}}}),
    CaseName());

} // namespace
} // namespace dm
