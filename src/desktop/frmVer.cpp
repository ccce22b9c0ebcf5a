#include "desktop/frmVer.h"

#include "desktop/frmMaw.h"
#include "dialogs/frmParam.h"
#include "dialogs/frmSet.h"
#include "services/Settings.h"
#include "ui/Platform.h"

#include <QMenu>

#include <cstdio>
#include <tuple>

namespace dm {

frmVer::frmVer(frmMaw& maw) : m_maw(maw), m_menu(std::make_unique<QMenu>())
{
    QMenu& m = *m_menu;
    mnuAddNew = m.addAction(QStringLiteral("新規作成"), this, &frmVer::mnuAddNew_Click);
    mnuOpen = m.addAction(QStringLiteral("開く"), this, &frmVer::mnuOpen_Click);
    mnuParam = m.addAction(QStringLiteral("ﾌﾟﾛﾊﾟﾃｨ"), this, &frmVer::mnuParam_Click);
    m.addSeparator();
    mnuTrashOpen = m.addAction(QStringLiteral("ゴミ箱を開く"), this, &frmVer::mnuTrashOpen_Click);
    m.addSeparator();
    mnuSetting = m.addAction(QStringLiteral("設定"), this, &frmVer::mnuSetting_Click);
    m.addSeparator();
    mnuQuit = m.addAction(QStringLiteral("終了"), this, &frmVer::mnuQuit_Click);
}

frmVer::~frmVer() = default;

void frmVer::UpdateMenu()
{
    mnuParam->setEnabled(!CharaPath.isEmpty());
    const bool idle = !m_maw.Busy();
    mnuOpen->setEnabled(idle);
    mnuAddNew->setEnabled(idle);
    mnuQuit->setEnabled(idle);
}

void frmVer::Popup(const QPoint& globalPos)
{
    UpdateMenu();
    m_menu->exec(globalPos);
}

void frmVer::mnuAddNew_Click() { changeChara(NewChara); }
void frmVer::mnuOpen_Click() { changeChara(OpenChara); }

void frmVer::changeChara(void (*sheet)(QWidget* owner))
{
    const QString before = CharaPath;
    sheet(&m_maw);
    if (CharaPath != before)
        m_maw.CurrentCharaChanged();
}

void frmVer::mnuParam_Click() { ShowCharaParam(&m_maw); }

void frmVer::mnuSetting_Click()
{
    frmSet dialog(&m_maw);
    connect(&dialog, &frmSet::formTopChosen, &m_maw, &frmMaw::ApplyFormTop);
    dialog.Form_Load();
    NeverMinimised(dialog);
    if (dialog.exec() == QDialog::Accepted)
        std::ignore = m_maw.SaveSettings();
}

void frmVer::mnuTrashOpen_Click()
{
    if (!OpenTrash())
        std::fprintf(stderr, "dustmaw: nothing could open the Trash\n");
}

void frmVer::mnuQuit_Click()
{
    if (m_maw.Busy()) {
        Beep();
        return;
    }
    m_maw.Quit();
}

} // namespace dm
