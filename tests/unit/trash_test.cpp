// Sending files to the trash and deleting them: where they end up, what the
// trash records about them, what happens to symbolic links, and that a refusal
// leaves the file where it was.
#include "services/Trash.h"
#include "services/clsFile.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace dm;
using namespace dm::test;

namespace {

using Disposal = clsFile::Disposal;

QByteArray native(const QString& s) { return QFile::encodeName(s); }

// The entry's type, links not followed; 0 when there is none.
mode_t entryType(const QString& path)
{
    struct stat st {};
    return ::lstat(native(path).constData(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

QByteArray linkText(const QString& path)
{
    char buf[4096];
    const ssize_t n = ::readlink(native(path).constData(), buf, sizeof buf);
    return n < 0 ? QByteArray() : QByteArray(buf, static_cast<qsizetype>(n));
}

void makeLink(const QString& target, const QString& link)
{
    ASSERT_EQ(::symlink(native(target).constData(), native(link).constData()), 0) << link.toStdString();
}

void makeDir(const QString& path, mode_t mode = 0755)
{
    ASSERT_TRUE(QDir().mkpath(path)) << path.toStdString();
    ASSERT_EQ(::chmod(native(path).constData(), mode), 0);
}

// A file an unprivileged user may read, whatever the umask.
void makeFile(const QString& path, const QByteArray& contents)
{
    writeFile(path, contents);
    ASSERT_EQ(::chmod(native(path).constData(), 0644), 0);
}

// GLib reads HOME and XDG_DATA_HOME once per process, so all tests of a run
// share one root, set up before the first GIO call.
struct TrashRoot {
    QTemporaryDir dir;
    QString home = dir.path() + QStringLiteral("/home");
    QString dataHome = home + QStringLiteral("/.local/share");
    TrashRoot()
    {
        // An unprivileged child process must be able to reach the files.
        ::chmod(native(dir.path()).constData(), 0755);
        QDir().mkpath(home);
        ::chmod(native(home).constData(), 0755);
        qputenv("HOME", native(home));
        qputenv("XDG_DATA_HOME", native(dataHome));
    }
};

TrashRoot& trashRoot()
{
    static TrashRoot root;
    return root;
}

// The user a refusal test runs as: root's privileges would override the mode
// bits, so as root the operation runs as nobody.
uid_t refusedUser() { return ::geteuid() == 0 ? 65534 : ::geteuid(); }

struct ChildOutcome {
    int code = -1;
    QString error;
};

// Runs `op` in a child process as refusedUser(); its Disposal is the exit
// code, its error text comes back through a pipe.
ChildOutcome runAsRefusedUser(const std::function<Disposal(QString*)>& op)
{
    constexpr int kCannotDrop = 100;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::geteuid() == 0) {
            const gid_t gid = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0
                || ::setresuid(refusedUser(), refusedUser(), refusedUser()) != 0)
                ::_exit(kCannotDrop);
        }
        QString error;
        const Disposal d = op(&error);
        const QByteArray text = error.toUtf8();
        [[maybe_unused]] const ssize_t written = ::write(fds[1], text.constData(), static_cast<size_t>(text.size()));
        // _exit: the child must not run the parent's exit handlers, which would
        // remove the shared test folder.
        ::_exit(static_cast<int>(d));
    }
    ::close(fds[1]);
    QByteArray text;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        text.append(buf, static_cast<qsizetype>(n));
    ::close(fds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return {};
    ChildOutcome out;
    out.code = WEXITSTATUS(status) == kCannotDrop ? -1 : WEXITSTATUS(status);
    out.error = QString::fromUtf8(text);
    return out;
}

struct TrashInfo {
    QList<QByteArray> lines;
    QByteArray path;
    QByteArray date;
};

TrashInfo readTrashInfo(const QString& file)
{
    TrashInfo info;
    info.lines = readFile(file).split('\n');
    for (const QByteArray& line : std::as_const(info.lines)) {
        if (line.startsWith("Path="))
            info.path = line.mid(5);
        else if (line.startsWith("DeletionDate="))
            info.date = line.mid(13);
    }
    return info;
}

class TrashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TrashRoot& root = trashRoot();
        ASSERT_TRUE(root.dir.isValid());
        // Never let a test reach the user's real trash.
        ASSERT_EQ(homeTrashPath(), root.dataHome + QStringLiteral("/Trash"));
        resetTrash();
        m_work = std::make_unique<QTemporaryDir>(root.dir.path() + QStringLiteral("/work-XXXXXX"));
        ASSERT_TRUE(m_work->isValid());
        ASSERT_EQ(::chmod(native(m_work->path()).constData(), 0755), 0);
    }

