#pragma once
// The parameter sheet: shows the current character, makes a new one from a
// typed name, or shows a character file chosen to become current.
#include "character/CharaRecord.h"

#include <QDialog>

#include <array>
#include <cstdint>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace dm {

// Which sheet the next showing is: 0 new, 1 show, 2 open.
extern std::int16_t ParamMode;

class frmParam final : public QDialog {
    Q_OBJECT
public:
    explicit frmParam(QWidget* parent = nullptr);

    // Runs at every showing: place, mode, the character shown.
    void Form_Load();
    void ShowParam(const QString& path, const CharaRecord& chara, const CharaRecord& item);
    void cmdExecute_Click();
    void cmdCancel_Click();

    // The value rows: 0 tribe, 1 level, 2 vitarity, 3 strength, 4 defense,
    // 5 agility, 6 luck, 7 experience, 8 item, 9 next level.
    std::array<QLabel*, 10> lblValue{};
    QFrame* fraName;
    QLineEdit* txtName;
    QPushButton* cmdExecute;
    QPushButton* cmdCancel;

    QString SheetPath;
    CharaRecord SheetChara;
    CharaRecord SheetItem;

protected:
    // The close box and Escape act as Cancel.
    void reject() override;
    // Every way of closing keeps the position.
    void done(int result) override;
};

// The menu's three ways to the sheet, each shown modally over `owner` (the
// hero).
void ShowCharaParam(QWidget* owner = nullptr);
void NewChara(QWidget* owner = nullptr);
// Asks for a character file first; nothing happens when that is cancelled.
void OpenChara(QWidget* owner = nullptr);
// The open sheet shows a file that is not yet current: CharaPathBackup
// holds the current character meanwhile.
[[nodiscard]] bool OpenSheetShowing();

} // namespace dm
