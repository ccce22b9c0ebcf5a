#include "desktop/WindowTest.h"

#include "desktop/Platform.h"
#include "services/Settings.h"

#include <QApplication>
#include <QFile>

namespace dm::test {

void PrintTo(const ShownBox& b, std::ostream* os)
{
    *os << '[' << b.title.toStdString() << "] " << b.text.toStdString() << " icon " << b.icon;
}

BoxCatcher::BoxCatcher()
{
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << ShownBox{box->windowTitle(), box->text(), box->icon()};
            box->done(QMessageBox::Ok);
        }
    });
    m_timer.start(5);
}

ModalScript::ModalScript()
{
    connect(&m_timer, &QTimer::timeout, this, [this] {
        QWidget* modal = QApplication::activeModalWidget();
        if (m_running || m_steps.empty() || modal == nullptr || qobject_cast<QMessageBox*>(modal) != nullptr)
            return;
        m_running = true;
        if (m_steps.front()(modal))
            m_steps.pop_front();
        m_running = false;
    });
    m_timer.start(5);
}

WindowTest::WindowTest()
{
    // GLib reads these once per process; ctest runs every case in a process
    // of its own.
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.file(QStringLiteral("xdg"))));
    ResetSettings();
}

WindowTest::~WindowTest() { ResetSettings(); }

} // namespace dm::test

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    dm::SetUpApplication();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
