// The hero's window: start-up and shut-down, the outline cache and its
// failures, placement, z-order, crisp drawing and dragging.
#include "desktop/Twips.h"
#include "desktop/WindowTest.h"
#include "desktop/frmMaw.h"
#include "services/Settings.h"

#include <QApplication>
#include <QLockFile>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dm {
namespace {

using test::CaseName;
using test::PrintTo;
using test::ShownBox;

class MawTest : public test::WindowTest {
protected:
    QString ini = home.file(QStringLiteral("DM.ini"));
    QString rgn = home.file(QStringLiteral("DM.rgn"));
};

ShownBox plainBox(const char* text) { return {QStringLiteral("Dustmaw"), QString::fromUtf8(text)}; }

TEST_F(MawTest, CacheOfOneStartShapesTheNextWithoutThePicture)
{
    RectList first;
    {
        frmMaw maw;
        ASSERT_TRUE(maw.Form_Load());
        first = maw.outline();
        EXPECT_EQ(first, CanonicalRects(OutlineRuns(maw.picture())));
        EXPECT_EQ(maw.mask(), RegionOf(first));
        EXPECT_TRUE(maw.isVisible());
        maw.Quit();
    }
    ASSERT_TRUE(QFile::exists(rgn));
    // Another picture, same cache: the cache decides, no pixel is read.
    QImage other(54, 50, QImage::Format_RGB32);
    other.fill(Qt::red);
    frmMaw again(other);
    ASSERT_TRUE(again.Form_Load());
    EXPECT_EQ(again.outline(), first);
    EXPECT_TRUE(catcher.boxes.isEmpty());
}

struct CacheCase {
    std::string name;
    std::function<void(const QString& rgn)> prepare;
    std::function<QImage()> picture;
    bool starts;
    std::optional<ShownBox> box;
    bool rectangular;
    bool cacheAfter;
};

class CacheFailure : public MawTest, public ::testing::WithParamInterface<CacheCase> {};

TEST_P(CacheFailure, BehavesAsItShould)
{
    const CacheCase& c = GetParam();
    if (c.prepare)
        c.prepare(rgn);
    {
        frmMaw maw(c.picture ? c.picture() : QImage());
        EXPECT_EQ(maw.Form_Load(), c.starts);
        if (c.starts) {
            EXPECT_EQ(maw.outline().empty(), c.rectangular);
            EXPECT_EQ(maw.mask().isEmpty(), c.rectangular);
            EXPECT_EQ(maw.size(), maw.picture().size());
        }
    }
    EXPECT_EQ(catcher.boxes, c.box ? QList<ShownBox>{*c.box} : QList<ShownBox>{});
    EXPECT_EQ(QFile::exists(rgn), c.cacheAfter);
    // A cache that ends the program still runs the shut-down.
    if (!c.starts) {
        EXPECT_TRUE(QFile::exists(home.file(QStringLiteral("DM.ini"))));
    }
}

void writeRgn(const QString& path, const QByteArray& bytes) { test::writeFile(path, bytes); }
QByteArray rgnOf(const RectList& r) { return RgnDataBytes(r); }

INSTANTIATE_TEST_SUITE_P(Rgn, CacheFailure,
    ::testing::Values(
        CacheCase{"Truncated",
                  [](const QString& p) { writeRgn(p, rgnOf({QRect(1, 1, 5, 5), QRect(1, 9, 5, 5)}).chopped(4)); },
                  {}, false, plainBox("リージョンデータの読み込みに失敗しました。"), true, true},
        CacheCase{"EmptyFile", [](const QString& p) { writeRgn(p, {}); }, {}, false,
                  plainBox("リージョンデータの読み込みに失敗しました。"), true, true},
        CacheCase{"AFolder", [](const QString& p) { QDir().mkpath(p); }, {}, false,
                  plainBox("リージョンデータの読み込みに失敗しました。"), true, true},
        CacheCase{"NothingOnTheWindow", [](const QString& p) { writeRgn(p, rgnOf({QRect(500, 500, 9, 9)})); }, {},
                  true, plainBox("窓の整形に失敗しました。"), true, true},
        CacheCase{"HugeButValid",
                  [](const QString& p) { writeRgn(p, rgnOf({QRect(0, 0, 9, 9)}) + QByteArray(8 << 20, 'x')); }, {},
                  true, std::nullopt, false, true},
        CacheCase{"PictureWithoutFigure", {},
                  [] {
                      QImage img(54, 50, QImage::Format_RGB32);
                      img.fill(Qt::blue);
                      return img;
                  },
                  true, plainBox("フォームの変形に失敗しました。"), true, false},
        CacheCase{"PictureTooDetailed", {},
                  [] {
                      // A checkerboard: one rectangle per pixel pair.
                      QImage img(90, 90, QImage::Format_RGB32);
                      for (int y = 0; y < 90; ++y)
                          for (int x = 0; x < 90; ++x)
                              img.setPixel(x, y, (x + y) % 2 != 0 ? qRgb(0, 0, 255) : qRgb(255, 255, 255));
                      return img;
                  },
                  true, plainBox("ＣＧのサイズが大きすぎます。"), false, false}),
    CaseName());

struct PlaceCase {
    std::string name;
    const char* ini; // nullptr: no DM.ini
    QPoint expected;
    bool onTop;
};

class Placement : public MawTest, public ::testing::WithParamInterface<PlaceCase> {};

TEST_P(Placement, PositionAndZOrder)
{
    const PlaceCase& c = GetParam();
    if (c.ini != nullptr)
        test::writeFile(ini, QByteArray(c.ini));
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    const QPoint px(qRound(c.expected.x() / TwipsPerPixelX()), qRound(c.expected.y() / TwipsPerPixelY()));
    const QPoint origin = QGuiApplication::primaryScreen()->availableGeometry().topLeft();
    EXPECT_EQ(maw.pos(), c.expected.x() < 0 ? origin : px);
    EXPECT_EQ(maw.windowFlags().testFlag(Qt::WindowStaysOnTopHint), c.onTop);
}

INSTANTIATE_TEST_SUITE_P(Saved, Placement,
    ::testing::Values(
        PlaceCase{"FirstRun", nullptr, {0, 0}, false},
        PlaceCase{"SavedTwips", "[Setting]\nLeft=1500\nTop=3000\nFormTop=-1\n", {1500, 3000}, true},
        PlaceCase{"NotTopmost", "[Setting]\nLeft=150\nFormTop=-2\n", {150, 0}, false},
        // A monitor that is gone: back to the top-left of the primary screen.
        PlaceCase{"FarOffScreen", "[Setting]\nLeft=9000000\nTop=-9000000\n", {-1, -1}, false},
        PlaceCase{"JustOffTheLeftEdge", "[Setting]\nLeft=-900\n", {-1, -1}, false}),
    CaseName());

TEST_F(MawTest, QuitWritesThePositionOnceAndNeverHalfAFile)
{
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    QSignalSpy unloaded(&maw, &frmMaw::unloaded);
    maw.move(10, 20);
    maw.Quit();
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(maw.isVisible());
    const QPointF twips = TwipsFromPixels({10, 20});
    const QByteArray written = test::readFile(ini);
    EXPECT_TRUE(written.contains("Left=" + QByteArray::number(twips.x()) + "\nTop=" + QByteArray::number(twips.y())))
        << written.toStdString();
    test::writeFile(ini, "mine");
    maw.Form_Unload();
    EXPECT_EQ(test::readFile(ini), QByteArray("mine"));

    // At an exit into a home that has become read-only, DM.ini stays whole.
    frmMaw again;
    ASSERT_TRUE(again.Form_Load());
    ASSERT_EQ(::chmod(QFile::encodeName(home.path()).constData(), 0555), 0);
    again.Quit();
    ::chmod(QFile::encodeName(home.path()).constData(), 0755);
    EXPECT_EQ(test::readFile(ini), QByteArray("mine"));
}

TEST_F(MawTest, SecondInstanceIsRefusedBeforeTouchingAnything)
{
    frmMaw first;
    ASSERT_TRUE(first.Form_Load());
    MsgType = 2;
    test::writeFile(ini, "[Setting]\nMsgType=1\n");
    {
        frmMaw second;
        EXPECT_FALSE(second.Form_Load());
        EXPECT_FALSE(second.isVisible());
    }
    EXPECT_EQ(catcher.boxes, (QList<ShownBox>{{QStringLiteral("起動エラー"), QStringLiteral("複数起動はするなでごわス!"),
                                               QMessageBox::Critical}}));
    EXPECT_EQ(MsgType, 2);
    EXPECT_EQ(test::readFile(ini), QByteArray("[Setting]\nMsgType=1\n"));
    EXPECT_TRUE(first.isVisible());
}

TEST_F(MawTest, StaleLockOfADeadProcessIsTakenOver)
{
    const pid_t child = ::fork();
    if (child == 0) {
        QLockFile lock(home.file(QStringLiteral("dustmaw.lock")));
        ::_exit(lock.tryLock(0) ? 0 : 1); // dies holding it
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    frmMaw maw;
    EXPECT_TRUE(maw.Form_Load());
    EXPECT_TRUE(catcher.boxes.isEmpty());
}

TEST_F(MawTest, CrispAtTwiceTheDensity)
{
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    const QImage& pic = maw.picture();
    QImage out(pic.size() * 2, QImage::Format_RGB32);
    out.setDevicePixelRatio(2.0);
    maw.clearMask(); // render() would shift the picture by the mask's left edge
    maw.render(&out);
    for (int y = 0; y < out.height(); ++y) {
        for (int x = 0; x < out.width(); ++x)
            ASSERT_EQ(out.pixel(x, y), pic.pixel(x / 2, y / 2)) << x << "," << y;
    }
}

TEST_F(MawTest, LeftDragMovesTheWindow)
{
    frmMaw maw;
    ASSERT_TRUE(maw.Form_Load());
    maw.move(100, 100);
    const QPoint grab(20, 20);
    const auto send = [&maw](QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent e(type, local, maw.mapToGlobal(local), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(&maw, &e);
    };
    send(QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, grab + QPoint(1, 0), Qt::NoButton, Qt::LeftButton); // a tremble is no drag
    EXPECT_EQ(maw.pos(), QPoint(100, 100));
    send(QEvent::MouseMove, grab + QPoint(30, 40), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, grab + QPoint(30, 40), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(maw.pos(), QPoint(130, 140));
}

} // namespace
} // namespace dm
