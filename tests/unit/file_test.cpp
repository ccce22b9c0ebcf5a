// The file object: existence, size, attributes and the parts of a name, for
// the kinds of thing a drop can deliver.
#include "services/clsFile.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace dm;
using namespace dm::test;

namespace {

QByteArray native(const QString& s) { return QFile::encodeName(s); }

bool xattrsSupported(const QString& file)
{
    return ::setxattr(native(file).constData(), "user.dustmaw-probe", "1", 1, 0) == 0
        && ::removexattr(native(file).constData(), "user.dustmaw-probe") == 0;
}

struct Kind {
    const char* what;
    // Makes the thing in dir and returns the path to ask about.
    std::function<QString(const QString& dir)> make;
    bool enabled;
    int size;
    bool directory, hidden, readOnly, system;
};

QString plain(const QString& dir, const char* name, int size, mode_t mode = 0644)
{
    const QString p = dir + QLatin1Char('/') + QLatin1String(name);
    writeFileOfSize(p, size);
    ::chmod(native(p).constData(), mode);
    return p;
}

TEST(FileObject, KindsOfPath)
{
    const Kind kinds[] = {
        {"regular file", [](const QString& d) { return plain(d, "a.txt", 42); }, true, 42, false, false, false, false},
        {"empty file", [](const QString& d) { return plain(d, "e.txt", 0); }, true, 0, false, false, false, false},
        {"folder", [](const QString& d) { return d; }, false, -1, true, false, false, false},
        {"folder with slash", [](const QString& d) { return d + QLatin1Char('/'); }, false, -1, true, false, false, false},
        {"file with slash", [](const QString& d) { return plain(d, "s.txt", 3) + QLatin1Char('/'); }, false, -1, true, false, false, false},
        {"missing", [](const QString& d) { return d + QStringLiteral("/nothing.txt"); }, false, -1, true, false, false, false},
        {"empty path", [](const QString&) { return QString(); }, false, -1, true, false, false, false},
        {"dangling link",
         [](const QString& d) {
             const QString p = d + QStringLiteral("/dangling.txt");
             EXPECT_EQ(::symlink("gone.txt", native(p).constData()), 0);
             return p;
         },
         false, -1, true, false, false, false},
        {"link to file",
         [](const QString& d) {
             plain(d, "target.txt", 7);
             const QString p = d + QStringLiteral("/link.txt");
             EXPECT_EQ(::symlink("target.txt", native(p).constData()), 0);
             return p;
         },
         true, 7, false, false, false, false},
        {"link to folder",
         [](const QString& d) {
             const QString p = d + QStringLiteral("/dirlink");
             EXPECT_EQ(::symlink(".", native(p).constData()), 0);
             return p;
         },
         false, -1, true, false, false, false},
        {"dot file", [](const QString& d) { return plain(d, ".hidden", 5); }, true, 5, false, true, false, false},
        {"read-only file", [](const QString& d) { return plain(d, "ro.txt", 5, 0444); }, true, 5, false, false, true, false},
        {"owner may not write", [](const QString& d) { return plain(d, "ro2.txt", 5, 0466); }, true, 5, false, false, true, false},
        {"FIFO without writer",
         [](const QString& d) {
             const QString p = d + QStringLiteral("/pipe");
             EXPECT_EQ(::mkfifo(native(p).constData(), 0644), 0);
             return p;
         },
         true, 0, false, false, false, true},
        // Root may remove it from /dev; anyone else may not.
        {"device", [](const QString&) { return QStringLiteral("/dev/null"); }, true, 0, false, false, ::geteuid() != 0, true},
        {"file in a folder nobody may write",
         [](const QString& d) {
             const QString sub = d + QStringLiteral("/locked");
             EXPECT_EQ(::mkdir(native(sub).constData(), 0755), 0);
             const QString p = plain(sub, "x.txt", 9);
             EXPECT_EQ(::chmod(native(sub).constData(), 0555), 0);
             return p;
         },
         true, 9, false, false, true, false},
    };
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.what);
        QTemporaryDir dir;
        clsFile f;
        f.setFileName(k.make(dir.path()));
        EXPECT_EQ(f.Enabled(), k.enabled);
        EXPECT_EQ(f.Size(), k.size);
        EXPECT_EQ(f.Directory(), k.directory);
        EXPECT_EQ(f.Hidden(), k.hidden);
        EXPECT_EQ(f.ReadOnly(), k.readOnly);
        EXPECT_EQ(f.System(), k.system);
        EXPECT_FALSE(f.Archive());
        // Let the folder be cleaned up.
        ::chmod(native(dir.path() + QStringLiteral("/locked")).constData(), 0755);
    }
}

