#include "desktop/frmMaw.h"

#include "battle/Battle.h"
#include "character/LoadChara.h"
#include "desktop/frmEntry.h"
#include "desktop/frmVer.h"
#include "dialogs/frmParam.h"
#include "services/AtomicFile.h"
#include "services/HomeFolder.h"
#include "services/Numeric.h"
#include "services/Random.h"
#include "services/Settings.h"
#include "ui/Platform.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QTime>
#include <QTimer>
#include <QWindow>

#include <sys/stat.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <tuple>

namespace dm {

namespace {

// The cache as stored, or nullopt when it is not a readable regular file.
// Never more is read than the largest valid cache holds.
std::optional<QByteArray> readRgnFile(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.read(kRgnHeaderSize + qint64{16} * kMaxRgnRects);
}

constexpr const char* kFrameNames[]
    = {"hero", "hero-swing", "hero-flinch", "hero-victory", "hero-fallen", "hero-ready"};

// A frame may only differ inside the figure: where the standing picture has
// its background colour, so must the frame, and nowhere else.
bool sameOutline(const QImage& standing, const QImage& frame)
{
    if (frame.size() != standing.size() || standing.isNull())
        return false;
    const QRgb key = standing.pixel(0, 0);
    for (int y = 0; y < standing.height(); ++y) {
        for (int x = 0; x < standing.width(); ++x) {
            if ((standing.pixel(x, y) == key) != (frame.pixel(x, y) == key))
                return false;
        }
    }
    return true;
}

// The picture with the colour of its top-left pixel made transparent.
QImage withoutBackground(const QImage& picture)
{
    QImage out = picture.convertToFormat(QImage::Format_ARGB32);
    const QRgb background = picture.pixel(0, 0);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if (line[x] == background)
                line[x] = qRgba(0, 0, 0, 0);
        }
    }
    return out;
}

} // namespace

frmMaw::frmMaw(const QImage& picture) : m_picture(picture.isNull() ? Picture("hero") : picture)
{
    static_assert(std::size(kFrameNames) == kPoses);
    for (size_t i = 0; i < kPoses; ++i) {
        QImage frame = picture.isNull() && i > 0 ? Picture(kFrameNames[i]) : QImage();
        m_frames[i] = sameOutline(m_picture, frame) ? std::move(frame) : m_picture;
    }
    // A utility window: window managers keep it off the taskbar and out of
    // the window switcher, yet stack and focus it like any other window.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
    setWindowTitle(QString::fromUtf8(kAppTitle));
    // Where transparent pixels show the desktop, the picture's background is
    // painted transparent too: under Wayland the outline only limits input.
    if (TranslucencyAvailable()) {
        setAttribute(Qt::WA_TranslucentBackground);
    } else {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
    }
    setAcceptDrops(true);
}

frmMaw::~frmMaw() = default;

QString frmMaw::RgnPath() { return HomeFolder() + QStringLiteral("/DM.rgn"); }

