#pragma once
// The window that is never shown: it carries the hero's pop-up menu and the
// menu's commands.
#include <QObject>
#include <QPoint>

#include <memory>

class QAction;
class QMenu;
class QWidget;

namespace dm {

class frmMaw;

class frmVer final : public QObject {
    Q_OBJECT
public:
    explicit frmVer(frmMaw& maw);
    ~frmVer() override;

    // Sets each item's enabled state as the menu opens.
    void UpdateMenu();
    // Opens the menu at the pointer; the chosen command runs before it returns.
    void Popup(const QPoint& globalPos);

    QAction* mnuAddNew = nullptr;
    QAction* mnuOpen = nullptr;
    QAction* mnuParam = nullptr;
    QAction* mnuTrashOpen = nullptr;
    QAction* mnuSetting = nullptr;
    QAction* mnuQuit = nullptr;

public Q_SLOTS:
    void mnuAddNew_Click();
    void mnuOpen_Click();
    void mnuParam_Click();
    void mnuTrashOpen_Click();
    void mnuSetting_Click();
    void mnuQuit_Click();

private:
    // Runs a sheet that may make another character current, and tells the
    // hero when it did.
    void changeChara(void (*sheet)(QWidget* owner));

    frmMaw& m_maw;
    std::unique_ptr<QMenu> m_menu;
};

} // namespace dm
