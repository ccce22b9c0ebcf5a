// The file object: existence, size, attributes and the parts of a name, for
// the kinds of thing a drop can deliver.
#include "services/clsFile.h"
#include "support/Entries.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace dm;
using namespace dm::test;

namespace {

QString in(const QString& dir, const char* name) { return dir + u'/' + QLatin1String(name); }

QString plain(const QString& dir, const char* name, int size, mode_t mode = 0644)
{
    return makeFile(in(dir, name), QByteArray(size, 'x'), mode);
}

TEST(FileObject, KindsOfPath)
{
    constexpr int R = clsFile::AttrReadOnly, H = clsFile::AttrHidden, S = clsFile::AttrSystem, A = clsFile::AttrArchive;
    // size -1: not Enabled, and so a Directory as a drop sees it.
    const struct { const char* name; std::function<QString(const QString& d)> make; int size, attrs; } rows[] = {
        {"regular file", [](const QString& d) { return plain(d, "a.txt", 42); }, 42, 0},
        {"folder", [](const QString& d) { return d; }, -1, 0},
        {"file with slash", [](const QString& d) { return plain(d, "s.txt", 3) + u'/'; }, -1, 0},
        {"missing", [](const QString& d) { return in(d, "nothing.txt"); }, -1, 0},
        {"dangling link", [](const QString& d) { return makeLink(in(d, "gone"), in(d, "l")); }, -1, 0},
        {"link to file", [](const QString& d) { return makeLink(plain(d, "t", 7), in(d, "l")); }, 7, 0},
        {"dot file", [](const QString& d) { return plain(d, ".hidden", 5); }, 5, H},
        // Root may write anything; the owner's write bit still says read-only.
        {"read-only file", [](const QString& d) { return plain(d, "ro.txt", 5, 0444); }, 5, R},
        {"owner may not write", [](const QString& d) { return plain(d, "ro.txt", 5, 0466); }, 5, R},
        // Root may remove it from /dev; anyone else may not.
        {"device", [](const QString&) { return QStringLiteral("/dev/null"); }, 0, ::geteuid() != 0 ? S | R : S},
        {"FIFO without writer",
         [](const QString& d) { return ::mkfifo(native(in(d, "p")).constData(), 0644) ? QString() : in(d, "p"); }, 0, S},
        {"file in a folder nobody may write",
         [](const QString& d) {
             const QString p = plain(d, "x.txt", 9);
             EXPECT_EQ(::chmod(native(d).constData(), 0555), 0);
             return p;
         },
         9, R},
    };
    for (const auto& row : rows) {
        QTemporaryDir dir;
        clsFile f = fileAt(row.make(dir.path()));
        EXPECT_EQ(f.Enabled(), row.size >= 0) << row.name;
        EXPECT_EQ(f.Size(), row.size) << row.name;
        EXPECT_EQ(f.Directory(), row.size < 0) << row.name;
        const int attrs = (f.ReadOnly() ? R : 0) | (f.Hidden() ? H : 0) | (f.System() ? S : 0) | (f.Archive() ? A : 0);
        EXPECT_EQ(attrs, row.attrs) << row.name;
        // Lets the folder be cleaned up.
        ::chmod(native(dir.path()).constData(), 0700);
    }
}

// Root may read and remove anything, so these run as nobody: in a sticky
// folder (/tmp, shared folders) only the entry's or the folder's owner may
// remove an entry, so another's file there is read-only, writable or not.
TEST(FileObject, WhatAnOrdinaryUserMayNotReadOrRemove)
{
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root, to hand files to another user, and setpriv";
    QTemporaryDir dir;
    makeDir(dir.path());
    const QString sticky = makeDir(dir.path() + QStringLiteral("/shared"), 01777);
    // enabledAndReadOnly: 2 for Enabled, 1 for ReadOnly.
    const struct { const char* name; mode_t mode; uid_t owner; int enabledAndReadOnly; } rows[] = {
        {"unreadable.txt", 0600, 0, 0}, {"another's.txt", 0666, 0, 3}, {"own.txt", 0666, ordinaryUser(), 2}};
    for (const auto& row : rows) {
        const QString path = plain(sticky, row.name, 3, row.mode);
        ASSERT_EQ(::chown(native(path).constData(), row.owner, 0), 0);
        const auto ask = [&](QString*) { return (fileAt(path).Enabled() ? 2 : 0) | (fileAt(path).ReadOnly() ? 1 : 0); };
        EXPECT_EQ(runAsOrdinaryUser(ask).code, row.enabledAndReadOnly) << row.name;
    }
    // The command-line tool says why it cannot take the unreadable one.
    const ProcessResult r = runProgram(QStringLiteral("/usr/bin/setpriv"),
        {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
         QStringLiteral(DUSTMAW_CLI), QStringLiteral("inspect"), QStringLiteral("--json"),
         sticky + QStringLiteral("/unreadable.txt")});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("\"error\":\"cannot be read")) << r.out.toStdString();
}