bool frmMaw::Form_Load()
{
    // The lock lives in the home folder, so that folder comes first. Without
    // it the program still runs; only a second copy goes unnoticed.
    if (!EnsureHomeFolder())
        std::fprintf(stderr, "dustmaw: cannot create %s\n", qPrintable(HomeFolder()));
    // Only a live first copy holds the lock, however long it runs; taking it
    // syncs nothing to the disk, which on a journalled file system would
    // make every start wait for a commit.
    switch (m_lock.acquire(HomeFolder() + QStringLiteral("/dustmaw.lock"))) {
    case ProcessLock::Result::Held: break;
    case ProcessLock::Result::Busy:
        MsgBox(nullptr, QStringLiteral("複数起動はするなでごわス!"), QStringLiteral("起動エラー"),
               QMessageBox::Critical);
        return false;
    case ProcessLock::Result::Failed:
        std::fprintf(stderr, "dustmaw: cannot lock %s\n", qPrintable(HomeFolder()));
        break;
    }

    const double seconds = QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
    Randomize(static_cast<std::uint32_t>(roundToInt<std::int32_t>(seconds) / 3));

    ResetSharedState();
    const SavedPosition saved = ReadSettings();
    // Placed before the outline is cut, so that an unload on a bad cache
    // keeps the saved position.
    move(PixelsFromTwipsX(saved.Left), PixelsFromTwipsY(saved.Top));
    if (!Form_main()) {
        Form_Unload();
        return false;
    }
    KeepOnScreen(*this);
    ApplyFormTop();
    show();
    raise();
    std::ignore = LoadChara(CharaPath, Chara, CharaItem);

    // However the program comes to end, the settings are saved once.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &frmMaw::Form_Unload);
    // A monitor that goes away must not take the hero with it.
    connect(qApp, &QGuiApplication::screenRemoved, this,
            [this] { QTimer::singleShot(0, this, [this] { KeepOnScreen(*this); }); });
    return true;
}

void frmMaw::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    hide();
    hRgn.reset();
    std::ignore = SaveSettings();
    m_lock.release();
}

bool frmMaw::SaveSettings()
{
    const QPointF twips = TwipsFromPixels(pos());
    if (WriteSettings(static_cast<float>(twips.x()), static_cast<float>(twips.y())))
        return true;
    std::fprintf(stderr, "dustmaw: could not save the settings to %s\n", qPrintable(IniPath()));
    return false;
}

void frmMaw::CurrentCharaChanged()
{
    if (!CharaPath.isEmpty())
        m_fallen = false;
    SetPose(m_fallen ? HeroPose::Fallen : HeroPose::Standing);
    std::ignore = SaveSettings();
}

void frmMaw::SetPose(HeroPose pose)
{
    if (pose == m_pose)
        return;
    m_pose = pose;
    update();
}

bool frmMaw::Form_main()
{
    setFixedSize(m_picture.size());
    struct stat st {};
    if (::lstat(QFile::encodeName(RgnPath()).constData(), &st) == 0)
        return Load_RGN();
    Make_RGN();
    return true;
}

void frmMaw::Make_RGN()
{
    hRgn = CanonicalRects(OutlineRuns(m_picture));
    Save_RGN();
    if (!shape(*hRgn)) {
        MsgBox(this, QStringLiteral("フォームの変形に失敗しました。"));
        hRgn.reset();
    }
}

void frmMaw::Save_RGN()
{
    // An outline without a pixel is no data: cached, it would refuse to
    // shape the window at every later start.
    if (!hRgn || hRgn->empty())
        return;
    const QByteArray bytes = RgnDataBytes(*hRgn);
    if (bytes.size() >= kRgnDataLimit) {
        MsgBox(this, QStringLiteral("ＣＧのサイズが大きすぎます。"));
        return;
    }
    // Written aside and renamed: a torn cache would stop every later start.
    QString error;
    if (!writeFileAtomically(RgnPath(), bytes, &error))
        std::fprintf(stderr, "dustmaw: could not write %s: %s\n", qPrintable(RgnPath()), qPrintable(error));
}

bool frmMaw::Load_RGN()
{
    const std::optional<QByteArray> stored = readRgnFile(RgnPath());
    const std::optional<RectList> rects = stored ? ParseRgnData(*stored) : std::nullopt;
    if (!rects) {
        MsgBox(this, QStringLiteral("リージョンデータの読み込みに失敗しました。"));
        return false;
    }
    if (!shape(*rects))
        MsgBox(this, QStringLiteral("窓の整形に失敗しました。"));
    return true;
}

bool frmMaw::shape(const RectList& rects)
{
    // An empty mask would mean no mask at all: the whole rectangle.
    const QRegion region = RegionOf(rects).intersected(QRect(QPoint(0, 0), m_picture.size()));
    if (region.isEmpty())
        return false;
    setMask(region);
    m_outline = RectsOf(region);
    return true;
}

