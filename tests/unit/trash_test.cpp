// Sending files to the trash and deleting them: where they end up, what the
// trash records about them, what happens to symbolic links, and that a refusal
// leaves the file where it was.
#include "services/Trash.h"
#include "services/clsFile.h"
#include "support/Entries.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sys/stat.h>
#include <utility>
#include <vector>

using namespace dm;
using namespace dm::test;

namespace {

using Disposal = clsFile::Disposal;

// GLib reads HOME and XDG_DATA_HOME once per process, so all tests of a run
// share one home, set up before the first GIO call.
QString home()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        ::chmod(native(dir.path()).constData(), 0755);
        qputenv("HOME", native(makeDir(dir.path() + QStringLiteral("/home"))));
        qputenv("XDG_DATA_HOME", native(dir.path() + QStringLiteral("/home/.local/share")));
        return dir.path() + QStringLiteral("/home");
    }();
    return path;
}

class TrashAndDelete : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Never let a test reach the user's real trash.
        ASSERT_EQ(homeTrashPath(), trash());
        resetTrash();
        ASSERT_TRUE(m_work.isValid());
        makeDir(m_work.path());
    }

    // Starts without a data folder, as on a fresh account.
    static void resetTrash() { ASSERT_TRUE(QDir(home() + QStringLiteral("/.local")).removeRecursively()); }
    static QString dataHome() { return home() + QStringLiteral("/.local/share"); }
    static QString trash(const QString& sub = {}) { return dataHome() + QStringLiteral("/Trash") + sub; }
    [[nodiscard]] QString work(const QString& name) const { return m_work.filePath(name); }

private:
    QTemporaryDir m_work{home() + QStringLiteral("/work-XXXXXX")};
};

TEST_F(TrashAndDelete, EveryCopyLandsInTheTrashWithItsOrigin)
{
    std::vector<std::pair<QByteArray, QByteArray>> expected, found;
    for (const char* name : {"enemy.txt", "with space & 100%#?.dmf", "日本語 ä.bin", ".hidden"}) {
        // One name from two folders, and the first path again once re-created.
        for (const char* folder : {"a/", "b/", "a/"}) {
            const QString path = makeDir(work(QString::fromUtf8(folder))) + QString::fromUtf8(name);
            const QByteArray contents = folder + QByteArray::number(expected.size());
            clsFile f = fileAt(makeFile(path, contents));
            ASSERT_EQ(f.Trash(), Disposal::Done) << f.errorString().toStdString();
            EXPECT_TRUE(f.errorString().isEmpty());
            EXPECT_EQ(entryType(path), 0U) << name;
            expected.emplace_back(native(path), contents);
        }
    }
    // Each file can be put back where it came from.
    for (const QString& name : QDir(trash(QStringLiteral("/files"))).entryList(QDir::Files | QDir::Hidden)) {
        const QByteArray info = readFile(trash(QStringLiteral("/info/")) + name + QStringLiteral(".trashinfo"));
        const qsizetype at = info.indexOf("\nPath=") + 6;
        found.emplace_back(QByteArray::fromPercentEncoding(info.mid(at, info.indexOf('\n', at) - at)),
                           readFile(trash(QStringLiteral("/files/")) + name));
    }
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected);
}

TEST_F(TrashAndDelete, ALinkGoesItsTargetStays)
{
    const struct { const char* name; bool toTrash, dangling; } rows[] = {
        {"trash link to file", true, false}, {"delete link to file", false, false},
        {"trash dangling link", true, true}, {"delete dangling link", false, true}};
    for (const auto& row : rows) {
        const QString name = QString::fromLatin1(row.name);
        const QString target = work(name + QStringLiteral(" target"));
        const QString link = makeLink(target, work(name));
        if (!row.dangling)
            makeFile(target, "the target stays");
        // The file object needs a readable target; the free functions take any entry.
        clsFile f = fileAt(link);
        QString error;
        const bool done = row.dangling ? (row.toTrash ? moveToTrash(link, &error) : deleteFile(link, &error))
                                       : (row.toTrash ? f.Trash() : f.Delete()) == Disposal::Done;
        ASSERT_TRUE(done) << row.name << error.toStdString() << f.errorString().toStdString();
        EXPECT_EQ(entryType(link), 0U) << row.name;
        EXPECT_EQ(readFile(target), row.dangling ? QByteArray() : QByteArray("the target stays")) << row.name;
        const QString inTrash = trash(QStringLiteral("/files/")) + name;
        EXPECT_EQ(QFile::symLinkTarget(inTrash), row.toTrash ? target : QString()) << row.name;
    }
}

