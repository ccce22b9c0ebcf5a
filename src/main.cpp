// Dustmaw: the hero on the desktop.
#include "desktop/frmMaw.h"
#include "ui/Platform.h"

#include <QApplication>

int main(int argc, char** argv)
{
    dm::PrepareApplication(argc, argv);
    QApplication app(argc, argv);
    dm::SetUpApplication();
    dm::frmMaw maw;
    if (!maw.Form_Load())
        return 1;
    QObject::connect(&maw, &dm::frmMaw::unloaded, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    dm::OnTerminationRequest(&maw, [&maw] { maw.Terminate(); });
    return QApplication::exec();
}