TEST(FileObject, UnreadableFileFailsForAnOrdinaryUser)
{
    // Root may read anything, so the tool runs as nobody here.
    if (::access("/usr/bin/setpriv", X_OK) != 0 || ::geteuid() != 0)
        GTEST_SKIP() << "needs root and setpriv";
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(native(dir.path()).constData(), 0755), 0);
    const QString secret = plain(dir.path(), "secret.txt", 10, 0600);
    const QString open = plain(dir.path(), "open.txt", 10, 0644);
    const ProcessResult r = runProgram(QStringLiteral("/usr/bin/setpriv"),
                                       {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                        QStringLiteral("--clear-groups"), QStringLiteral(DUSTMAW_CLI),
                                        QStringLiteral("inspect"), QStringLiteral("--json"), secret, open});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << r.out.toStdString();
    EXPECT_TRUE(lines[0].contains("\"error\":\"cannot be read")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("{\"Name\":\"open\"")) << lines[1].toStdString();
}

TEST(FileObject, PartsOfTheName)
{
    QTemporaryDir dir;
    const QString d = dir.path();
    writeFileOfSize(d + QStringLiteral("/file.txt"), 1);
    const struct {
        QString path;
        const char* extension;
        QString shortName;
        QString longPath;
    } cases[] = {
        {d + QStringLiteral("/file.txt"), "TXT", QStringLiteral("file"), d + QLatin1Char('/')},
        {QStringLiteral("/a/archive.tar.gz"), "GZ", QStringLiteral("archive.tar"), QStringLiteral("/a/archive.tar.gz")},
        {QStringLiteral("/dir.d/file"), "", QStringLiteral("file"), QStringLiteral("/dir.d/file")},
        {QStringLiteral("/a/b."), "", QStringLiteral("b"), QStringLiteral("/a/b.")},
        {QStringLiteral("/d/file.TxT"), "TXT", QStringLiteral("file"), QStringLiteral("/d/file.TxT")},
        {QStringLiteral("/d/.bashrc"), "BASHRC", QString(), QStringLiteral("/d/.bashrc")},
        {QStringLiteral("/d/メモ.テキスト"), "テキスト", QStringLiteral("メモ"), QStringLiteral("/d/メモ.テキスト")},
        {d + QStringLiteral("/."), "", QString(), d + QStringLiteral("/.")},
        {d + QLatin1Char('/'), "", QString(), d + QLatin1Char('/')},
    };
    for (const auto& c : cases) {
        clsFile f;
        f.setFileName(c.path);
        EXPECT_EQ(f.Extension(), QString::fromUtf8(c.extension)) << c.path.toStdString();
        EXPECT_EQ(f.ShortFileName(), c.shortName) << c.path.toStdString();
        EXPECT_EQ(f.LongPathName(), c.longPath) << c.path.toStdString();
    }
}

TEST(FileObject, ReadOnlyLet)
{
    QTemporaryDir dir;
    const struct {
        mode_t before;
        bool value;
        mode_t after;
    } cases[] = {
        {0664, true, 0444},
        {0644, false, 0644},
        {0444, false, 0644},
        {0400, true, 0400},  // already read-only: nothing written
        {0460, false, 0660},
    };
    for (const auto& c : cases) {
        const QString p = plain(dir.path(), "f.txt", 1, c.before);
        clsFile f;
        f.setFileName(p);
        EXPECT_TRUE(f.setReadOnly(c.value)) << f.errorString().toStdString();
        struct stat st {};
        ASSERT_EQ(::stat(native(p).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.after) << std::oct << c.before;
        EXPECT_EQ(f.ReadOnly(), (c.after & S_IWUSR) == 0);
        ::chmod(native(p).constData(), 0644);
    }
    clsFile missing;
    missing.setFileName(dir.path() + QStringLiteral("/missing"));
    EXPECT_TRUE(missing.setReadOnly(true));
    EXPECT_FALSE(missing.ReadOnly());
}

TEST(FileObject, DosAttributesLiveInAnExtendedAttribute)
{
    QTemporaryDir dir;
    const QString p = plain(dir.path(), "plain.txt", 3);
    if (!xattrsSupported(p))
        GTEST_SKIP() << "no user extended attributes on this file system";
    clsFile f;
    f.setFileName(p);
    ASSERT_TRUE(f.setHidden(true)) << f.errorString().toStdString();
    ASSERT_TRUE(f.setArchive(true));
    EXPECT_TRUE(f.Hidden());
    EXPECT_TRUE(f.Archive());
    EXPECT_FALSE(f.System());
    char buf[32] = {};
    ASSERT_GT(::getxattr(native(p).constData(), "user.DOSATTRIB", buf, sizeof buf - 1), 0);
    EXPECT_STREQ(buf, "0x22");
    ASSERT_TRUE(f.setHidden(false));
    ASSERT_TRUE(f.setSystem(true));
    EXPECT_FALSE(f.Hidden());
    EXPECT_TRUE(f.System());
    EXPECT_TRUE(f.Archive());

    // What Samba writes: a trailing NUL. Its read-only bit does not count:
    // the mode bits alone say that, so the ReadOnly let can always undo it.
    ASSERT_EQ(::setxattr(native(p).constData(), "user.DOSATTRIB", "0x7\0", 4, 0), 0);
    EXPECT_FALSE(f.ReadOnly());
    EXPECT_TRUE(f.Hidden());
    EXPECT_TRUE(f.System());
    EXPECT_FALSE(f.Archive());
}

} // namespace
