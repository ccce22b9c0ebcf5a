// The file object: what it says of the kinds of thing a drop can deliver, of names, times and Windows version
// resources; copy, move and rename; and the trash and deletion that dispose of beaten enemies' files.
#include "services/Trash.h"
#include "services/clsFile.h"
#include "support/TestSupport.h"

#include <QDirIterator>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace dm {
namespace {

using namespace test;
using Result = clsFile::Result;

clsFile fileAt(const QString& path) { clsFile f; f.setFileName(path); return f; }
QString in(const QString& dir, const char* name) { return dir + u'/' + QLatin1String(name); }
QString plain(const QString& d, const char* name, int size, mode_t mode = 0644)
{
    return makeFile(in(d, name), {size, 'x'}, mode);
}

constexpr int kRO = clsFile::AttrReadOnly, kHid = clsFile::AttrHidden, kSys = clsFile::AttrSystem,
              kArc = clsFile::AttrArchive;
int attrs(const clsFile& f) { return f.ReadOnly() * kRO | f.Hidden() * kHid | f.System() * kSys | f.Archive() * kArc; }
// What a restore must keep of an entry: kind and mode, size, modification time, bytes or link target.
QString facts(const QString& path)
{
    struct stat st {};
    return ::lstat(native(path).constData(), &st) != 0
               ? QString()
               : u"%1 %2 %3.%4 "_s.arg(st.st_mode, 0, 8).arg(st.st_size).arg(st.st_mtim.tv_sec).arg(st.st_mtim.tv_nsec)
                     + (S_ISLNK(st.st_mode) ? QFile::symLinkTarget(path) : QString::fromUtf8(readFile(path)));
}

// Runs a shell script as root with the system's tools on the path; false when it fails.
bool asRoot(const QString& script, const QStringList& args)
{
    const QStringList sh{u"-c"_s, u"PATH=$PATH:/usr/sbin:/sbin; "_s + script, u"sh"_s};
    return ::geteuid() == 0 && runProgram(u"sh"_s, sh + args).exitCode == 0;
}
// Root's privileges override the mode bits, so refusals are tried as nobody.
constexpr uid_t kNobody = 65534;
bool canDropToNobody() { return ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0; }
// GLib's local trash leaks its error texts when refused; leak checks of this program's own code run as root.
ProcessResult runCliAsNobody(const QStringList& args)
{
    const QString asan = u"ASAN_OPTIONS="_s + qEnvironmentVariable("ASAN_OPTIONS") + u":detect_leaks=0"_s;
    const QStringList nobody{u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, QStringLiteral(DUSTMAW_CLI)};
    return runProgram(u"/usr/bin/env"_s, QStringList{asan, u"/usr/bin/setpriv"_s} + nobody + args);
}

// Each test has a home and a trash of its own: GLib reads HOME once per process, and ctest runs each in its own.
class FileObject : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(homeTrashPath(), trash()); } // never the user's own
    [[nodiscard]] QString trash(const QString& sub = {}) const { return home.file(u"xdg/Trash"_s) + sub; }
    [[nodiscard]] QString work(const QString& name) const { return makeDir(home.file(u"work"_s)) + u'/' + name; }

    TempHome home{TempHome::OwnTrash};
    const QString a = home.file(u"a.txt"_s), b = makeFile(home.file(u"b.txt"_s), "beta");
    const QString folder = makeDir(home.file(u"folder"_s));
    const QStringList emptyTrash{trash(u"/files"_s), trash(u"/info"_s)};
};
using FileOperations = FileObject;
using TrashAndDelete = FileObject;