    // Starts each case without a data folder, as on a fresh account.
    static void resetTrash()
    {
        ASSERT_TRUE(QDir(trashRoot().home + QStringLiteral("/.local")).removeRecursively());
    }

    [[nodiscard]] QString work(const QString& name) const { return m_work->filePath(name); }
    static QString trashDir() { return trashRoot().dataHome + QStringLiteral("/Trash"); }
    static QString trashFiles() { return trashDir() + QStringLiteral("/files"); }
    static QString trashInfoFile(const QString& name) { return trashDir() + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo"); }
    static QStringList entries(const QString& dir)
    {
        return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    }

    // The trash record says where the entry came from, URL-escaped, and when
    // it was trashed, local time to the second.
    static void expectTrashInfo(const QString& name, const QString& original, const QDateTime& before, const QDateTime& after)
    {
        SCOPED_TRACE(name.toStdString());
        const TrashInfo info = readTrashInfo(trashInfoFile(name));
        ASSERT_FALSE(info.lines.isEmpty());
        EXPECT_EQ(info.lines.first(), QByteArray("[Trash Info]"));
        for (const char c : info.path)
            EXPECT_TRUE(QByteArrayView("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~/%").contains(c))
                << "unescaped character '" << c << "' in Path=" << info.path.toStdString();
        EXPECT_EQ(QByteArray::fromPercentEncoding(info.path), native(original));
        const QDateTime when = QDateTime::fromString(QString::fromLatin1(info.date), QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
        ASSERT_TRUE(when.isValid()) << "DeletionDate=" << info.date.toStdString();
        EXPECT_EQ(when.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toLatin1(), info.date);
        EXPECT_LE(before, when);
        EXPECT_LE(when, after);
    }

    // Every entry under dir, links not followed.
    static QStringList tree(const QString& dir)
    {
        QStringList out;
        QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            out << it.next();
        out.sort();
        return out;
    }

    static QDateTime nowToTheSecond()
    {
        QDateTime t = QDateTime::currentDateTime();
        return t.addMSecs(-t.time().msec());
    }

private:
    std::unique_ptr<QTemporaryDir> m_work;
};

using TrashHome = TrashTest;
using TrashDeleteLinks = TrashTest;
using TrashDeleteNothingThere = TrashTest;
using TrashDeletePaths = TrashTest;
using TrashDeleteRefused = TrashTest;

TEST_F(TrashHome, FileMovesThereAndItsOriginIsRecorded)
{
    const QString names[] = {
        QStringLiteral("enemy.txt"),
        QStringLiteral("with space & 100%#?.dmf"),
        QStringLiteral("日本語 ä.bin"),
        QStringLiteral(".hidden"),
    };
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString path = work(name);
        const QByteArray contents = "contents of " + name.toUtf8();
        makeFile(path, contents);
        const QDateTime before = nowToTheSecond();
        clsFile f;
        f.setFileName(path);
        ASSERT_EQ(f.Trash(), Disposal::Done) << f.errorString().toStdString();
        const QDateTime after = QDateTime::currentDateTime();
        EXPECT_TRUE(f.errorString().isEmpty());
        EXPECT_EQ(entryType(path), 0U);
        EXPECT_EQ(readFile(trashFiles() + QLatin1Char('/') + name), contents);
        expectTrashInfo(name, path, before, after);
    }
    EXPECT_EQ(entries(trashFiles()).size(), qsizetype(std::size(names)));
}

TEST_F(TrashHome, SameNameKeepsEveryCopy)
{
    makeDir(work(QStringLiteral("a")));
    makeDir(work(QStringLiteral("b")));
    const QString first = work(QStringLiteral("a/clash.txt"));
    const QString second = work(QStringLiteral("b/clash.txt"));
    // The same path trashed again after being re-created.
    const std::pair<QString, QByteArray> trashed[] = {{first, "one"}, {second, "two"}, {first, "three"}};
    std::vector<std::pair<QByteArray, QByteArray>> expected;
    for (const auto& [path, contents] : trashed) {
        makeFile(path, contents);
        ASSERT_TRUE(moveToTrash(path));
        expected.emplace_back(native(path), contents);
    }

    const QStringList names = entries(trashFiles());
    ASSERT_EQ(names.size(), qsizetype(std::size(trashed))) << names.join(QLatin1Char(' ')).toStdString();
    std::vector<std::pair<QByteArray, QByteArray>> found;
    for (const QString& name : names) {
        const TrashInfo info = readTrashInfo(trashInfoFile(name));
        found.emplace_back(QByteArray::fromPercentEncoding(info.path), readFile(trashFiles() + QLatin1Char('/') + name));
    }
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected);
}

