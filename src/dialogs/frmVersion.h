#pragma once
// The About dialog: the program's icon, name and version.
#include <QDialog>

class QLabel;

namespace dm {

class frmVersion final : public QDialog {
    Q_OBJECT
public:
    // Opens centred on its owner.
    explicit frmVersion(QWidget* owner);

    QLabel* Label1;
    // Below the dialog's bottom edge: seen only by who enlarges it.
    QLabel* Label4;
};

} // namespace dm