TEST_F(FileObject, KindsOfPath)
{
    const QString d = home.path(), samba = plain(d, "samba.txt", 3), fixed = plain(d, "immutable.txt", 5, 0666);
    // Samba and Wine keep the other attributes beside the file, ending in a NUL.
    const bool xattrs = ::setxattr(native(samba).constData(), "user.DOSATTRIB", "0x23\0", 5, 0) == 0;
    const bool immutable = asRoot(u"chattr +i \"$1\""_s, {fixed}); // not even root may write it
    // size -1: not Enabled, so a Directory as a drop sees it (the drop cases see folders, dot files, FIFOs, mode bits).
    const struct { const char* name; QString path; int size, attrs; } rows[] = {
        {"link to file", makeLink(plain(d, "t", 7), in(d, "l2")), 7, 0},
        {"dangling link", makeLink(in(d, "gone"), in(d, "l1")), -1, 0},
        {"device", u"/dev/null"_s, 0, ::geteuid() != 0 ? kSys | kRO : kSys}, // only root may remove it from /dev
        {"file in a folder nobody may write", plain(makeDir(in(d, "ro")), "x.txt", 9), 9, kRO},
        {"attributes from Samba", samba, 3, xattrs ? kHid | kArc : 0}, // its read-only bit does not count
        {"immutable file", fixed, 5, immutable ? kRO : 0}};
    chmodded(in(d, "ro"), 0555);
    for (const auto& row : rows) {
        const clsFile f = fileAt(row.path);
        EXPECT_EQ(std::tuple(f.Enabled(), f.Size(), f.Directory(), attrs(f)),
                  std::tuple(row.size >= 0, row.size, row.size < 0, row.attrs)) << row.name;
    }
    chmodded(in(d, "ro"), 0700); // lets the folders be cleaned up
    EXPECT_TRUE(!immutable || asRoot(u"chattr -i \"$1\""_s, {fixed}));
}

// Each let turns its attribute on (twice: the second writes nothing) and off, and no other. ReadOnly clears every
// write bit and gives the owner's back; the others live in Samba's attribute, which some file systems refuse.
TEST_F(FileObject, AttributeLets)
{
    const bool xattrs = ::setxattr(native(plain(home.path(), "x", 0)).constData(), "user.x", "1", 1, 0) == 0;
    const struct { const char* name; bool (clsFile::*let)(bool); int bit; } rows[] = {
        {"r", &clsFile::setReadOnly, kRO}, {"h", &clsFile::setHidden, kHid}, {".h", &clsFile::setHidden, kHid},
        {"s", &clsFile::setSystem, kSys}, {"a", &clsFile::setArchive, kArc}};
    for (const auto& row : rows) {
        clsFile f = fileAt(plain(home.path(), row.name, 3, 0664));
        const bool works = xattrs || row.bit == kRO;
        for (const bool value : {true, true, false}) {
            const bool done = (f.*row.let)(value);
            // A dot file stays hidden by its name.
            EXPECT_EQ(std::tuple(done, attrs(f), facts(f.FileName()).mid(3, 3)),
                      std::tuple(works, (works && value ? row.bit : 0) | (row.name[0] == '.' ? kHid : 0),
                                 row.bit != kRO ? u"664"_s : value ? u"444"_s : u"644"_s)) << row.name << value;
        }
    }
    EXPECT_TRUE(fileAt(a).setHidden(true) && !QFile::exists(a)); // nothing there, nothing made
}

// Another's file is read-only unless the kernel's reading of owner, group, others and access list lets this user
// write it; and in a sticky folder (/tmp, shared folders) only the entry's or the folder's owner may remove it.
TEST_F(FileObject, WhatAnOrdinaryUserMayNotReadOrRemove)
{
    if (!canDropToNobody())
        GTEST_SKIP() << "needs root, to hand files to another user, and setpriv";
    const QString folders[] = {makeDir(chmodded(home.path(), 0755) + u"/open"_s, 0777),
                               makeDir(home.file(u"shared"_s), 01777), makeDir(home.file(u"mine"_s), 01777)};
    ASSERT_EQ(::chown(native(folders[2]).constData(), kNobody, gid_t(-1)), 0); // open; sticky, root's; sticky, nobody's
    // An access list, little-endian: version 2; the owner rw-, nobody rw-, the group r--, the mask rw-, others r--.
    const QByteArray acl("\2\0\0\0" "\1\0\6\0\xFF\xFF\xFF\xFF" "\2\0\6\0\xFE\xFF\0\0" "\4\0\4\0\xFF\xFF\xFF\xFF"
                         "\x10\0\6\0\xFF\xFF\xFF\xFF" "\x20\0\4\0\xFF\xFF\xFF\xFF", 44);
    const struct { const char* name; int folder; mode_t mode; uid_t owner; gid_t group; bool acl, enabled, readOnly; }
        rows[] = {{"unreadable.txt", 1, 0600, 0, 0, false, false, false},
                  {"another's.txt", 1, 0666, 0, 0, false, true, true},
                  {"own.txt", 1, 0666, kNobody, 0, false, true, false},
                  {"another's in one's own.txt", 2, 0666, 0, 0, false, true, false},
                  {"another's, read by all.txt", 0, 0644, 0, 0, false, true, true},
                  {"others may.txt", 0, 0646, 0, 0, false, true, false},
                  // The group's bits decide for its members, also when the others' say more.
                  {"others may, not the group.txt", 0, 0646, 0, kNobody, false, true, true},
                  {"listed.txt", 0, 0644, 0, 0, true, true, false}};
    const auto json = [](const char* key, bool on) { return '"' + QByteArray(key) + "\":" + (on ? "true" : "false"); };
    for (const auto& row : rows) {
        const QString path = plain(folders[row.folder], row.name, 3, row.mode);
        ASSERT_EQ(::chown(native(path).constData(), row.owner, row.group), 0);
        if (row.acl && ::setxattr(native(path).constData(), "system.posix_acl_access", acl.constData(), 44, 0) != 0)
            GTEST_SKIP() << "no access lists here";
        const QByteArray seen = runCliAsNobody({u"info"_s, u"--json"_s, path}).out;
        EXPECT_TRUE(seen.contains(json("Enabled", row.enabled)) && seen.contains(json("ReadOnly", row.readOnly)))
            << row.name << ": " << seen.toStdString();
    }
    const QString entry = in(folders[2], "another's in one's own.txt");
    EXPECT_TRUE(runCliAsNobody({u"file"_s, u"delete"_s, entry}).exitCode == 0 && !QFileInfo::exists(entry))
        << "the folder's owner may remove another's entry";
}