TEST_F(TrashDeleteLinks, TheLinkGoesItsTargetStays)
{
    struct Case {
        const char* what;
        bool trash;
        bool dangling;
        // Through the file object (which needs a readable target) or the
        // free function (which takes any entry).
        bool throughObject;
    };
    const Case cases[] = {
        {"trash link to file", true, false, true},
        {"delete link to file", false, false, true},
        {"trash dangling link directly", true, true, false},
        {"delete dangling link directly", false, true, false},
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString dir = work(QString::number(++row));
        makeDir(dir + QStringLiteral("/targets"));
        makeDir(dir + QStringLiteral("/links"));
        const QString target = dir + QStringLiteral("/targets/target.txt");
        const QByteArray contents = "the target must survive";
        if (!c.dangling)
            makeFile(target, contents);
        const QString linkName = QStringLiteral("link-%1.txt").arg(row);
        const QString link = dir + QStringLiteral("/links/") + linkName;
        makeLink(target, link);

        if (c.throughObject) {
            clsFile f;
            f.setFileName(link);
            ASSERT_EQ(c.trash ? f.Trash() : f.Delete(), Disposal::Done) << f.errorString().toStdString();
        } else {
            QString error;
            ASSERT_TRUE(c.trash ? moveToTrash(link, &error) : deleteFile(link, &error)) << error.toStdString();
        }

        EXPECT_EQ(entryType(link), 0U);
        if (!c.dangling) {
            EXPECT_EQ(entryType(target), S_IFREG);
            EXPECT_EQ(readFile(target), contents);
        }
        const QString inTrash = trashFiles() + QLatin1Char('/') + linkName;
        if (c.trash) {
            EXPECT_EQ(entryType(inTrash), S_IFLNK);
            EXPECT_EQ(linkText(inTrash), native(target));
        } else {
            EXPECT_EQ(entryType(inTrash), 0U);
        }
    }
}

TEST_F(TrashDeleteNothingThere, NothingIsTouched)
{
    struct Case {
        const char* what;
        // Makes the thing; returns the name to give and the entry that must stay.
        std::function<std::pair<QString, QString>(const QString& dir)> make;
    };
    const Case cases[] = {
        {"missing file", [](const QString& d) { return std::pair{d + QStringLiteral("/gone.txt"), QString()}; }},
        {"empty name", [](const QString&) { return std::pair{QString(), QString()}; }},
        {"folder", [](const QString& d) { return std::pair{d, d}; }},
        {"file named with a trailing slash",
         [](const QString& d) {
             const QString p = d + QStringLiteral("/f.txt");
             makeFile(p, "x");
             return std::pair{p + QLatin1Char('/'), p};
         }},
        {"dangling link",
         [](const QString& d) {
             const QString p = d + QStringLiteral("/dangling.txt");
             makeLink(d + QStringLiteral("/gone.txt"), p);
             return std::pair{p, p};
         }},
        {"link to folder",
         [](const QString& d) {
             const QString p = d + QStringLiteral("/folder-link");
             makeLink(d, p);
             return std::pair{p, p};
         }},
    };
    int row = 0;
    for (const Case& c : cases) {
        for (const bool trash : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (trash ? " / Trash" : " / Delete"));
            const QString dir = work(QString::number(++row));
            makeDir(dir);
            const auto [name, stays] = c.make(dir);
            const mode_t typeBefore = entryType(stays);
            clsFile f;
            f.setFileName(name);
            EXPECT_EQ(trash ? f.Trash() : f.Delete(), Disposal::NothingThere);
            EXPECT_TRUE(f.errorString().isEmpty());
            EXPECT_EQ(entryType(stays), typeBefore);
            EXPECT_EQ(entryType(trashDir()), 0U);
        }
    }
}

