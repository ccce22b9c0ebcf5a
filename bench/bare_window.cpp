// The yardstick for the hero's start-up: a bare Qt program showing one
// frameless masked window of the hero's size, nothing else.
#include <QApplication>
#include <QRegion>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget w;
    w.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    w.setWindowTitle(QStringLiteral("bare"));
    w.setFixedSize(54, 50);
    w.setMask(QRegion(0, 0, 54, 50, QRegion::Ellipse));
    w.show();
    return QApplication::exec();
}
