#pragma once
// What the window tests share: an application on the offscreen platform, a
// throwaway home, trash and settings per case, and the message boxes a case
// caused.
#include "support/TestSupport.h"

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

#include <gtest/gtest.h>

namespace dm::test {

struct ShownBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool operator==(const ShownBox&) const = default;
};
void PrintTo(const ShownBox& b, std::ostream* os);

// Answers every modal message box with OK while alive, keeping what it said.
class BoxCatcher final : public QObject {
public:
    BoxCatcher();
    QList<ShownBox> boxes;

private:
    QTimer m_timer;
};

// A fresh home folder, and HOME and XDG_DATA_HOME inside it so the Trash is
// the case's own; settings reset before and after.
class WindowTest : public ::testing::Test {
protected:
    WindowTest();
    ~WindowTest() override;
    [[nodiscard]] QString trashFiles() const { return home.file(QStringLiteral("xdg/Trash/files")); }

    TempHome home;
    BoxCatcher catcher;
};

} // namespace dm::test
