#pragma once
// What the window tests share: an application on the offscreen platform, a
// throwaway home and Trash per case, and the modal windows a case opens.
#include "character/CharaRecord.h"
#include "desktop/frmMaw.h"
#include "services/Settings.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>

#include <deque>
#include <functional>

inline void PrintTo(const QRect& r, std::ostream* os)
{
    *os << r.x() << ',' << r.y() << ' ' << r.width() << 'x' << r.height();
}

namespace dm::test {

struct ShownBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool operator==(const ShownBox&) const = default;
};
inline void PrintTo(const ShownBox& b, std::ostream* os)
{
    *os << '[' << b.title.toStdString() << "] " << b.text.toStdString() << " icon " << b.icon;
}

// Answers the modal windows a case opens: message boxes with OK, keeping
// what they said; other windows with the steps given, one each, in order, a
// step acting on the first modal window of its type.
class Modals final : public QObject {
public:
    Modals()
    {
        // Two timers: Qt fires none again while its own slot runs, and a step
        // may open a message box.
        connect(&m_boxTimer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << ShownBox{box->windowTitle(), box->text(), box->icon()};
                box->done(QMessageBox::Ok);
            }
        });
        connect(&m_stepTimer, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal != nullptr && qobject_cast<QMessageBox*>(modal) == nullptr && !m_steps.empty()
                && m_steps.front()(modal))
                m_steps.pop_front();
        });
        m_boxTimer.start(5);
        m_stepTimer.start(5);
    }
    template <class Window>
    void then(std::function<void(Window&)> step)
    {
        m_steps.push_back([step](QWidget* w) {
            auto* window = qobject_cast<Window*>(w);
            return window != nullptr && (step(*window), true);
        });
    }
    [[nodiscard]] bool done() const { return m_steps.empty(); }
    QList<ShownBox> boxes;

private:
    std::deque<std::function<bool(QWidget*)>> m_steps;
    QTimer m_boxTimer, m_stepTimer;
};

// Settings and the current character reset before and after. GLib reads
// HOME once per process, and ctest runs every case in a process of its own.
class WindowTest : public ::testing::Test {
protected:
    WindowTest() { ResetSharedState(); }
    ~WindowTest() override { ResetSharedState(); }

    TempHome home{TempHome::OwnTrash};
    Modals modals;
};

} // namespace dm::test
