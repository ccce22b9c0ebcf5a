// The real program on a real X server with a window manager (Openbox), driven
// as a user drives it: only what the offscreen window tests cannot see.
#include "desktop/RgnData.h"
#include "support/TestSupport.h"
#include "support/XServer.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace dm {
namespace {

using test::waitFor;

class DesktopE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(x.ok()) << "Xvfb and openbox must be installed (scripts/setup.sh) and start";
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty());
        env.insert(QStringLiteral("DISPLAY"), x.display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        start(windowManager, QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        ASSERT_TRUE(waitFor([&] { return !x.property(x.root(), x.atom("_NET_SUPPORTING_WM_CHECK")).isEmpty(); }));
    }

    void start(QProcess& p, const QString& program, const QStringList& args = {})
    {
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(program, args);
        ASSERT_TRUE(p.waitForStarted());
    }

    std::optional<xcb_window_t> window(const QString& title)
    {
        std::optional<xcb_window_t> w;
        return waitFor([&] { return (w = x.window(title)).has_value(); }) ? w : std::nullopt;
    }

    // Space-separated arguments, as on xdotool's command line.
    int xdotool(const QString& args)
    {
        QProcess p;
        start(p, QStringLiteral("xdotool"), args.split(QLatin1Char(' ')));
        return p.waitForFinished() ? p.exitCode() : -1;
    }

    test::XServer x;
    QProcess windowManager;
    // The program's home, HOME and XDG_DATA_HOME (so its Trash), inherited.
    test::TempHome home{test::TempHome::OwnTrash};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString ini = home.file(QStringLiteral("DM.ini"));
    QImage picture{QStringLiteral(":/pictures/hero.xpm")};
    // An opaque pixel of the hero at its first-run place.
    QPoint grip = CanonicalRects(OutlineRuns(picture)).front().topLeft();

    [[nodiscard]] bool has(xcb_window_t w, const char* property, const char* value) const
    {
        const xcb_atom_t a = x.atom(value);
        return x.property(w, x.atom(property)).contains(QByteArray(reinterpret_cast<const char*>(&a), sizeof a));
    }
};