void frmMaw::ApplyFormTop()
{
    if (FormTop == -1 || FormTop == -2) {
        const bool onTop = FormTop == -1;
        if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop) {
            // Changing the hint hides a shown window and makes a new native
            // window on the next show; the position is kept by hand.
            const bool wasVisible = isVisible();
            const QPoint at = pos();
            setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
            // Left to itself, Qt makes that window only as it maps it, after
            // showEvent has put the taskbar states on the old one: make it now.
            if (windowHandle() != nullptr)
                windowHandle()->destroy();
            move(at);
            if (wasVisible)
                show();
        }
    }
    if (isVisible())
        raise();
}

bool frmMaw::Busy() const { return Idle != kTrue || m_dropping; }

frmEntry& frmMaw::entry()
{
    if (!m_entry) {
        m_entry = std::make_unique<frmEntry>(this);
        connect(m_entry.get(), &frmEntry::heroPoseChanged, this, &frmMaw::SetPose);
        connect(m_entry.get(), &frmEntry::currentCharaChanged, this, &frmMaw::CurrentCharaChanged);
    }
    m_entry->EnsureLoaded();
    return *m_entry;
}

frmVer& frmMaw::menuWindow()
{
    if (!m_ver)
        m_ver = std::make_unique<frmVer>(*this);
    return *m_ver;
}

void frmMaw::Form_OLEDragDrop(const std::optional<QStringList>& paths)
{
    // Events run while the roster is built; a drop or Quit then must not
    // start anything.
    m_dropping = true;
    Battle battle(entry());
    const DropResult result = battle.Form_OLEDragDrop(paths);
    if (result == DropResult::CharaBusy) {
        MsgBox(this,
               QStringLiteral("このキャラは別のバトルで戦闘中です。"
                              "そのバトルが終わってから、もう一度ドロップしてください。"));
    } else if (result == DropResult::Fought) {
        entry().BattleEnded(battle.report().historyNumber);
        if (battle.report().unrecorded > 0)
            MsgBox(this,
                   QStringLiteral("履歴に記録できなかったため、%1 件のファイルを元の場所に残しました。\n%2")
                       .arg(battle.report().unrecorded)
                       .arg(battle.report().historyError));
    }
    m_dropping = false;
    if (result == DropResult::Fought && battle.report().outcome == BattleOutcome::Defeat && CharaPath.isEmpty()) {
        m_fallen = true;
        CurrentCharaChanged();
    } else {
        SetPose(m_fallen ? HeroPose::Fallen : HeroPose::Standing);
    }
}

void frmMaw::Form_DblClick()
{
    if (!CharaPath.isEmpty())
        ShowCharaParam(this);
}

void frmMaw::Quit()
{
    if (m_entry)
        m_entry->Unload();
    Form_Unload();
    Q_EMIT unloaded();
}

void frmMaw::Terminate()
{
    if (!Busy()) {
        Quit();
        return;
    }
    // The open sheet's file is not the character yet: ending is its Cancel.
    if (OpenSheetShowing())
        CharaPath = CharaPathBackup;
    Form_Unload();
    std::_Exit(0);
}

void frmMaw::paintEvent(QPaintEvent* /*event*/)
{
    QPainter p(this);
    drawHero(p);
}

