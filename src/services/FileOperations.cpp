// What the file object does to its file besides trashing and deleting it:
// copy, move, rename, open and print. Nothing existing is ever replaced, and
// a move that cannot finish leaves the file where it was.
#include "services/AtomicFile.h"
#include "services/clsFile.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <gio/gio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace dm {

namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

clsFile::Notifier& notifier()
{
    static clsFile::Notifier n;
    return n;
}

bool exists(const QString& path)
{
    struct stat st {};
    return ::lstat(native(path).constData(), &st) == 0;
}

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// Where the file lands: into a folder it is given, else at the path itself.
QString destination(const QString& from, QString to, bool intoFolder)
{
    struct stat st {};
    if (!intoFolder || ::stat(native(to).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return to;
    while (to.size() > 1 && to.endsWith(QLatin1Char('/')))
        to.chop(1);
    return to + QLatin1Char('/') + from.mid(from.lastIndexOf(QLatin1Char('/')) + 1);
}

// The bytes of `from` (a link is followed) as a new file `to`, complete or
// not there at all; the permission bits come along.
bool copyBytes(const QString& from, const QString& to, QString* error)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = in.errorString();
        return false;
    }
    AtomicFile out(to);
    bool ok = out.open();
    while (ok && !in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        ok = !chunk.isEmpty() && out.write(chunk);
    }
    if (!ok || !out.commit(AtomicFile::NoReplace)) {
        *error = out.errorString().isEmpty() ? in.errorString() : out.errorString();
        return false;
    }
    struct stat st {};
    if (::stat(native(from).constData(), &st) == 0)
        ::chmod(native(to).constData(), st.st_mode & 0777);
    return true;
}

// The file system a path lies on, or would: that of its nearest folder that
// exists.
std::optional<dev_t> fileSystemOf(QString path)
{
    struct stat st {};
    while (path != QLatin1String("/")) {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        path = slash <= 0 ? QStringLiteral("/") : path.left(slash);
        if (::stat(native(path).constData(), &st) == 0)
            return st.st_dev;
    }
    return std::nullopt;
}

int renameNoReplace(const QString& from, const QString& to)
{
    return ::renameat2(AT_FDCWD, native(from).constData(), AT_FDCWD, native(to).constData(), RENAME_NOREPLACE) == 0
        ? 0
        : errno;
}

} // namespace

void clsFile::setNotifier(Notifier n) { notifier() = std::move(n); }

clsFile::Result clsFile::refuse(const QString& why)
{
    m_error = why;
    return Result::Refused;
}

clsFile::Result clsFile::FileCopy(const QString& strToPath)
{
    m_error.clear();
    if (!Enabled())
        return Result::NothingThere;
    const QString to = destination(m_fileName, strToPath, true);
    if (exists(to))
        return refuse(QStringLiteral("%1 already exists").arg(to));
    QString error;
    return copyBytes(m_fileName, to, &error) ? Result::Done : refuse(error);
}

clsFile::Result clsFile::Move(const QString& strToPath) { return place(strToPath, true, true); }

clsFile::Result clsFile::Rename(const QString& strToPath) { return place(strToPath, false, false); }

clsFile::Result clsFile::place(const QString& strToPath, bool intoFolder, bool acrossFileSystems)
{
    m_error.clear();
    if (!Enabled())
        return Result::NothingThere;
    const QString to = destination(m_fileName, strToPath, intoFolder);
    const int err = renameNoReplace(m_fileName, to);
    if (err == 0)
        return Result::Done;
    if (err == EEXIST)
        return refuse(QStringLiteral("%1 already exists").arg(to));
    if (err != EXDEV || !acrossFileSystems)
        return refuse(errnoText(err));

    // To another file system: a copy first, then the original goes; if it
    // cannot go, the copy goes instead, so the file is in one place only.
    struct stat st {};
    if (::lstat(native(m_fileName).constData(), &st) != 0)
        return refuse(errnoText(errno));
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t n = ::readlink(native(m_fileName).constData(), target, sizeof target - 1);
        if (n < 0)
            return refuse(errnoText(errno));
        target[n] = '\0';
        if (::symlink(target, native(to).constData()) != 0)
            return refuse(errnoText(errno));
    } else {
        QString error;
        if (!copyBytes(m_fileName, to, &error))
            return refuse(error);
    }
    if (::unlink(native(m_fileName).constData()) != 0) {
        const int unlinkErr = errno;
        ::unlink(native(to).constData());
        return refuse(errnoText(unlinkErr));
    }
    return Result::Done;
}

clsFile::Result clsFile::FirstMove(const QString& strToPath)
{
    m_error.clear();
    if (!Enabled())
        return Result::NothingThere;
    // A link moves as the link, so its own file system counts.
    struct stat from {};
    if (::lstat(native(m_fileName).constData(), &from) != 0)
        return refuse(errnoText(errno));
    const std::optional<dev_t> into = fileSystemOf(strToPath);
    if (into && *into != from.st_dev) {
        const QString message = QString::fromUtf16(kFirstMoveMessage);
        if (notifier())
            notifier()(message, QString::fromUtf16(kFileClassTitle));
        return refuse(message);
    }
    const int err = renameNoReplace(m_fileName, strToPath);
    return err == 0 ? Result::Done : refuse(errnoText(err));
}

clsFile::Result clsFile::Execute()
{
    m_error.clear();
    if (!Enabled())
        return Result::NothingThere;
    GError* error = nullptr;
    const QByteArray uri = QUrl::fromLocalFile(m_fileName).toEncoded();
    if (g_app_info_launch_default_for_uri(uri.constData(), nullptr, &error) != FALSE)
        return Result::Done;
    const QString why = QString::fromUtf8(error != nullptr ? error->message : "");
    g_clear_error(&error);
    return refuse(why);
}

clsFile::Result clsFile::FilePrint()
{
    m_error.clear();
    if (!Enabled())
        return Result::NothingThere;
    const QString lp = QStandardPaths::findExecutable(QStringLiteral("lp"));
    if (lp.isEmpty())
        return refuse(QStringLiteral("no printing command (lp) is installed"));
    return QProcess::startDetached(lp, {m_fileName}) ? Result::Done : refuse(QStringLiteral("lp could not be started"));
}

} // namespace dm
