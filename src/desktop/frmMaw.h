#pragma once
// The hero standing on the desktop: a frameless window cut to the outline of
// its picture. Files dropped on it start a battle; the left button drags it,
// the right button opens the menu, a double-click opens the parameter sheet.
#include "battle/BattleView.h"
#include "desktop/RgnData.h"
#include "services/ProcessLock.h"

#include <QImage>
#include <QPoint>
#include <QStringList>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

class QPainter;

namespace dm {

class frmEntry;
class frmVer;

class frmMaw final : public QWidget {
    Q_OBJECT
public:
    // The shipped hero and its frames unless another picture is given; that
    // one then serves for every pose.
    explicit frmMaw(const QImage& picture = {});
    ~frmMaw() override;

    // Start-up, up to the hero standing at its place. False when the program
    // must end at once (another instance runs, or the outline cache is
    // unusable).
    [[nodiscard]] bool Form_Load();
    // Saves the settings with the window's position; runs once.
    void Form_Unload();
    // Writes DM.ini now with the window's position, as the unload does, so
    // that a setting or a new current character survives a crash.
    [[nodiscard]] bool SaveSettings();
    // A character was made, opened or restored, or the current one died:
    // saved at once, and the hero stands again or stays fallen.
    void CurrentCharaChanged();
    // Sizes the window to the picture and cuts it to the outline, from the
    // cache when there is one. False when the cache gives no outline.
    [[nodiscard]] bool Form_main();
    void Save_RGN();
    // The z-order FormTop asks for, keeping position and outline.
    void ApplyFormTop();

    void Form_OLEDragDrop(const std::optional<QStringList>& paths);
    void Form_DblClick();
    // Unloads the battle list, then this window; the program then ends.
    void Quit();
    // The system asks the program to end: Quit when idle; during a battle the
    // settings are saved and the process ends where it stands, so no further
    // file is disposed of.
    void Terminate();

    // A battle runs or a drop is being taken in: nothing may start or end.
    [[nodiscard]] bool Busy() const;
    // The outline the window has (canonical), empty while it is rectangular.
    [[nodiscard]] const RectList& outline() const { return m_outline; }
    [[nodiscard]] const QImage& picture() const { return m_picture; }
    // Shows a pose's frame; repaints only when it changes.
    void SetPose(HeroPose pose);
    [[nodiscard]] HeroPose pose() const { return m_pose; }
    [[nodiscard]] const QImage& frame(HeroPose pose) const { return m_frames[static_cast<size_t>(pose)]; }
    // Paints the hero at the painter's device ratio, rounded to a whole one.
    void drawHero(QPainter& p);
    // The battle list window, created on first use.
    frmEntry& entry();
    // The window carrying the pop-up menu, created on first use.
    frmVer& menuWindow();

    [[nodiscard]] static QString RgnPath();

Q_SIGNALS:
    // Quit has unloaded everything: the program may end.
    void unloaded();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void Make_RGN();
    [[nodiscard]] bool Load_RGN();
    // Cuts the window to `rects`; false when nothing of the window would be
    // left (the window refuses such an outline).
    [[nodiscard]] bool shape(const RectList& rects);
    void onScreenChanged();

    static constexpr size_t kPoses = static_cast<size_t>(HeroPose::Ready) + 1;

    QImage m_picture;
    // Every frame has the picture's outline, so a pose never reshapes the
    // window; m_scaled holds them at the device's whole-number ratio.
    std::array<QImage, kPoses> m_frames;
    std::array<QImage, kPoses> m_scaled;
    HeroPose m_pose = HeroPose::Standing;
    HeroPose m_poseBeforeDrag = HeroPose::Standing;
    // The current character died in this run and none has replaced it.
    bool m_fallen = false;
    // The outline built from the picture in this run; none when the cache was
    // used or the window refused it.
    std::optional<RectList> hRgn;
    RectList m_outline;
    ProcessLock m_lock;
    std::unique_ptr<frmEntry> m_entry;
    std::unique_ptr<frmVer> m_ver;
    bool m_dropping = false;
    bool m_unloaded = false;
    bool m_screenHooked = false;
    qreal m_dpr = 0;
    // Dragging: where the left button went down, and whether the window
    // follows the mouse itself (no window manager move).
    std::optional<QPoint> m_pressAt;
    bool m_dragging = false;
    bool m_followMouse = false;
    QPoint m_grabOffset;
};

} // namespace dm