// A file's times in the local zone, the weekday padded to eight columns, the epoch too.
TEST_F(FileObject, LocalTimes)
{
    const clsFile note = fileAt(makeFile(home.file(u"a.txt"_s), "note"));
    const ScopedEnv zone("TZ", QByteArray("JST-9"));
    const struct { time_t utc; const char* local; } times[] = {{0, "1970年1月1日 木曜日    9:0:0"},
        {931046703, "1999年7月4日 日曜日    9:5:3"}, {1797087599, "2026年12月12日 土曜日    23:59:59"}};
    for (const auto& row : times) {
        const timespec both[2] = {{row.utc, 0}, {row.utc, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, native(note.FileName()).constData(), both, 0), 0);
        EXPECT_EQ(QStringList({note.LastWriteTime(), note.LastAccessTime()}),
                  QStringList(2, QString::fromUtf8(row.local)));
    }
}

TEST_F(FileOperations, NothingIsReplacedAndAFolderReceives)
{
    const QString into = in(folder, "a.txt"), c = in(folder, "c.txt"), d = in(folder, "d.txt");
    const struct { const char* name; Result (clsFile::*op)(const QString&); QString to, lands; } rows[] = {
        {"copy onto a file", &clsFile::FileCopy, b, {}}, {"move onto a file", &clsFile::Move, b, {}},
        {"rename onto a file", &clsFile::Rename, b, {}}, {"rename onto a folder", &clsFile::Rename, folder, {}},
        {"copy into a folder", &clsFile::FileCopy, folder, into}, {"rename", &clsFile::Rename, c, c},
        {"move into a folder", &clsFile::Move, folder + u'/', into}, {"first move", &clsFile::FirstMove, d, d}};
    for (const auto& row : rows) {
        writeFile(a, "alpha");
        clsFile f = fileAt(a);
        const Result result = (f.*row.op)(row.to);
        const bool done = !row.lands.isEmpty(), stays = !done || row.op == &clsFile::FileCopy;
        EXPECT_EQ(std::tuple(result, f.FileName(), QFile::exists(a), readFile(b), f.errorString().isEmpty()),
                  std::tuple(done ? Result::Done : Result::Refused, a, stays, QByteArray("beta"), done)) << row.name;
        EXPECT_EQ(readFile(row.lands), QByteArray(done ? "alpha" : "")) << row.name;
        QFile::remove(row.lands);
    }
    EXPECT_EQ(fileAt(home.file(u"gone"_s)).Move(folder), Result::NothingThere);
    writeFile(a, "alpha");
    EXPECT_EQ(fileAt(makeLink(a, home.file(u"link"_s))).Move(folder), Result::Done); // as the link
    EXPECT_TRUE(QFileInfo(in(folder, "link")).isSymLink() && readFile(a) == "alpha");
}

