// The hero's window: its outline and the DM.rgn cache, placement, z-order,
// one copy at a time, crisp drawing, and the windows that open beside it.
#include "desktop/RgnData.h"
#include "desktop/WindowTest.h"
#include "desktop/frmEntry.h"
#include "dialogs/frmParam.h"
#include "ui/Platform.h"
#include "ui/Twips.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QtEndian>

#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include <sys/inotify.h>
#include <unistd.h>

namespace dm {
namespace {

using test::CaseName;
using test::PrintTo;
using test::ShownBox;

// Rectangles as Windows writes them: left, top, right, bottom (exclusive).
RectList rects(std::initializer_list<std::array<int, 4>> list)
{
    RectList out;
    for (const auto& [l, t, r, b] : list)
        out.emplace_back(l, t, r - l, b - t);
    return out;
}

QByteArray longs(std::initializer_list<std::int32_t> values)
{
    QByteArray out(4 * static_cast<int>(values.size()), '\0');
    qToLittleEndian<std::int32_t>(values.begin(), static_cast<qsizetype>(values.size()), out.data());
    return out;
}

TEST(Outline, RunsOfThePictureInTheWindowsLayout)
{
    // The colour of pixel (0, 0) inside the figure is a hole; a run reaching
    // the last column ends there; an empty row adds nothing.
    QImage img(9, 4, QImage::Format_RGB32);
    img.fill(Qt::blue);
    for (int x : {1, 2, 6, 7}) {
        img.setPixel(x, 0, qRgb(255, 0, 0));
        img.setPixel(x, 1, qRgb(0, 0, 0));
    }
    for (int x = 1; x < 9; ++x)
        img.setPixel(x, 2, qRgb(255, 0, 0));
    // Identical rows merge into one band.
    const QByteArray bytes = RgnDataBytes(CanonicalRects(OutlineRuns(img)));
    EXPECT_EQ(bytes, longs({32, 1, 3, 48, 1, 0, 9, 3, 1, 0, 3, 2, 6, 0, 8, 2, 1, 2, 9, 3}));
    EXPECT_EQ(RgnDataBytes(*ParseRgnData(bytes)), bytes);
}

// Whatever the rectangles' order, overlap and size, the same pixels give the
// same canonical list.
struct ParseCase {
    std::string name;
    QByteArray data;
    std::optional<RectList> result;
};
class ParseRgn : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseRgn, GivesTheCanonicalRegionOrNone) { EXPECT_EQ(ParseRgnData(GetParam().data), GetParam().result); }

QByteArray header(std::int32_t n) { return longs({32, 1, n, 16 * n, 0, 0, 9, 9}); }

INSTANTIATE_TEST_SUITE_P(Data, ParseRgn, ::testing::Values(
    ParseCase{"ShorterThanHeader", header(0).left(31), std::nullopt},
    ParseCase{"FewerRectsThanCount", header(3) + longs({0, 0, 1, 1, 1, 0, 2, 1}), std::nullopt},
    ParseCase{"MoreThanItHolds", header(kMaxRgnRects + 1) + QByteArray(16 * (kMaxRgnRects + 1), '\0'), std::nullopt},
    ParseCase{"EmptyRectsVanish", header(2) + longs({3, 3, 3, 8, 1, 1, 4, 1}), RectList{}},
    ParseCase{"TouchingSpansMerge", header(2) + longs({2, 0, 5, 1, 0, 0, 2, 1}), rects({{0, 0, 5, 1}})},
    ParseCase{"OverlapIsUnited", header(2) + longs({2, 2, 6, 6, 0, 0, 4, 4}),
              rects({{0, 0, 4, 2}, {0, 2, 6, 4}, {2, 4, 6, 6}})},
    // Found by fuzzing: two spans of 2^31 each would merge into a width no
    // int holds.
    ParseCase{"CoordinateBeyond27Bits", header(2) + longs({-(1 << 27), 0, 0, 1, 0, 0, 1 << 27, 1}), std::nullopt}),
    CaseName());

class MawTest : public test::WindowTest {
protected:
    QString ini = home.file(QStringLiteral("DM.ini"));
    QString rgn = home.file(QStringLiteral("DM.rgn"));
};

QImage picture(int size, bool (*figure)(int x, int y))
{
    QImage img(size, size, QImage::Format_RGB32);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x)
            img.setPixel(x, y, figure(x, y) ? qRgb(255, 255, 255) : qRgb(0, 0, 255));
    }
    return img;
}

