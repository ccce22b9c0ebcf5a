// A stand-in for a file manager: a small window that starts dragging the
// files named on its command line when the mouse is pressed on it, offering
// copy and move as file managers do, and prints what the target answered.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class Source final : public QWidget {
public:
    explicit Source(QList<QUrl> urls) : m_urls(std::move(urls))
    {
        setWindowTitle(QStringLiteral("dragsource"));
        setFixedSize(120, 80);
    }

protected:
    void mousePressEvent(QMouseEvent* /*event*/) override
    {
        auto* drag = new QDrag(this);
        auto* mime = new QMimeData;
        mime->setUrls(m_urls);
        drag->setMimeData(mime);
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
        std::printf("%s\n", action == Qt::CopyAction ? "copy" : action == Qt::MoveAction ? "move" : "ignored");
        std::fflush(stdout);
        // The target asks for the data after the drop: stay to answer.
        QTimer::singleShot(3000, qApp, &QApplication::quit);
    }

private:
    QList<QUrl> m_urls;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QList<QUrl> urls;
    for (int i = 1; i < argc; ++i)
        urls << QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i]));
    Source source(urls);
    source.move(300, 300);
    source.show();
    return QApplication::exec();
}