// GIO resolves "." and ".." by text and drops a trailing slash; through a
// symbolic link that names another entry than the kernel's, so such paths
// are refused.
TEST_F(TrashDeletePaths, PathsThatCouldNameAnotherEntryAreRefused)
{
    struct Case {
        const char* what;
        // Makes the entries; returns the path to give.
        std::function<QString(const QString& dir)> make;
    };
    const Case cases[] = {
        {"empty", [](const QString&) { return QString(); }},
        {"relative", [](const QString&) { return QStringLiteral("f.txt"); }},
        {"dot-dot after a link",
         [](const QString& d) {
             // The kernel reads d/up/../f.txt as d/real/f.txt, GIO as d/f.txt.
             makeDir(d + QStringLiteral("/real/inner"));
             makeLink(d + QStringLiteral("/real/inner"), d + QStringLiteral("/up"));
             return d + QStringLiteral("/up/../f.txt");
         }},
        {"dot", [](const QString& d) { return d + QStringLiteral("/./f.txt"); }},
        {"trailing slash on a link to a folder",
         [](const QString& d) {
             makeLink(d + QStringLiteral("/real"), d + QStringLiteral("/real-link"));
             return d + QStringLiteral("/real-link/");
         }},
        // The NUL would cut the name short at the system call.
        {"NUL inside", [](const QString& d) { return d + QStringLiteral("/f.txt") + QChar(u'\0') + QStringLiteral("x"); }},
    };
    int row = 0;
    for (const Case& c : cases) {
        for (const bool trash : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (trash ? " / moveToTrash" : " / deleteFile"));
            const QString dir = work(QString::number(++row));
            makeDir(dir + QStringLiteral("/real"));
            makeFile(dir + QStringLiteral("/f.txt"), "outer");
            makeFile(dir + QStringLiteral("/real/f.txt"), "inner");
            const QString path = c.make(dir);
            const QStringList before = tree(dir);
            // A relative name is looked up from the working folder.
            const QString oldCwd = QDir::currentPath();
            ASSERT_TRUE(QDir::setCurrent(dir));
            QString error;
            const bool done = trash ? moveToTrash(path, &error) : deleteFile(path, &error);
            ASSERT_TRUE(QDir::setCurrent(oldCwd));
            EXPECT_FALSE(done);
            EXPECT_FALSE(error.isEmpty());
            EXPECT_EQ(tree(dir), before);
            EXPECT_EQ(readFile(dir + QStringLiteral("/f.txt")), QByteArray("outer"));
            EXPECT_EQ(readFile(dir + QStringLiteral("/real/f.txt")), QByteArray("inner"));
            EXPECT_EQ(entryType(trashDir()), 0U);
        }
    }
}

TEST_F(TrashDeleteRefused, FileStaysWhereItWas)
{
    struct Case {
        const char* what;
        bool trash;
        // Prepares the refusal around the folder that holds the file.
        std::function<void(const QString& dir)> prepare;
        // Runs as refusedUser() rather than in this process.
        bool unprivileged;
        // A file stands where the trash folder belongs.
        bool trashBlocked = false;
    };
    const auto readOnlyFolder = [](const QString& d) { ASSERT_EQ(::chmod(native(d).constData(), 0555), 0); };
    const Case cases[] = {
        {"trash where the trash folder is a file", true,
         [](const QString&) {
             makeDir(trashRoot().dataHome, 0700);
             writeFile(trashDir(), "in the way");
         },
         false, true},
        {"trash from a folder the user cannot write", true,
         [&](const QString& d) {
             // The trash itself is usable, so only the folder refuses.
             const QString chain[] = {trashRoot().home + QStringLiteral("/.local"), trashRoot().dataHome, trashDir(),
                 trashFiles(), trashDir() + QStringLiteral("/info")};
             for (const QString& p : chain) {
                 makeDir(p, 0700);
                 ASSERT_EQ(::chown(native(p).constData(), refusedUser(), static_cast<gid_t>(-1)), 0);
             }
             readOnlyFolder(d);
         },
         true},
        {"delete from a folder the user cannot write", false, readOnlyFolder, true},
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        resetTrash();
        const QString dir = work(QString::number(++row));
        makeDir(dir);
        const QString path = dir + QStringLiteral("/victim.txt");
        makeFile(path, "still here");
        c.prepare(dir);
        if (::testing::Test::HasFatalFailure())
            return;

        const auto dispose = [&](QString* error) {
            clsFile f;
            f.setFileName(path);
            const Disposal d = c.trash ? f.Trash() : f.Delete();
            *error = f.errorString();
            return d;
        };
        ChildOutcome outcome;
        if (c.unprivileged) {
            outcome = runAsRefusedUser(dispose);
        } else {
            outcome.code = static_cast<int>(dispose(&outcome.error));
        }
        EXPECT_EQ(outcome.code, static_cast<int>(Disposal::Refused)) << outcome.error.toStdString();
        EXPECT_FALSE(outcome.error.isEmpty());
        EXPECT_EQ(readFile(path), QByteArray("still here"));
        if (c.trashBlocked) {
            EXPECT_EQ(entryType(trashDir()), S_IFREG);
            EXPECT_EQ(readFile(trashDir()), QByteArray("in the way"));
        } else {
            EXPECT_TRUE(entries(trashFiles()).isEmpty());
            EXPECT_TRUE(entries(trashDir() + QStringLiteral("/info")).isEmpty());
        }
        // Lets the folder be cleaned up when the tests run unprivileged.
        ::chmod(native(dir).constData(), 0755);
    }
}

} // namespace