// How `name` came into `folder` while `run` ran: "in" by a rename, "made" and
// "written" when created or written in place.
QStringList arrivals(const QString& folder, const char* name, const std::function<void()>& run)
{
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(fd, QFile::encodeName(folder).constData(), IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE);
    run();
    QStringList out;
    alignas(inotify_event) char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) {
        for (const char* p = buf; p < buf + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            if (e->len > 0 && std::strcmp(e->name, name) == 0)
                out << QString::fromLatin1((e->mask & IN_MOVED_TO) != 0 ? "in"
                                           : (e->mask & IN_CREATE) != 0 ? "made" : "written");
            p += sizeof(inotify_event) + e->len;
        }
    }
    ::close(fd);
    return out;
}

struct CacheCase {
    std::string name;
    std::optional<QByteArray> cache;
    QImage picture; // null: the shipped hero
    bool starts;
    const char* box; // nullptr: none
    std::optional<RectList> outline; // empty: a rectangular window; nullopt: the picture's non-blue pixels
    bool cacheAfter;
};
class Cache : public MawTest, public ::testing::WithParamInterface<CacheCase> {};

TEST_P(Cache, ShapesOrSaysWhyNot)
{
    const CacheCase& c = GetParam();
    if (c.cache)
        test::writeFile(rgn, *c.cache);
    const QStringList arrived = arrivals(home.path(), "DM.rgn", [&] {
        frmMaw maw(c.picture);
        EXPECT_EQ(maw.Form_Load(), c.starts);
        const QImage& pic = maw.picture();
        for (int y = 0; c.starts && !c.outline && y < pic.height(); ++y) {
            for (int x = 0; x < pic.width(); ++x)
                ASSERT_EQ(maw.mask().contains(QPoint(x, y)), pic.pixel(x, y) != pic.pixel(0, 0)) << x << "," << y;
        }
        if (c.starts) {
            EXPECT_EQ(maw.outline(), c.outline.value_or(RectsOf(maw.mask())));
            EXPECT_EQ(maw.mask(), RegionOf(maw.outline()));
        }
        EXPECT_TRUE(c.cache || !c.cacheAfter || ParseRgnData(test::readFile(rgn)) == maw.outline());
    });
    QList<ShownBox> boxes;
    if (c.box != nullptr)
        boxes << ShownBox{QStringLiteral("Dustmaw"), QString::fromUtf8(c.box)};
    EXPECT_EQ(modals.boxes, boxes);
    EXPECT_EQ(QFile::exists(rgn), c.cacheAfter);
    // Written aside and renamed, or not at all.
    EXPECT_EQ(arrived, !c.cache && c.cacheAfter ? QStringList{QStringLiteral("in")} : QStringList());
    EXPECT_TRUE(c.starts || QFile::exists(ini)) << "a cache that ends the program still runs the shut-down";
}

INSTANTIATE_TEST_SUITE_P(Rgn, Cache, ::testing::Values(
    CacheCase{"MadeFromTheHero", std::nullopt, {}, true, nullptr, std::nullopt, true},
    // No pixel of the picture is read when there is a cache, however large.
    CacheCase{"DecidesOverThePicture", RgnDataBytes(rects({{0, 0, 9, 9}})) + QByteArray(8 << 20, 'x'), {}, true,
              nullptr, rects({{0, 0, 9, 9}}), true},
    CacheCase{"Truncated", RgnDataBytes(rects({{1, 1, 5, 5}})).chopped(4), {}, false,
              "リージョンデータの読み込みに失敗しました。", {}, true},
    CacheCase{"NothingOnTheWindow", RgnDataBytes(rects({{500, 500, 509, 509}})), {}, true, "窓の整形に失敗しました。",
              RectList{}, true},
    CacheCase{"PictureWithoutFigure", {}, picture(50, [](int, int) { return false; }), true,
              "フォームの変形に失敗しました。", RectList{}, false},
    // One rectangle per pixel pair: more than the cache may hold.
    CacheCase{"PictureTooDetailed", {}, picture(90, [](int x, int y) { return (x + y) % 2 == 0; }), true,
              "ＣＧのサイズが大きすぎます。", std::nullopt, false}),
    CaseName());

