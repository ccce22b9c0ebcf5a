#pragma once
// The settings dialog: six option groups over the settings the battle and
// the hero's window use. Only OK changes them, in memory.
#include <QDialog>

class QButtonGroup;
class QPushButton;
class QRadioButton;

namespace dm {

class frmMaw;

class frmSet final : public QDialog {
    Q_OBJECT
public:
    // Opens over `main`; the z-order chosen is applied to it at once.
    explicit frmSet(frmMaw* main);

    // Selects each group's option from the current settings.
    void Form_Load();
    void cmdOK_Click();
    void Command1_Click();

    // The groups in tab order; the option's id in its group is its index.
    QButtonGroup* optBt;
    QButtonGroup* optMsg;
    QButtonGroup* optMsgType;
    QButtonGroup* optMini;
    QButtonGroup* optDead;
    QButtonGroup* optTop;
    QPushButton* Command1;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

private:
    QButtonGroup* group(const char* caption, int top, int height, const QList<const char*>& options, bool oneRow,
                        int left, int width, QWidget*& lastInTabOrder);

    frmMaw* m_main;
};

} // namespace dm
