#pragma once
// The settings dialog: six option groups over the settings the battle and
// the hero's window use. Only OK changes them, in memory, and then asks for
// the z-order chosen to apply at once. Below them, whether the program starts
// at login: the desktop's autostart entry, switched by OK as well.
#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QPushButton;
class QRadioButton;

namespace dm {

class frmSet final : public QDialog {
    Q_OBJECT
public:
    // Opens over `owner` (the hero), centred on its screen.
    explicit frmSet(QWidget* owner = nullptr);

    // Selects each group's option from the current settings, and the check
    // box from the autostart entry.
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
    QCheckBox* chkAutostart;

Q_SIGNALS:
    // OK stored the settings: FormTop wants applying now.
    void formTopChosen();

private:
    QButtonGroup* group(const char* caption, int top, int height, const QList<const char*>& options, bool oneRow,
                        int left, int width, QWidget*& lastInTabOrder);
};

} // namespace dm