// Where the hero stands after a start with this DM.ini, in twips: what Quit
// writes back.
struct PlaceCase {
    std::string name;
    const char* ini; // nullptr: no DM.ini
    QPoint twips;
    bool onTop;
};
class Placement : public MawTest, public ::testing::WithParamInterface<PlaceCase> {};

TEST_P(Placement, PositionAndZOrderKeptByQuit)
{
    const PlaceCase& c = GetParam();
    if (c.ini != nullptr)
        test::writeFile(ini, c.ini);
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    EXPECT_EQ(maw.pos(), QPoint(PixelsFromTwipsX(c.twips.x()), PixelsFromTwipsY(c.twips.y())));
    EXPECT_EQ(maw.windowFlags().testFlag(Qt::WindowStaysOnTopHint), c.onTop);
    maw.Quit();
    const QByteArray written = test::readFile(ini);
    EXPECT_TRUE(written.contains(QStringLiteral("\nLeft=%1\nTop=%2\n").arg(c.twips.x()).arg(c.twips.y()).toUtf8()))
        << written.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Saved, Placement, ::testing::Values(
    PlaceCase{"FirstRun", nullptr, {0, 0}, false},
    PlaceCase{"SavedTwips", "[Setting]\nLeft=1500\nTop=3000\nFormTop=-1\n", {1500, 3000}, true},
    // The hero is 54 pixels wide: one column on the screen keeps it there; with
    // none, as on a monitor that is gone, it goes to the top-left.
    PlaceCase{"OneColumnOnScreen", "[Setting]\nLeft=-795\nTop=0\n", {-795, 0}, false},
    PlaceCase{"JustOffTheLeftEdge", "[Setting]\nLeft=-810\nTop=45\n", {0, 0}, false}),
    CaseName());

// A copy that runs refuses a second, which writes nothing.
TEST_F(MawTest, ASecondCopyIsRefusedWithoutWriting)
{
    frmMaw first;
    ASSERT_TRUE(first.Form_Load());

    test::writeFile(ini, "[Setting]\nMsgType=1\n");
    frmMaw second;
    EXPECT_FALSE(second.Form_Load());
    const ShownBox refusal{QStringLiteral("起動エラー"), QStringLiteral("複数起動はするなでごわス!"),
                           QMessageBox::Critical};
    EXPECT_EQ(modals.boxes, QList<ShownBox>{refusal});
    EXPECT_EQ(test::readFile(ini), "[Setting]\nMsgType=1\n");
    EXPECT_TRUE(first.isVisible());
}

// A window without a place in DM.ini opens beside the hero, on the side with
// room, wholly on the hero's screen; a stored place, 0 included, is kept, and
// one that no screen shows any of is pulled back to the top-left.
TEST_F(MawTest, WindowsOpenWhereTheyWereOrBesideTheHero)
{
    enum Where { Beside, Stored, Pulled };
    const struct {
        const char* ini;
        bool heroAtRight, sheet;
        Where where;
        QPoint at = {};
    } rows[] = {{"[Setting]\n", false, false, Beside},
                {"[Param]\nLeft=\nTop=15\n", true, true, Beside},
                {"[Entry]\nLeft=0\nTop=0\n", true, false, Stored},
                {"[Param]\nLeft=1500\nTop=750\n", true, true, Stored, {100, 50}},
                {"[Entry]\nLeft=3000\nTop=750\n", false, false, Stored, {200, 50}},
                {"[Entry]\nLeft=-90000\nTop=300\n", false, false, Pulled},
                {"[Param]\nLeft=150000\nTop=150000\n", false, true, Pulled}};
    for (const auto& row : rows) {
        test::writeFile(ini, row.ini);
        frmMaw maw;
        ASSERT_TRUE(maw.Form_Load());
        const QRect area = maw.screen()->availableGeometry();
        maw.move(row.heroAtRight ? area.right() - 60 : area.left(), area.bottom() - 60);
        frmParam sheet(&maw);
        if (row.sheet)
            sheet.Form_Load();
        const QRect placed = (row.sheet ? static_cast<QWidget&>(sheet) : maw.entry()).frameGeometry();
        const int apart = row.heroAtRight ? maw.x() - placed.right() : placed.left() - maw.frameGeometry().right();
        if (row.where == Beside)
            EXPECT_TRUE(area.contains(placed) && apart > 0 && apart < 20) << row.ini;
        else
            EXPECT_EQ(placed.topLeft(), row.where == Stored ? row.at : area.topLeft()) << row.ini;
    }
}

