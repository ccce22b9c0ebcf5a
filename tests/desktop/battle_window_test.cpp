// Drops on the hero: the drops that start nothing, and a real battle through
// the battle list window.
#include "desktop/EntryModel.h"
#include "desktop/WindowTest.h"
#include "desktop/frmEntry.h"

#include <QMimeData>
#include <QTest>
#include <QUrl>

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
};

TEST_F(DropTest, DroppedFilesFightThroughTheEntryWindow)
{
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    frmEntry& entry = maw.entry();
    const QStringList beaten{enemy("draft.txt"), enemy("list.txt"), enemy("b.txt")};
    // Text, nothing to fight, or no character: no battle, and only the last
    // says why.
    const auto quiet = [&](const QMimeData& mime) {
        drop(maw, mime);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !maw.Busy(); }, 5000));
        EXPECT_FALSE(entry.isVisible());
    };
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    quiet(text);
    quiet(*files({dir + QStringLiteral("/folder")}));
    CharaPath.clear();
    quiet(*files({beaten[0]}));
    CharaPath = hero;
    const ShownBox why{QStringLiteral("Dustmaw"), QStringLiteral("キャラが未設定です")};
    EXPECT_EQ(modals.boxes, QList<ShownBox>{why});
    modals.boxes.clear();

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
        EXPECT_EQ(entry.model().rowCount(), 3);
        EXPECT_EQ(entry.vitarityText(), QStringLiteral("Vit：134"));
        EXPECT_FALSE(entry.close() || !entry.isVisible());
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
        EXPECT_EQ(entry.model().index(row, 0).data().toString(), file.completeBaseName());
        EXPECT_FALSE(file.exists());
        EXPECT_TRUE(QFile::exists(home.trashed(file.fileName())));
    }
    EXPECT_TRUE(entry.isVisible());
    EXPECT_TRUE(entry.messageText().startsWith(QStringLiteral("Hero"))) << entry.messageText().toStdString();
    EXPECT_GT(QFileInfo(hero).size(), 1000);
    EXPECT_TRUE(QFileInfo(dir + QStringLiteral("/folder")).isDir());
    EXPECT_TRUE(QFile::exists(dir + QStringLiteral("/keep.txt")));
    EXPECT_TRUE(modals.boxes.isEmpty());
    EXPECT_TRUE(entry.close()); // idle, it may
}

} // namespace
} // namespace dm