TEST_F(DesktopE2E, ShapedOffTheTaskbarAloneAndQuitsFromItsMenu)
{
    QProcess first;
    start(first, QStringLiteral(DUSTMAW_EXE));
    const std::optional<xcb_window_t> moved = window(QStringLiteral("Dustmaw"));
    ASSERT_TRUE(moved);
    ASSERT_EQ(xdotool(QStringLiteral("windowmove %1 100 120").arg(*moved)), 0);
    grip += QPoint(100, 120);

    // A second copy says so, ends, and leaves the first alone.
    QProcess second;
    start(second, QStringLiteral(DUSTMAW_EXE));
    const std::optional<xcb_window_t> box = window(QStringLiteral("起動エラー"));
    ASSERT_TRUE(box);
    EXPECT_LE((x.geometry(*box).center() - QPoint(400, 300)).manhattanLength(), 20); // its frame as well
    EXPECT_EQ(xdotool(QStringLiteral("windowfocus %1 key Return").arg(*box)), 0);
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_EQ(first.state(), QProcess::Running);

    // In front, then not: each change makes the hero a new native window, to be
    // kept in place, shaped, a utility off the taskbar and pager. The dialog is
    // the hero's, centred, never minimised (Openbox would take the hero along).
    for (int change = 0; change < 3; ++change) {
        std::optional<xcb_window_t> hero;
        ASSERT_TRUE(waitFor([&] {
            return (hero = x.window(QStringLiteral("Dustmaw")))
                && has(*hero, "_NET_WM_STATE", "_NET_WM_STATE_ABOVE") == (change == 1);
        }));
        EXPECT_TRUE(has(*hero, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_UTILITY")
                    && has(*hero, "_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR")
                    && has(*hero, "_NET_WM_STATE", "_NET_WM_STATE_SKIP_PAGER")
                    && x.geometry(*hero).topLeft() == QPoint(100, 120)
                    && CanonicalRects(x.shape(*hero)) == CanonicalRects(OutlineRuns(picture)));
        if (change == 2)
            break;
        ASSERT_EQ(xdotool(QStringLiteral("mousemove %1 %2 click 3 sleep 0.5 key Up Up Return").arg(grip.x()).arg(grip.y())),
                  0);
        const std::optional<xcb_window_t> dialog = window(QStringLiteral("Setting"));
        ASSERT_TRUE(dialog);
        EXPECT_EQ(x.property(*dialog, XCB_ATOM_WM_TRANSIENT_FOR), QByteArray(reinterpret_cast<const char*>(&*hero), 4));
        const QRect d = x.geometry(*dialog);
        EXPECT_LE((d.center() - QPoint(400, 300)).manhattanLength(), 20);
        EXPECT_FALSE(has(*dialog, "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_MINIMIZE")
                     || has(*dialog, "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_MAXIMIZE_VERT"));
        // "する", then "しない", and OK (Xvfb has 96 DPI).
        ASSERT_EQ(xdotool(QStringLiteral("mousemove %1 %2 click 1 mousemove %3 %4 click 1")
                              .arg(d.x() + (change == 0 ? 28 : 183)).arg(d.y() + 321).arg(d.x() + 194).arg(d.y() + 360)),
                  0);
    }

    // Right-click the figure; the last item of the menu is Quit.
    EXPECT_EQ(xdotool(QStringLiteral("mousemove %1 %2 click 3").arg(grip.x()).arg(grip.y())), 0);
    std::optional<QRect> menu;
    ASSERT_TRUE(waitFor([&] {
        for (const xcb_window_t w : x.viewable()) {
            if (x.geometry(w).height() > 60)
                menu = x.geometry(w);
        }
        return menu.has_value();
    }));
    EXPECT_EQ(xdotool(QStringLiteral("mousemove %1 %2 click 1").arg(menu->center().x()).arg(menu->bottom() - 10)), 0);
    ASSERT_TRUE(first.waitForFinished(15000));
    EXPECT_TRUE(first.exitStatus() == QProcess::NormalExit && first.exitCode() == 0);
    const QByteArray written = test::readFile(ini);
    EXPECT_TRUE(written.startsWith("[Setting]\nMsgWait=10\n") && written.contains("\nLeft=1500\nTop=1800\n"))
        << written.toStdString();
}

TEST_F(DesktopE2E, FilesDraggedFromAFileManagerAreFoughtAndTrashed)
{
    const QString hero = home.file(QStringLiteral("Hero.dmf"));
    test::writeFile(hero, test::stampedChara(20000));
    test::writeFile(ini, "[Setting]\nMsgWait=2\nMsgType=1\nDefaultChara=" + QFile::encodeName(hero) + '\n');
    // Weak enemies: Hero at level 6 beats them whatever the draws.
    const QString drop = test::makeDir(home.file(QStringLiteral("drop")));
    const QStringList enemies{drop + QStringLiteral("/draft.txt"), drop + QStringLiteral("/old.txt"),
                              drop + QStringLiteral("/spam.txt")};
    for (const QString& enemy : enemies)
        test::writeFileOfSize(enemy, 300);
    QProcess maw;
    start(maw, QStringLiteral(DUSTMAW_EXE));
    ASSERT_TRUE(window(QStringLiteral("Dustmaw")));
    QProcess source;
    start(source, QStringLiteral(DRAGSOURCE_EXE), enemies);
    const std::optional<xcb_window_t> sourceWindow = window(QStringLiteral("dragsource"));
    ASSERT_TRUE(sourceWindow);

    // Press on the source, move over the figure in steps, release.
    const QPoint from = x.geometry(*sourceWindow).center();
    QString moves = QStringLiteral("mousemove %1 %2 mousedown 1").arg(from.x()).arg(from.y());
    for (const QPoint& p : {from - QPoint(20, 20), (from + grip) / 2, grip + QPoint(2, 0), grip})
        moves += QStringLiteral(" sleep 0.2 mousemove %1 %2").arg(p.x()).arg(p.y());
    ASSERT_EQ(xdotool(moves + QStringLiteral(" sleep 0.3 mouseup 1")), 0);
    ASSERT_TRUE(source.waitForFinished(15000));
    // A move would let the file manager delete what it thinks it moved.
    EXPECT_EQ(source.readAllStandardOutput().trimmed(), "copy");

    ASSERT_TRUE(waitFor([&] { return QDir(drop).isEmpty() && QFileInfo(hero).size() > 20000; }, 90000));
    for (const QString& e : enemies)
        EXPECT_TRUE(QFile::exists(home.trashed(QFileInfo(e).fileName())));

    // Ended by the session (SIGTERM): settings saved, clean exit.
    test::writeFile(ini, "");
    maw.terminate();
    ASSERT_TRUE(maw.waitForFinished(15000));
    EXPECT_EQ(maw.exitCode(), 0);
    EXPECT_TRUE(test::readFile(ini).contains("DefaultChara=" + QFile::encodeName(hero)));
}

} // namespace
} // namespace dm