// Every pose has a picture of its own with the standing outline, so a pose
// never reshapes the window; each is drawn in whole pixels at twice the
// density, the background clear where the window is translucent.
TEST_F(MawTest, EveryPoseDrawnCrispInsideTheOutline)
{
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    const QImage& standing = maw.picture();
    const QRgb key = standing.pixel(0, 0);
    for (const HeroPose pose : {HeroPose::Standing, HeroPose::Swing, HeroPose::Flinch, HeroPose::Victory,
                                HeroPose::Fallen, HeroPose::Ready}) {
        const QImage& frame = maw.frame(pose);
        EXPECT_EQ(frame == standing, pose == HeroPose::Standing) << static_cast<int>(pose) << ": not drawn";
        maw.SetPose(pose);
        const bool translucent = static_cast<int>(pose) % 2 == 1;
        maw.setAttribute(Qt::WA_TranslucentBackground, translucent);
        const QImage shown = maw.grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_TRUE(translucent || shown == frame.convertToFormat(QImage::Format_RGB32));
        QImage out(frame.size() * 2, QImage::Format_ARGB32);
        out.fill(Qt::transparent);
        out.setDevicePixelRatio(2.0);
        QPainter p(&out);
        maw.drawHero(p);
        p.end();
        EXPECT_EQ(frame.convertToFormat(QImage::Format_RGB32).createMaskFromColor(key),
                  standing.convertToFormat(QImage::Format_RGB32).createMaskFromColor(key)) << static_cast<int>(pose);
        for (int y = 0; y < out.height(); ++y) {
            for (int x = 0; x < out.width(); ++x) {
                const QRgb in = frame.pixel(x / 2, y / 2);
                ASSERT_EQ(out.pixel(x, y), translucent && in == key ? QRgb{0} : in) << x << "," << y;
            }
        }
    }
}

// Without a window manager the move falls back to following the mouse.
TEST_F(MawTest, LeftDragMovesTheWindowButATrembleDoesNot)
{
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    maw.move(100, 100);
    const auto send = [&maw](QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent e(type, at, maw.mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(&maw, &e);
    };
    send(QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, {21, 20}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(maw.pos(), QPoint(100, 100));
    send(QEvent::MouseMove, {50, 60}, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, {50, 60}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(maw.pos(), QPoint(130, 140));
}

// What the program sets for Qt alone before it starts (X11 under Wayland) is
// gone once it has started, so what the hero opens gets the user's
// environment; what the user chose stays throughout.
TEST(Environment, WhatQtAloneNeededIsTheUsersAgain)
{
    qputenv("WAYLAND_DISPLAY", "wayland-0"); // ctest gives this case a process of its own
    qputenv("DISPLAY", ":5");
    qputenv("QT_XCB_NO_MITSHM", "0");
    qunsetenv("QT_QPA_PLATFORM");
    char arg0[] = "dustmaw";
    char* argv[] = {arg0, nullptr};
    PrepareApplication(1, argv);
    EXPECT_EQ(qgetenv("QT_QPA_PLATFORM") + ' ' + qgetenv("QT_XCB_NO_MITSHM"), "xcb 0");
    SetUpApplication();
    EXPECT_EQ(std::pair(qEnvironmentVariableIsSet("QT_QPA_PLATFORM"), qgetenv("QT_XCB_NO_MITSHM")),
              std::pair(false, QByteArray("0")));
}

} // namespace
} // namespace dm
