// A stand-in for a file manager: a small window that drags the files named on
// its command line when pressed, offering copy and move as file managers do,
// and prints what the target answered.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class Source final : public QWidget {
protected:
    void mousePressEvent(QMouseEvent* /*event*/) override
    {
        auto* mime = new QMimeData;
        QList<QUrl> urls;
        for (const QString& path : QApplication::arguments().mid(1))
            urls << QUrl::fromLocalFile(path);
        mime->setUrls(urls);
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
        std::printf("%s\n", action == Qt::CopyAction ? "copy" : action == Qt::MoveAction ? "move" : "ignored");
        std::fflush(stdout);
        // The target asks for the data after the drop: stay to answer.
        QTimer::singleShot(3000, qApp, &QApplication::quit);
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Source source;
    source.setWindowTitle(QStringLiteral("dragsource"));
    source.setGeometry(300, 300, 120, 80);
    source.show();
    return QApplication::exec();
}
