#include "support/Entries.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dm::test {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

clsFile fileAt(const QString& path)
{
    clsFile f;
    f.setFileName(path);
    return f;
}

QString makeDir(const QString& path, mode_t mode)
{
    EXPECT_TRUE(QDir().mkpath(path)) << path.toStdString();
    EXPECT_EQ(::chmod(native(path).constData(), mode), 0) << path.toStdString();
    return path;
}

QString makeFile(const QString& path, const QByteArray& contents, mode_t mode)
{
    writeFile(path, contents);
    EXPECT_EQ(::chmod(native(path).constData(), mode), 0) << path.toStdString();
    return path;
}

QString makeLink(const QString& target, const QString& link)
{
    EXPECT_EQ(::symlink(native(target).constData(), native(link).constData()), 0) << link.toStdString();
    return link;
}

mode_t entryType(const QString& path)
{
    struct stat st {};
    return ::lstat(native(path).constData(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

QStringList tree(const QString& dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    out.sort();
    return out;
}

uid_t ordinaryUser() { return ::geteuid() == 0 ? 65534 : ::geteuid(); }

ChildOutcome runAsOrdinaryUser(const std::function<int(QString*)>& op)
{
    constexpr int kCannotDrop = 100;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const uid_t uid = ordinaryUser();
        const gid_t gid = 65534;
        if (::geteuid() == 0
            && (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0))
            ::_exit(kCannotDrop);
        QString text;
        const int code = op(&text);
        const QByteArray utf8 = text.toUtf8();
        [[maybe_unused]] const ssize_t written = ::write(fds[1], utf8.constData(), static_cast<size_t>(utf8.size()));
        // _exit: the parent's exit handlers would remove its temporary folders.
        ::_exit(code);
    }
    ::close(fds[1]);
    QByteArray utf8;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        utf8.append(buf, static_cast<qsizetype>(n));
    ::close(fds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == kCannotDrop)
        return {};
    return {WEXITSTATUS(status), QString::fromUtf8(utf8)};
}

} // namespace dm::test