TEST(FileObject, PartsOfTheName)
{
    QTemporaryDir dir;
    const QString d = dir.path();
    writeFileOfSize(d + QStringLiteral("/file.txt"), 1);
    const struct { QString path; const char* extension; QString shortName, longPath; } rows[] = {
        {d + QStringLiteral("/file.txt"), "TXT", QStringLiteral("file"), d + u'/'},
        {QStringLiteral("/a/archive.tar.gz"), "GZ", QStringLiteral("archive.tar"), QStringLiteral("/a/archive.tar.gz")},
        {QStringLiteral("/dir.d/file"), "", QStringLiteral("file"), QStringLiteral("/dir.d/file")},
        {QStringLiteral("/a/b."), "", QStringLiteral("b"), QStringLiteral("/a/b.")},
        {QStringLiteral("/d/file.TxT"), "TXT", QStringLiteral("file"), QStringLiteral("/d/file.TxT")},
        {QStringLiteral("/d/.bashrc"), "BASHRC", QString(), QStringLiteral("/d/.bashrc")},
        {QStringLiteral("/d/メモ.テキスト"), "テキスト", QStringLiteral("メモ"), QStringLiteral("/d/メモ.テキスト")},
        {d + QStringLiteral("/."), "", QString(), d + QStringLiteral("/.")},
        {d + u'/', "", QString(), d + u'/'},
    };
    for (const auto& row : rows) {
        clsFile f = fileAt(row.path);
        EXPECT_EQ(f.Extension(), QString::fromUtf8(row.extension)) << row.path.toStdString();
        EXPECT_EQ(f.ShortFileName(), row.shortName) << row.path.toStdString();
        EXPECT_EQ(f.LongPathName(), row.longPath) << row.path.toStdString();
    }
}

TEST(FileObject, ReadOnlyLet)
{
    QTemporaryDir dir;
    const struct { mode_t before; bool value; mode_t after; } rows[] = {
        {0664, true, 0444}, {0644, false, 0644}, {0444, false, 0644}, {0400, true, 0400}, {0460, false, 0660}};
    for (const auto& row : rows) {
        clsFile f = fileAt(plain(dir.path(), "f.txt", 1, row.before));
        EXPECT_TRUE(f.setReadOnly(row.value)) << f.errorString().toStdString();
        struct stat st {};
        ASSERT_EQ(::stat(native(f.FileName()).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, row.after) << std::oct << row.before;
        EXPECT_EQ(f.ReadOnly(), (row.after & S_IWUSR) == 0) << std::oct << row.before;
    }
    // Nothing there: nothing to do, and nothing fails.
    EXPECT_TRUE(fileAt(dir.path() + QStringLiteral("/missing")).setReadOnly(true));
}

TEST(FileObject, DosAttributesLiveInAnExtendedAttribute)
{
    QTemporaryDir dir;
    clsFile f = fileAt(plain(dir.path(), "plain.txt", 3));
    const QByteArray p = native(f.FileName());
    if (::setxattr(p.constData(), "user.dustmaw-probe", "1", 1, 0) != 0)
        GTEST_SKIP() << "no user extended attributes on this file system";
    ASSERT_TRUE(f.setHidden(true)) << f.errorString().toStdString();
    ASSERT_TRUE(f.setArchive(true));
    EXPECT_TRUE(f.Hidden() && f.Archive() && !f.System());
    char buf[32] = {};
    ASSERT_GT(::getxattr(p.constData(), "user.DOSATTRIB", buf, sizeof buf - 1), 0);
    EXPECT_STREQ(buf, "0x22");
    ASSERT_TRUE(f.setHidden(false));
    ASSERT_TRUE(f.setSystem(true));
    EXPECT_TRUE(!f.Hidden() && f.Archive() && f.System());

    // What Samba writes: a trailing NUL. Its read-only bit does not count:
    // the mode bits alone say that, so the ReadOnly let can always undo it.
    ASSERT_EQ(::setxattr(p.constData(), "user.DOSATTRIB", "0x7\0", 4, 0), 0);
    EXPECT_TRUE(!f.ReadOnly() && f.Hidden() && f.System() && !f.Archive());
}

} // namespace