// To another file system a move copies, never over an existing file.
TEST_F(FileOperations, AcrossFileSystems)
{
    writeFile(a, "alpha");
    const QString script = u"mount -t tmpfs tmpfs \"$1\" || exit 100\n\"$2\" file move \"$3\" \"$1\"; echo $?\n"
                           u"cat \"$1/a.txt\"; \"$2\" file move \"$4\" \"$1/a.txt\"; echo $?\n"_s;
    const ProcessResult r = runProgram(u"unshare"_s, {u"-m"_s, u"sh"_s,
        u"-c"_s, script, u"sh"_s, folder, QStringLiteral(DUSTMAW_CLI), a, b});
    if (r.exitCode == 100 || r.out.isEmpty())
        GTEST_SKIP() << "cannot mount a tmpfs in a mount namespace of its own here";
    EXPECT_TRUE(r.out == "0\nalpha1\n" && !QFile::exists(a) && readFile(b) == "beta") << r.out.toStdString();
}

// A link goes as the link; its target stays.
TEST_F(TrashAndDelete, ALinkGoesItsTargetStays)
{
    for (const bool toTrash : {true, false}) {
        const QString name = QString::number(toTrash), target = makeFile(work(name + u" target"_s), "stays");
        clsFile f = fileAt(makeLink(target, work(name)));
        const Result result = toTrash ? f.Trash() : f.Delete();
        EXPECT_EQ(std::tuple(result, QFileInfo(f.FileName()).isSymLink(), readFile(target),
                             QFile::symLinkTarget(trash(u"/files/"_s) + name)),
                  std::tuple(Result::Done, false, QByteArray("stays"), toTrash ? target : QString())) << toTrash;
    }
}

// Every entry under dir, links not followed, sorted.
QStringList tree(const QString& dir)
{
    QStringList out;
    for (QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories); it.hasNext();)
        out << it.next();
    out.sort();
    return out;
}

// The free functions refuse, touching nothing, a path GIO would read other than the kernel: it resolves "." and
// ".." by text and drops a trailing slash, so through a symbolic link it could name another entry.
TEST_F(TrashAndDelete, NothingIsTouched)
{
    // The kernel reads up/../f.txt as real/f.txt, GIO as f.txt.
    for (const char* row : {"/up/../f.txt", "/ln/"}) {
        const QString dir = work(QString::fromLatin1(row).remove(u'/')), path = dir + QLatin1String(row);
        makeFile(makeDir(dir + u"/real/in"_s).chopped(3) + u"/f.txt"_s, "inner");
        makeFile(dir + u"/f.txt"_s, "outer");
        makeLink(dir + u"/real/in"_s, dir + u"/up"_s);
        makeLink(dir + u"/real"_s, dir + u"/ln"_s);
        const QStringList before = tree(dir);
        for (const bool toTrash : {true, false}) {
            QString error;
            const bool done = toTrash ? moveToTrash(path, &error) : deleteFile(path, &error);
            EXPECT_TRUE(!done && !error.isEmpty() && tree(dir) == before) << row << toTrash;
        }
        EXPECT_FALSE(QFileInfo::exists(trash())) << row;
    }
}

// As nobody, in that user's own folders: the file's folder, or the trash, refuses.
TEST_F(TrashAndDelete, RefusedFileStaysWhereItWas)
{
    if (!canDropToNobody())
        GTEST_SKIP() << "needs root, to hand folders to another user, and setpriv";
    const struct { const char* op; bool trashIsAFile; } rows[] = {{"trash", false}, {"delete", false}, {"trash", true}};
    for (const auto& row : rows) {
        const QString dir = work(QString::fromLatin1(row.op) + QString::number(row.trashIsAFile));
        const QString path = makeFile(makeDir(dir) + u"/victim.txt"_s, "still here");
        chmodded(home.path(), 0755);
        for (const QString& p : QStringList{dir, home.file(u"xdg"_s), trash()} + emptyTrash)
            ASSERT_EQ(::chown(native(makeDir(p, 0700)).constData(), kNobody, gid_t(-1)), 0);
        if (row.trashIsAFile && QDir(trash()).removeRecursively())
            writeFile(trash(), "in the way");
        chmodded(dir, row.trashIsAFile ? 0700 : 0500);
        const ProcessResult r = runCliAsNobody({u"file"_s, QString::fromLatin1(row.op), path});
        const QByteArray told = "dustmaw-cli: " + native(path) + ": "; // refused, the reason after the path
        EXPECT_TRUE(r.exitCode == 1 && r.err.startsWith(told) && r.err.size() > told.size() + 1) << r.err.toStdString();
        // The file stays; nothing went into the trash, nor was the file in its way touched.
        EXPECT_EQ(std::tuple(readFile(path), tree(trash()), readFile(trash())),
                  std::tuple(QByteArray("still here"), row.trashIsAFile ? QStringList() : emptyTrash,
                             QByteArray(row.trashIsAFile ? "in the way" : ""))) << row.op;
    }
}

