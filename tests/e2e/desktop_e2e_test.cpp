// The real program on a real X server: the hero is shaped and off the
// taskbar, a second start is refused, and Quit from the menu ends it cleanly.
#include "character/CharaFile.h"
#include "desktop/RgnData.h"
#include "support/TestSupport.h"
#include "support/XServer.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace dm {
namespace {

using test::waitFor;

class DesktopE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(x.ok()) << "Xvfb must be installed (scripts/setup.sh) and start";
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty());
        QDir().mkpath(home.file(QStringLiteral("runtime")));
        QFile::setPermissions(home.file(QStringLiteral("runtime")), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                        | QFileDevice::ExeOwner);
        env.insert(QStringLiteral("DISPLAY"), x.display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DUSTMAW_HOME"), home.path());
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.file(QStringLiteral("xdg")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.file(QStringLiteral("runtime")));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    }

    void start(QProcess& p)
    {
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(QStringLiteral(DUSTMAW_EXE), {});
        ASSERT_TRUE(p.waitForStarted());
    }

    int xdotool(const QStringList& args)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("xdotool"), args);
        return p.waitForFinished() ? p.exitCode() : -1;
    }

    test::XServer x;
    test::TempHome home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

TEST_F(DesktopE2E, ShapedAloneAndQuitsCleanly)
{
    QProcess first;
    start(first);
    std::optional<xcb_window_t> hero;
    ASSERT_TRUE(waitFor([&] { return (hero = x.window(QStringLiteral("Dustmaw"))).has_value(); }));

    const QImage picture(QStringLiteral(":/pictures/hero.xpm"));
    const RectList outline = CanonicalRects(OutlineRuns(picture));
    EXPECT_EQ(x.geometry(*hero), QRect(QPoint(0, 0), picture.size()));
    EXPECT_EQ(CanonicalRects(x.shape(*hero)), outline);
    const xcb_atom_t skip = x.atom("_NET_WM_STATE_SKIP_TASKBAR");
    EXPECT_TRUE(x.property(*hero, x.atom("_NET_WM_STATE")).contains(QByteArray(reinterpret_cast<const char*>(&skip), 4)));

    // A second copy says so, ends, and leaves the first alone.
    QProcess second;
    start(second);
    std::optional<xcb_window_t> box;
    ASSERT_TRUE(waitFor([&] { return (box = x.window(QStringLiteral("起動エラー"))).has_value(); }));
    EXPECT_EQ(xdotool({QStringLiteral("windowfocus"), QString::number(*box)}), 0);
    EXPECT_EQ(xdotool({QStringLiteral("key"), QStringLiteral("Return")}), 0);
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("DM.ini"))));

    // Right-click an opaque pixel; the last item of the menu is Quit.
    const QRect grip = outline.front();
    EXPECT_EQ(xdotool({QStringLiteral("mousemove"), QString::number(grip.x()), QString::number(grip.y()),
                       QStringLiteral("click"), QStringLiteral("3")}),
              0);
    std::optional<QRect> menu;
    ASSERT_TRUE(waitFor([&] {
        for (const xcb_window_t w : x.viewable()) {
            if (w != *hero && x.geometry(w).height() > 60)
                menu = x.geometry(w);
        }
        return menu.has_value();
    }));
    EXPECT_EQ(xdotool({QStringLiteral("mousemove"), QString::number(menu->center().x()),
                       QString::number(menu->bottom() - 10), QStringLiteral("click"), QStringLiteral("1")}),
              0);
    ASSERT_TRUE(first.waitForFinished(15000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    const QByteArray ini = test::readFile(home.file(QStringLiteral("DM.ini")));
    EXPECT_TRUE(ini.startsWith("[Setting]\nMsgWait=10\n")) << ini.toStdString();
    EXPECT_TRUE(ini.contains("\nLeft=0\nTop=0\n")) << ini.toStdString();
    EXPECT_TRUE(QFile::exists(home.file(QStringLiteral("DM.rgn"))));
}

TEST_F(DesktopE2E, FilesDraggedFromAFileManagerAreFoughtAndTrashed)
{
    const QString hero = home.file(QStringLiteral("Hero.dmf"));
    test::writeFile(hero, CheckHeader(20000) + QByteArray(19990, 'h'));
    test::writeFile(home.file(QStringLiteral("DM.ini")),
                    "[Setting]\nMsgWait=2\nMsgType=1\nDefaultChara=" + QFile::encodeName(hero) + '\n');
    // Weak enemies: Hero at level 6 beats them whatever the draws.
    QDir().mkpath(home.file(QStringLiteral("drop")));
    QStringList enemies;
    for (const char* name : {"draft.txt", "old.txt", "spam.txt"}) {
        enemies << home.file(QStringLiteral("drop/") + QString::fromUtf8(name));
        test::writeFileOfSize(enemies.last(), 300);
    }

    QProcess maw;
    start(maw);
    std::optional<xcb_window_t> heroWindow;
    ASSERT_TRUE(waitFor([&] { return (heroWindow = x.window(QStringLiteral("Dustmaw"))).has_value(); }));
    QProcess source;
    source.setProcessEnvironment(env);
    source.start(QStringLiteral(DRAGSOURCE_EXE), enemies);
    std::optional<xcb_window_t> sourceWindow;
    ASSERT_TRUE(waitFor([&] { return (sourceWindow = x.window(QStringLiteral("dragsource"))).has_value(); }));

    // Press on the source, move over an opaque pixel of the hero, release.
    const QPoint from = x.geometry(*sourceWindow).center();
    const QPoint to = CanonicalRects(OutlineRuns(QImage(QStringLiteral(":/pictures/hero.xpm")))).front().topLeft();
    const auto at = [](QPoint p) { return QStringList{QString::number(p.x()), QString::number(p.y())}; };
    ASSERT_EQ(xdotool(QStringList{QStringLiteral("mousemove")} + at(from) + QStringList{QStringLiteral("mousedown"),
                                                                                         QStringLiteral("1")}),
              0);
    for (const QPoint& p : {from - QPoint(20, 20), (from + to) / 2, to + QPoint(2, 0), to})
        xdotool(QStringList{QStringLiteral("sleep"), QStringLiteral("0.2"), QStringLiteral("mousemove")} + at(p));
    xdotool({QStringLiteral("sleep"), QStringLiteral("0.3"), QStringLiteral("mouseup"), QStringLiteral("1")});
    ASSERT_TRUE(source.waitForFinished(15000));
    // A move would let the file manager delete what it thinks it moved.
    EXPECT_EQ(source.readAllStandardOutput().trimmed(), QByteArray("copy"));

    ASSERT_TRUE(waitFor([&] { return x.window(QStringLiteral("Entry")).has_value(); }));
    ASSERT_TRUE(waitFor(
        [&] {
            return std::none_of(enemies.begin(), enemies.end(), [](const QString& e) { return QFile::exists(e); })
                && QFileInfo(hero).size() > 20000;
        },
        90000));
    for (const QString& e : enemies)
        EXPECT_TRUE(QFile::exists(home.file(QStringLiteral("xdg/Trash/files/")) + QFileInfo(e).fileName()));

    // Ended by the session: settings saved, clean exit.
    maw.terminate();
    ASSERT_TRUE(maw.waitForFinished(15000));
    EXPECT_EQ(maw.exitCode(), 0);
    EXPECT_TRUE(test::readFile(home.file(QStringLiteral("DM.ini"))).contains("DefaultChara=" + QFile::encodeName(hero)));
}

} // namespace
} // namespace dm