void frmMaw::drawHero(QPainter& p)
{
    // Scaled by whole pixels, nearest neighbour, and drawn 1:1 on the
    // device: at a ratio of 2 every picture pixel is a sharp 2×2 block.
    const int ratio = std::max(1, qRound(p.device()->devicePixelRatioF()));
    const auto i = static_cast<size_t>(m_pose);
    const bool clear = testAttribute(Qt::WA_TranslucentBackground);
    QImage& scaled = m_scaled[i];
    if (scaled.isNull() || scaled.devicePixelRatio() != ratio || scaled.hasAlphaChannel() != clear) {
        scaled = (clear ? withoutBackground(m_frames[i]) : m_frames[i])
                     .scaled(m_frames[i].size() * ratio, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        scaled.setDevicePixelRatio(ratio);
    }
    p.drawImage(QPoint(0, 0), scaled);
}

void frmMaw::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Still unmapped here: the window manager reads the state when it maps.
    SkipTaskbar(*this);
    if (!m_screenHooked && windowHandle() != nullptr) {
        m_screenHooked = true;
        m_dpr = devicePixelRatioF();
        connect(windowHandle(), &QWindow::screenChanged, this, &frmMaw::onScreenChanged);
    }
}

void frmMaw::onScreenChanged()
{
    // The mask is in picture pixels; the platform scales it by the ratio it
    // had when the mask was set.
    if (devicePixelRatioF() != m_dpr) {
        m_dpr = devicePixelRatioF();
        if (!mask().isEmpty() && windowHandle() != nullptr)
            windowHandle()->setMask(mask());
    }
    update();
}

void frmMaw::closeEvent(QCloseEvent* event)
{
    // The window manager or the session closing the hero: the Quit command.
    event->ignore();
    if (Busy()) {
        Beep();
        return;
    }
    Quit();
}

void frmMaw::mousePressEvent(QMouseEvent* event)
{
    m_pressAt.reset();
    m_dragging = false;
    m_followMouse = false;
    if (event->button() == Qt::LeftButton && event->buttons() == Qt::LeftButton) {
        m_pressAt = event->globalPosition().toPoint();
    } else if (event->button() == Qt::RightButton && event->buttons() == Qt::RightButton) {
        menuWindow().Popup(event->globalPosition().toPoint());
    }
}

void frmMaw::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pressAt || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint at = event->globalPosition().toPoint();
    if (!m_dragging) {
        // Only a real drag moves the window, so a double-click stays one.
        if ((at - *m_pressAt).manhattanLength() < QApplication::startDragDistance())
            return;
        m_dragging = true;
        // The window manager's own move ends without a release reaching us.
        if (windowHandle() != nullptr && windowHandle()->startSystemMove()) {
            m_pressAt.reset();
            return;
        }
        m_followMouse = true;
        m_grabOffset = *m_pressAt - pos();
    }
    if (m_followMouse)
        move(at - m_grabOffset);
}

void frmMaw::mouseReleaseEvent(QMouseEvent* /*event*/)
{
    m_pressAt.reset();
    m_dragging = false;
    m_followMouse = false;
}

void frmMaw::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        Form_DblClick();
    else
        mousePressEvent(event);
}

void frmMaw::dragEnterEvent(QDragEnterEvent* event)
{
    // Always a copy: a source that sees its files "moved" may delete them.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    // The hero shows it will fight only when the drop would start a battle.
    m_poseBeforeDrag = m_pose;
    if (!Busy() && !CharaPath.isEmpty() && event->mimeData()->hasUrls())
        SetPose(HeroPose::Ready);
}

void frmMaw::dragLeaveEvent(QDragLeaveEvent* /*event*/) { SetPose(m_poseBeforeDrag); }

void frmMaw::dragMoveEvent(QDragMoveEvent* event)
{
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void frmMaw::dropEvent(QDropEvent* event)
{
    std::optional<QStringList> paths = DroppedPaths(*event->mimeData());
    event->setDropAction(Qt::CopyAction);
    event->accept();
    SetPose(m_poseBeforeDrag);
    if (Busy()) {
        Beep();
        return;
    }
    // The file manager gets its answer now; the battle starts from the
    // event loop, and a drop arriving before then is a drop during a battle.
    m_dropping = true;
    QTimer::singleShot(0, this, [this, paths = std::move(paths)] { Form_OLEDragDrop(paths); });
}

} // namespace dm