// A file (0640) or a link, with times of its own to the nanosecond.
QString entry(const QString& path, bool link)
{
    const QString made = link ? makeLink(u"/elsewhere"_s, path) : makeFile(path, native(path), 0640);
    const timespec times[2] = {{1000000000, 111}, {1000000000, 222222222}};
    EXPECT_EQ(::utimensat(AT_FDCWD, native(made).constData(), times, AT_SYMLINK_NOFOLLOW), 0) << path.toStdString();
    return made;
}
// The info file's Path= value; empty unless the whole file is as the trash's readers expect it.
QByteArray infoPath(const TrashSlot& slot)
{
    static const QRegularExpression whole(
        u"^\\[Trash Info\\]\nPath=([^\n]+)\nDeletionDate=\\d{4}(-\\d\\d){2}T\\d\\d(:\\d\\d){2}\n$"_s);
    return whole.match(QString::fromLatin1(readFile(slot.infoPath()))).captured(1).toLatin1();
}
QByteArray escaped(const QString& path) { return native(path).toPercentEncoding("/"); }

// Colliding names are numbered before their first dot; the slot returned is where the entry lies, and its info
// file names the origin, escaped.
TEST_F(TrashAndDelete, TheSlotIsWhereTheEntryLies)
{
    const struct { const char* name; const char* slot; } rows[] = {
        {"a.tar.gz", "a.tar.gz"}, {"a.tar.gz", "a.2.tar.gz"}, {"a.tar.gz", "a.3.tar.gz"}, {".hidden", ".hidden"},
        {".hidden", ".2.hidden"}, {"READ ME", "READ ME"}, {"READ ME", "READ ME.2"}, {"&100%#?.日本", "&100%#?.日本"}};
    int n = 0;
    for (const bool byRename : {false, true}) {
        setTrashInfoByRename(byRename);
        ASSERT_TRUE(QDir(trash()).removeRecursively());
        for (const auto& row : rows) {
            const QString path = makeDir(work(u"%1 ü%"_s.arg(++n))) + u'/' + QString::fromUtf8(row.name);
            const FileId id = fileIdAt(makeFile(path, ""));
            TrashSlot slot;
            ASSERT_TRUE(moveToTrash(path, nullptr, &slot)) << row.slot;
            EXPECT_EQ(std::tuple(slot.trashDir, slot.name, fileIdAt(slot.filesPath()), infoPath(slot)),
                      std::tuple(trash(), QString::fromUtf8(row.slot), id, escaped(path))) << byRename;
        }
        EXPECT_EQ(tree(trash(u"/info"_s)).size(), std::ssize(rows)) << byRename; // nothing left aside
    }
    setTrashInfoByRename(false);
    EXPECT_EQ(fileAt(folder).Trash(), Result::NothingThere); // a folder is no file
}

// Prepared, nothing is written, so that the name can be recorded first. Dropped, the file replaced or its name
// taken before the move: the file stays and nothing is left in the trash.
TEST_F(TrashAndDelete, AnUnfinishedMoveLeavesNothing)
{
    for (const QByteArray& how : QByteArrayList{"drop", "replace", "taken"}) {
        const QString path = makeFile(work(QString::fromLatin1(how)), how);
        {
            TrashMove move;
            ASSERT_TRUE(move.prepare(path));
            EXPECT_EQ(std::pair(tree(trash()), move.id()), std::pair(emptyTrash, fileIdAt(path)));
            if (how == "replace") {
                ASSERT_EQ(::rename(native(makeFile(path + u".new"_s, how)).constData(), native(path).constData()), 0);
                EXPECT_FALSE(move.commit());
            } else if (how == "taken") {
                writeFile(move.slot().infoPath(), "another program's");
                EXPECT_FALSE(move.commit());
                EXPECT_EQ(readFile(move.slot().infoPath()), "another program's");
                ASSERT_TRUE(QFile::remove(move.slot().infoPath()));
            }
        }
        EXPECT_EQ(std::pair(readFile(path), tree(trash())), std::pair(how, emptyTrash));
    }
}

