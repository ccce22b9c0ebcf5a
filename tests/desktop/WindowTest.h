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
#include <QWidget>

#include <gtest/gtest.h>

#include <deque>
#include <functional>

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

// Acts on the modal windows a case opens, one step each, in order; message
// boxes are left to the BoxCatcher. A step applies to the first modal window
// of its type.
class ModalScript final : public QObject {
public:
    ModalScript();
    template <class Window>
    void then(std::function<void(Window&)> step)
    {
        m_steps.push_back([step](QWidget* w) {
            auto* window = qobject_cast<Window*>(w);
            if (window != nullptr)
                step(*window);
            return window != nullptr;
        });
    }
    [[nodiscard]] bool done() const { return m_steps.empty(); }

private:
    std::deque<std::function<bool(QWidget*)>> m_steps;
    bool m_running = false;
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
