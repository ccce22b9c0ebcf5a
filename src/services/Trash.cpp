#include "services/Trash.h"

#include <QFile>

#include <gio/gio.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace dm {
namespace {

struct GObjectUnref {
    void operator()(GFile* f) const { g_object_unref(f); }
};
struct GErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// Why `path` is not one the disposal functions accept; empty when it is.
// GIO resolves "." and ".." by text and drops a trailing slash, so through a
// symbolic link such a path could name another entry than the kernel's.
QString pathProblem(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("No file name given");
    if (path.contains(QChar(u'\0')))
        return QStringLiteral("The file name contains a NUL character");
    if (!path.startsWith(QLatin1Char('/')))
        return QStringLiteral("%1 is not an absolute path").arg(path);
    if (path.endsWith(QLatin1Char('/')))
        return QStringLiteral("%1 ends in a slash").arg(path);
    for (const QStringView part : QStringView(path).split(QLatin1Char('/'))) {
        if (part == QLatin1String(".") || part == QLatin1String(".."))
            return QStringLiteral("%1 has a \".\" or \"..\" part").arg(path);
    }
    return {};
}

} // namespace

bool moveToTrash(const QString& path, QString* error)
{
    if (const QString problem = pathProblem(path); !problem.isEmpty()) {
        setError(error, problem);
        return false;
    }
    const QByteArray native = QFile::encodeName(path);
    // The local VFS directly: no GIO modules (gvfs, D-Bus) get loaded for a
    // plain local path.
    const std::unique_ptr<GFile, GObjectUnref> file(g_vfs_get_file_for_path(g_vfs_get_local(), native.constData()));
    GError* raw = nullptr;
    const bool ok = g_file_trash(file.get(), nullptr, &raw) != FALSE;
    const std::unique_ptr<GError, GErrorFree> failure(raw);
    if (!ok)
        setError(error,
                 failure ? QString::fromUtf8(failure->message)
                         : QStringLiteral("Cannot move %1 to the trash").arg(path));
    return ok;
}

bool deleteFile(const QString& path, QString* error)
{
    if (const QString problem = pathProblem(path); !problem.isEmpty()) {
        setError(error, problem);
        return false;
    }
    if (::unlink(QFile::encodeName(path).constData()) != 0) {
        const int err = errno;
        setError(error, QStringLiteral("Cannot delete %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(err))));
        return false;
    }
    return true;
}

QString homeTrashPath() { return QFile::decodeName(g_get_user_data_dir()) + QLatin1String("/Trash"); }

} // namespace dm