// An ext4 image loop-mounted while alive, when this is root and may mount it.
struct OtherFileSystem {
    const QTemporaryDir dir;
    const QString at = makeDir(dir.path() + u"/mnt"_s);
    const bool mounted = asRoot(u"truncate -s 20M \"$1\" && mkfs.ext4 -q \"$1\" && mount -o loop \"$1\" \"$2\""_s,
                                {dir.path() + u"/fs.img"_s, at});
    ~OtherFileSystem() { EXPECT_TRUE(!mounted || asRoot(u"umount \"$1\""_s, {at})); }
};

// Nothing is ever replaced. On a file system of its own the trash is at its top and the path in it relative, and
// what comes back from there to another file system is a copy.
TEST_F(TrashAndDelete, RestoreNeverReplaces)
{
    using R = RestoreResult;
    enum Meanwhile { Nothing, Occupied, AnotherFile };
    const OtherFileSystem other;
    const struct { const char* name; bool link, across; Meanwhile meanwhile; R result; } rows[] = {
        {"link", true, false, Nothing, R::Restored}, {"another file", false, false, AnotherFile, R::NotInTrash},
        {"copied file", false, true, Nothing, R::Restored}, {"copied link", true, true, Nothing, R::Restored},
        {"copy occupied", false, true, Occupied, R::Occupied}};
    for (const auto& row : rows) {
        if (row.across && !other.mounted)
            continue; // needs root and a loop mount of an ext4 image
        const QString name = QLatin1String(row.name), target = makeDir(work(name) + u"/in"_s) + u"/f"_s;
        const QString path = entry(row.across ? makeDir(other.at + u'/' + name) + u"/f"_s : target, row.link);
        const QString before = facts(path);
        TrashSlot slot;
        ASSERT_TRUE(moveToTrash(path, nullptr, &slot)) << row.name;
        const QString trashDir = row.across ? other.at + u"/.Trash-"_s + QString::number(::geteuid()) : trash();
        EXPECT_EQ(std::pair(slot.trashDir, infoPath(slot)),
                  std::pair(trashDir, escaped(row.across ? name + u"/f"_s : path))) << row.name;
        FileId expected = fileIdAt(slot.filesPath());
        if (row.meanwhile == Occupied)
            writeFile(target, "other");
        if (row.meanwhile == AnotherFile)
            expected = fileIdAt(home.path());
        const QString there = facts(target);
        QString error;
        const R result = restoreFromTrash(slot, target, expected, &error);
        const bool back = row.result == R::Restored;
        EXPECT_EQ(std::tuple(result, facts(target), fileIdAt(slot.filesPath()).valid(), QFile::exists(slot.infoPath())),
                  std::tuple(row.result, back ? before : there, !back, !back)) << row.name << error.toStdString();
    }
}

// A sticky .Trash made by the administrator holds a folder for each user; a read-only mount takes nothing.
TEST_F(TrashAndDelete, AnotherMountHasItsOwnTrash)
{
    const OtherFileSystem other;
    if (!other.mounted)
        GTEST_SKIP() << "needs root and a loop mount of an ext4 image";
    makeDir(other.at + u"/.Trash"_s, 01777);
    TrashSlot shared;
    ASSERT_TRUE(moveToTrash(makeFile(other.at + u"/shared"_s, "shared"), nullptr, &shared));
    EXPECT_EQ(shared.trashDir, other.at + u"/.Trash/"_s + QString::number(::geteuid()));
    const QString kept = makeFile(other.at + u"/kept"_s, "kept");
    ASSERT_TRUE(asRoot(u"mount -o remount,ro \"$1\""_s, {other.at}));
    QString error;
    EXPECT_FALSE(moveToTrash(kept, &error));
    EXPECT_TRUE(error.contains(u"not supported"_s) && error.contains(kept) && readFile(kept) == "kept")
        << error.toStdString();
}

} // namespace
} // namespace dm