// Nothing changes for a name that leads to no file, nor for a path the
// free functions refuse: GIO resolves "." and ".." by text and drops a
// trailing slash, so through a symbolic link such a path could name another
// entry than the kernel's.
TEST_F(TrashAndDelete, NothingIsTouched)
{
    const struct {
        const char* name;
        bool viaObject; // else through the free functions
        std::function<QString(const QString& d)> make; // the path to give
    } rows[] = {
        {"missing file", true, [](const QString& d) { return d + QStringLiteral("/gone.txt"); }},
        {"folder", true, [](const QString& d) { return d + QStringLiteral("/real"); }},
        {"file named with a trailing slash", true, [](const QString& d) { return d + QStringLiteral("/f.txt/"); }},
        {"dangling link", true,
         [](const QString& d) { return makeLink(d + QStringLiteral("/gone"), d + QStringLiteral("/ln")); }},
        {"relative path", false, [](const QString&) { return QStringLiteral("f.txt"); }},
        // The kernel reads d/up/../f.txt as d/real/f.txt, GIO as d/f.txt.
        {"dot-dot after a link", false,
         [](const QString& d) {
             return makeLink(d + QStringLiteral("/real/in"), d + QStringLiteral("/up")) + QStringLiteral("/../f.txt");
         }},
        {"dot", false, [](const QString& d) { return d + QStringLiteral("/./f.txt"); }},
        {"trailing slash on a link to a folder", false,
         [](const QString& d) { return makeLink(d + QStringLiteral("/real"), d + QStringLiteral("/ln")) + u'/'; }},
        // The NUL would cut the name short at the system call.
        {"NUL inside", false, [](const QString& d) { return d + QStringLiteral("/f.txt") + QChar(u'\0') + u'x'; }},
    };
    for (const auto& row : rows) {
        for (const bool toTrash : {true, false}) {
            const std::string what = std::string(row.name) + (toTrash ? ", trash" : ", delete");
            const QString dir = work(QString::fromStdString(what));
            makeDir(dir + QStringLiteral("/real/in"));
            makeFile(dir + QStringLiteral("/f.txt"), "outer");
            makeFile(dir + QStringLiteral("/real/f.txt"), "inner");
            const QString path = row.make(dir);
            const QStringList before = tree(dir);
            // A relative name is looked up from the working folder.
            const QString oldCwd = QDir::currentPath();
            ASSERT_TRUE(QDir::setCurrent(dir));
            // The file object finds nothing there; the free functions refuse and say why.
            clsFile f = fileAt(path);
            QString error;
            if (row.viaObject)
                EXPECT_EQ(toTrash ? f.Trash() : f.Delete(), Disposal::NothingThere) << what;
            else
                EXPECT_FALSE(toTrash ? moveToTrash(path, &error) : deleteFile(path, &error)) << what;
            EXPECT_EQ(f.errorString().isEmpty() && error.isEmpty(), row.viaObject) << what;
            ASSERT_TRUE(QDir::setCurrent(oldCwd));
            EXPECT_EQ(tree(dir), before) << what;
            EXPECT_EQ(entryType(trash()), 0U) << what;
        }
    }
}

// As nobody, in that user's own folders: the file's folder, or the trash, refuses.
TEST_F(TrashAndDelete, RefusedFileStaysWhereItWas)
{
    const struct { const char* name; bool toTrash, trashIsAFile; } rows[] = {
        {"trash where the trash folder is a file", true, true},
        {"trash from a folder the user cannot write", true, false},
        {"delete from a folder the user cannot write", false, false}};
    for (const auto& row : rows) {
        resetTrash();
        const QString dir = work(QString::fromLatin1(row.name));
        const QString path = makeFile(makeDir(dir) + QStringLiteral("/victim.txt"), "still here");
        for (const QString& p : {dir, home() + QStringLiteral("/.local"), dataHome(), trash(),
                                 trash(QStringLiteral("/files")), trash(QStringLiteral("/info"))})
            ASSERT_EQ(::chown(native(makeDir(p, 0700)).constData(), ordinaryUser(), gid_t(-1)), 0);
        if (!row.trashIsAFile)
            ASSERT_EQ(::chmod(native(dir).constData(), 0500), 0);
        else if (QDir(trash()).removeRecursively())
            writeFile(trash(), "in the way");
        const ChildOutcome outcome = runAsOrdinaryUser([&](QString* error) {
            clsFile f = fileAt(path);
            const Disposal d = row.toTrash ? f.Trash() : f.Delete();
            *error = f.errorString();
            return static_cast<int>(d);
        });
        EXPECT_EQ(outcome.code, static_cast<int>(Disposal::Refused)) << row.name << outcome.text.toStdString();
        EXPECT_FALSE(outcome.text.isEmpty()) << row.name;
        EXPECT_EQ(readFile(path), QByteArray("still here")) << row.name;
        // Nothing went into the trash, nor was the file in its way touched.
        const QStringList folders{trash(QStringLiteral("/files")), trash(QStringLiteral("/info"))};
        EXPECT_EQ(entryType(trash()), row.trashIsAFile ? S_IFREG : S_IFDIR) << row.name;
        EXPECT_EQ(tree(trash()), row.trashIsAFile ? QStringList() : folders) << row.name;
        // Lets the folder be cleaned up when the tests run unprivileged.
        ::chmod(native(dir).constData(), 0700);
    }
}

} // namespace
