// The file object: what it says of the kinds of thing a drop can deliver, of names, times and Windows version
// resources; copy, move and rename; and the trash and deletion that dispose of beaten enemies' files.
#include "services/Trash.h"
#include "services/VersionInfo.h"
#include "services/clsFile.h"
#include "support/TestSupport.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QtEndian>

#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace dm {
namespace {

using namespace test;
using Result = clsFile::Result;

clsFile fileAt(const QString& path)
{
    clsFile f;
    f.setFileName(path);
    return f;
}
QString in(const QString& dir, const char* name) { return dir + u'/' + QLatin1String(name); }
QString plain(const QString& dir, const char* name, int size, mode_t mode = 0644)
{
    return makeFile(in(dir, name), QByteArray(size, 'x'), mode);
}

constexpr int kRO = clsFile::AttrReadOnly, kHid = clsFile::AttrHidden, kSys = clsFile::AttrSystem,
              kArc = clsFile::AttrArchive;
int attrsOf(const clsFile& f)
{
    return (f.ReadOnly() ? kRO : 0) | (f.Hidden() ? kHid : 0) | (f.System() ? kSys : 0) | (f.Archive() ? kArc : 0);
}

// Root's privileges override the mode bits, so refusals are tried as nobody.
constexpr uid_t kNobody = 65534;
bool canDropToNobody() { return ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0; }
// GLib's local trash leaks its error texts when refused; leak checks of this program's own code run as root.
ProcessResult runCliAsNobody(const QStringList& args)
{
    const QString asan = u"ASAN_OPTIONS="_s + qEnvironmentVariable("ASAN_OPTIONS") + u":detect_leaks=0"_s;
    return runProgram(u"/usr/bin/env"_s, QStringList{asan, u"/usr/bin/setpriv"_s, u"--reuid=65534"_s,
                                                     u"--regid=65534"_s, u"--clear-groups"_s, QStringLiteral(DUSTMAW_CLI)} + args);
}

TEST(FileObject, KindsOfPath)
{
    QTemporaryDir dir;
    const QString d = dir.path(), samba = plain(d, "samba.txt", 3);
    // Samba and Wine keep the other attributes beside the file, ending in a NUL.
    const bool xattrs = ::setxattr(native(samba).constData(), "user.DOSATTRIB", "0x23\0", 5, 0) == 0;
    // Nobody, root included, may write an immutable file; the guard lets it be cleaned up.
    struct Immutable {
        int fd, on = 0;
        explicit Immutable(const QString& path) : fd(::open(native(path).constData(), O_RDONLY | O_CLOEXEC))
        {
            int flags = FS_IMMUTABLE_FL;
            on = fd >= 0 && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ~Immutable()
        {
            int flags = 0;
            if (on != 0)
                ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
            ::close(fd);
        }
    } immutable(plain(d, "immutable.txt", 5, 0666));
    // size -1: not Enabled, and so a Directory as a drop sees it.
    const struct { const char* name; QString path; int size, attrs; } rows[] = {
        // The drop case sees folders, dot files, FIFOs and the owner's write bit.
        {"link to file", makeLink(plain(d, "t", 7), in(d, "l2")), 7, 0},
        {"dangling link", makeLink(in(d, "gone"), in(d, "l1")), -1, 0},
        // Root may remove it from /dev; anyone else may not.
        {"device", u"/dev/null"_s, 0, ::geteuid() != 0 ? kSys | kRO : kSys},
        {"file in a folder nobody may write", plain(makeDir(in(d, "ro")), "x.txt", 9), 9, kRO},
        // Its read-only bit does not count: the mode bits alone say that.
        {"attributes from Samba", samba, 3, xattrs ? kHid | kArc : 0},
        {"immutable file", in(d, "immutable.txt"), 5, immutable.on != 0 ? kRO : 0}};
    chmodded(in(d, "ro"), 0555);
    for (const auto& row : rows) {
        const clsFile f = fileAt(row.path);
        EXPECT_EQ(f.Enabled(), row.size >= 0) << row.name;
        EXPECT_EQ(f.Size(), row.size) << row.name;
        EXPECT_EQ(f.Directory(), row.size < 0) << row.name;
        EXPECT_EQ(attrsOf(f), row.attrs) << row.name;
    }
    chmodded(in(d, "ro"), 0700); // lets the folder be cleaned up
}

// Each let turns its attribute on (twice: the second writes nothing) and off, and no other. ReadOnly clears every
// write bit and gives the owner's back; the others live in Samba's attribute, which some file systems refuse.
TEST(FileObject, AttributeLets)
{
    QTemporaryDir dir;
    const bool xattrs = ::setxattr(native(plain(dir.path(), "x", 0)).constData(), "user.x", "1", 1, 0) == 0;
    const struct { const char* name; bool (clsFile::*let)(bool); int bit; } rows[] = {
        {"r", &clsFile::setReadOnly, kRO}, {"h", &clsFile::setHidden, kHid}, {".h", &clsFile::setHidden, kHid},
        {"s", &clsFile::setSystem, kSys}, {"a", &clsFile::setArchive, kArc}};
    for (const auto& row : rows) {
        clsFile f = fileAt(plain(dir.path(), row.name, 3, 0664));
        const bool works = xattrs || row.bit == kRO;
        for (const bool value : {true, true, false}) {
            EXPECT_EQ((f.*row.let)(value), works) << row.name;
            // A dot file stays hidden by its name.
            EXPECT_EQ(attrsOf(f), (works && value ? row.bit : 0) | (row.name[0] == '.' ? kHid : 0)) << row.name << value;
            struct stat st {};
            EXPECT_EQ(::stat(native(f.FileName()).constData(), &st) == 0 ? st.st_mode & 0777 : 0,
                      row.bit != kRO ? 0664 : value ? 0444 : 0644) << row.name << value;
        }
    }
    EXPECT_TRUE(fileAt(in(dir.path(), "gone")).setHidden(true) && !QFile::exists(in(dir.path(), "gone")));
}

// An access list granting nobody (rw-) and the owning user's, group's and mask's rw-/r--/rw-/r--.
QByteArray aclGrantingNobody()
{
    QByteArray acl;
    const auto put = [&acl](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            acl += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    put(2, 4); // version
    const std::uint32_t entries[][3] = {{1, 6, ~0U}, {2, 6, kNobody}, {4, 4, ~0U}, {0x10, 6, ~0U}, {0x20, 4, ~0U}};
    for (const auto& [tag, perm, id] : entries) {
        put(tag, 2);
        put(perm, 2);
        put(id, 4);
    }
    return acl;
}

// Another's file is read-only unless the kernel's reading of owner, group, others and access list lets this user
// write it; and in a sticky folder (/tmp, shared folders) only the entry's or the folder's owner may remove it.
TEST(FileObject, WhatAnOrdinaryUserMayNotReadOrRemove)
{
    if (!canDropToNobody())
        GTEST_SKIP() << "needs root, to hand files to another user, and setpriv";
    QTemporaryDir dir;
    // Open to all, sticky and root's, sticky and nobody's own.
    const QString folders[] = {makeDir(chmodded(dir.path(), 0755) + u"/open"_s, 0777),
                               makeDir(dir.path() + u"/shared"_s, 01777), makeDir(dir.path() + u"/mine"_s, 01777)};
    ASSERT_EQ(::chown(native(folders[2]).constData(), kNobody, gid_t(-1)), 0);
    const QByteArray acl = aclGrantingNobody();
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
    QStringList info{u"info"_s, u"--json"_s};
    for (const auto& row : rows) {
        info << plain(folders[row.folder], row.name, 3, row.mode);
        ASSERT_EQ(::chown(native(info.back()).constData(), row.owner, row.group), 0);
        if (row.acl && ::setxattr(native(info.back()).constData(), "system.posix_acl_access", acl.constData(),
                                  static_cast<size_t>(acl.size()), 0) != 0)
            GTEST_SKIP() << "no access lists here";
    }
    const QList<QByteArray> seen = runCliAsNobody(info).out.split('\n');
    const auto json = [](const char* key, bool on) { return '"' + QByteArray(key) + "\":" + (on ? "true" : "false"); };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const QByteArray line = seen.value(static_cast<qsizetype>(i));
        EXPECT_TRUE(line.contains(json("Enabled", rows[i].enabled)) && line.contains(json("ReadOnly", rows[i].readOnly)))
            << rows[i].name << ": " << line.toStdString();
    }
    EXPECT_EQ(runCliAsNobody({u"file"_s, u"delete"_s, info[5]}).exitCode, 0);
    EXPECT_FALSE(QFileInfo::exists(info[5])) << "the folder's owner may remove another's entry";
}

// A minimal Windows program: DOS header, PE header, and one .rsrc section
// whose RT_VERSION resource holds `info`.
constexpr int kRsrc = 0x200, kRva = 0x1000, kVersion = 0x60, kFixed = kVersion + 40, kEnd = kRsrc + kFixed + 52;
QByteArray buildPe(const FixedFileInfo& info, bool pe32plus = false)
{
    const int pe = 0x40, opt = pe + 24, optSize = pe32plus ? 240 : 224, dirs = opt + (pe32plus ? 112 : 96);
    const int section = opt + optSize, r = kRsrc;
    QByteArray b(0x400, '\0');
    b.replace(0, 2, "MZ");
    b.replace(pe, 2, "PE");
    b.replace(section, 5, ".rsrc");
    b.replace(r + kVersion + 6, 32, QByteArray(reinterpret_cast<const char*>(u"VS_VERSION_INFO"), 32));
    const struct { int at, width; qint64 value; } fields[] = {{0x3C, 4, pe}, {pe + 4, 2, pe32plus ? 0x8664 : 0x14C},
        {pe + 6, 2, 1}, {pe + 20, 2, optSize}, {opt, 2, pe32plus ? 0x20B : 0x10B}, {dirs - 4, 4, 16},
        {dirs + 16, 4, kRva}, {dirs + 20, 4, 0x200}, {section + 8, 4, 0x200}, {section + 12, 4, kRva},
        {section + 16, 4, 0x200}, {section + 20, 4, r},
        // Type 16, name 1 and language 0x411, each a directory of one entry.
        {r + 0x0E, 2, 1}, {r + 0x10, 4, 16}, {r + 0x14, 4, 0x80000018}, {r + 0x26, 2, 1}, {r + 0x28, 4, 1},
        {r + 0x2C, 4, 0x80000030}, {r + 0x3E, 2, 1}, {r + 0x40, 4, 0x411}, {r + 0x44, 4, 0x48},
        {r + 0x48, 4, kRva + kVersion}, {r + 0x4C, 4, 92}, {r + kVersion, 2, 92}, {r + kVersion + 2, 2, 52}};
    for (const auto& [at, width, value] : fields) {
        if (width == 2)
            qToLittleEndian(static_cast<std::uint16_t>(value), b.data() + at);
        else
            qToLittleEndian(static_cast<std::uint32_t>(value), b.data() + at);
    }
    static_assert(sizeof(FixedFileInfo) == 13 * sizeof(std::uint32_t)); // the fields lie as in the file
    qToLittleEndian<std::uint32_t>(&info, 13, b.data() + r + kFixed);
    return b;
}

// File 40000.1.2.3, product 1.0.0.0, prerelease, 32-bit Windows NT, a TrueType font.
const FixedFileInfo kSample{
    kFixedFileInfoSignature, 0, 40000U << 16 | 1, 2U << 16 | 3, 1U << 16, 0, 0, 2, 0x40004, 4, 3, 0, 0};

// Local times, the weekday padded to eight columns, and the version resource.
TEST(FileObject, TimesAndVersions)
{
    TempHome home;
    const auto texts = [](const clsFile& f) {
        return QStringList{QString::number(f.Executable()), f.FileVersion(), f.ProductVersion(), f.FileType(),
                           f.FileSubtype(), f.FileOS(), f.BuildType()}.join(u'|');
    };
    const clsFile exe = fileAt(home.file(u"app.exe"_s)), note = fileAt(home.file(u"a.txt"_s));
    for (const bool plus : {false, true}) {
        writeFile(exe.FileName(), buildPe(kSample, plus));
        EXPECT_EQ(texts(exe), u"1|40000.1.2.3|1.0.0.0|ﾌｫﾝﾄ|ﾄｩﾙｰﾀｲﾌﾟﾌｫﾝﾄ|32bit Windows NT|ﾌﾟﾚﾘﾘｰｽﾋﾞﾙﾄﾞ"_s);
    }
    // A text file has none of it, though its first bytes make it a program.
    writeFile(note.FileName(), "MZ is how this note begins");
    EXPECT_EQ(texts(note), u"1|||不明|不明|不明|不明"_s);
    EXPECT_EQ(texts(fileAt(home.file(u"gone"_s))), u"0|||不明|不明|不明|不明"_s);
    // A file's times in the local zone (Japan's here), the epoch too.
    const ScopedEnv zone("TZ", QByteArray("JST-9"));
    const struct { time_t utc; const char* local; } times[] = {{0, "1970年1月1日 木曜日    9:0:0"},
        {931046703, "1999年7月4日 日曜日    9:5:3"}, {1797087599, "2026年12月12日 土曜日    23:59:59"}};
    for (const auto& row : times) {
        const timespec both[2] = {{row.utc, 0}, {row.utc, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, native(note.FileName()).constData(), both, 0), 0);
        const QString local = QString::fromUtf8(row.local);
        EXPECT_EQ(note.LastWriteTime() + u'|' + note.LastAccessTime(), local + u'|' + local);
    }

    // Truncated or lying programs give no version.
    const QByteArray pe = buildPe(kSample);
    ASSERT_TRUE(ReadFixedFileInfo(pe.left(kEnd)));
    for (int length = 0; length < kEnd; ++length)
        ASSERT_FALSE(ReadFixedFileInfo(pe.left(length))) << length;
    const struct { const char* name; int at; std::uint32_t value; } rows[] = {
        {"directory that points back at itself", kRsrc + 0x2C, 0x80000018U},
        {"version data too short", kRsrc + 0x4C, 60}, {"wrong key", kRsrc + kVersion + 6, 0x00580058},
        {"wrong signature", kRsrc + kFixed, 0xFEEF04BC}};
    for (const auto& row : rows) {
        QByteArray lying = pe;
        qToLittleEndian(row.value, lying.data() + row.at);
        EXPECT_FALSE(ReadFixedFileInfo(lying)) << row.name;
    }
}

class FileOperations : public ::testing::Test {
protected:
    FileOperations() { writeFile(b, "beta"); }

    TempHome home;
    QString a = home.file(u"a.txt"_s), b = home.file(u"b.txt"_s);
    QString folder = makeDir(home.file(u"folder"_s));
};

TEST_F(FileOperations, NothingIsReplacedAndAFolderReceives)
{
    const auto to = [this](const char* name) { return in(folder, name); };
    struct Row { const char* name; std::function<Result(clsFile&)> op; Result result; QString landsAt; bool stays; };
    const Row rows[] = {
        {"copy onto a file", [&](clsFile& f) { return f.FileCopy(b); }, Result::Refused, {}, true},
        {"move onto a file", [&](clsFile& f) { return f.Move(b); }, Result::Refused, {}, true},
        {"rename onto a file", [&](clsFile& f) { return f.Rename(b); }, Result::Refused, {}, true},
        {"rename onto a folder", [&](clsFile& f) { return f.Rename(folder); }, Result::Refused, {}, true},
        {"copy into a folder", [&](clsFile& f) { return f.FileCopy(folder); }, Result::Done, to("a.txt"), true},
        {"move into a folder", [&](clsFile& f) { return f.Move(folder + u'/'); }, Result::Done, to("a.txt"), false},
        {"rename", [&](clsFile& f) { return f.Rename(to("c.txt")); }, Result::Done, to("c.txt"), false},
        {"first move", [&](clsFile& f) { return f.FirstMove(to("d.txt")); }, Result::Done, to("d.txt"), false}};
    for (const auto& row : rows) {
        writeFile(a, "alpha");
        clsFile f = fileAt(a);
        EXPECT_EQ(row.op(f), row.result) << row.name;
        EXPECT_EQ(f.FileName(), a) << row.name;
        EXPECT_EQ(QFile::exists(a), row.stays) << row.name;
        EXPECT_EQ(readFile(b), QByteArray("beta")) << row.name;
        EXPECT_EQ(f.errorString().isEmpty(), row.result == Result::Done) << row.name;
        EXPECT_EQ(readFile(row.landsAt), row.landsAt.isEmpty() ? QByteArray() : QByteArray("alpha")) << row.name;
        QFile::remove(row.landsAt);
    }
    EXPECT_EQ(fileAt(home.file(u"gone"_s)).Move(folder), Result::NothingThere);
    // A link moves as the link.
    writeFile(a, "alpha");
    EXPECT_EQ(fileAt(makeLink(a, home.file(u"link"_s))).Move(folder), Result::Done);
    EXPECT_TRUE(QFileInfo(to("link")).isSymLink());
    EXPECT_EQ(readFile(a), QByteArray("alpha"));
}

// To another file system a move copies, never over an existing file.
TEST_F(FileOperations, AcrossFileSystems)
{
    writeFile(a, "alpha");
    const QString script = QStringLiteral("mount -t tmpfs tmpfs \"$1\" || exit 100\n"
                                          "\"$2\" file move \"$3\" \"$1\"; echo $?; cat \"$1/a.txt\"\n"
                                          "\"$2\" file move \"$4\" \"$1/a.txt\"; echo $?\n");
    const ProcessResult r = runProgram(u"unshare"_s, {u"-m"_s, u"sh"_s,
        u"-c"_s, script, u"sh"_s, folder, QStringLiteral(DUSTMAW_CLI), a, b});
    if (r.exitCode == 100 || r.out.isEmpty())
        GTEST_SKIP() << "cannot mount a tmpfs in a mount namespace of its own here";
    EXPECT_EQ(r.out, QByteArray("0\nalpha1\n"));
    EXPECT_TRUE(!QFile::exists(a) && readFile(b) == "beta");
}

// GLib reads HOME and XDG_DATA_HOME once per process, so all tests share one
// home, set before the first GIO call; each starts without a data folder.
class TrashAndDelete : public ::testing::Test {
protected:
    static QString home()
    {
        static QTemporaryDir dir;
        static const QString path = [] {
            const QString p = makeDir(chmodded(dir.path(), 0755) + u"/home"_s);
            qputenv("HOME", native(p));
            qputenv("XDG_DATA_HOME", native(p + u"/.local/share"_s));
            return p;
        }();
        return path;
    }
    static QString trash(const QString& sub = {}) { return home() + u"/.local/share/Trash"_s + sub; }
    void SetUp() override
    {
        ASSERT_EQ(homeTrashPath(), trash()); // never the user's own
        ASSERT_TRUE(QDir(home() + u"/.local"_s).removeRecursively());
    }
    [[nodiscard]] QString work(const QString& name) const { return makeDir(m_work.path()) + u'/' + name; }

    QTemporaryDir m_work{home() + u"/work-XXXXXX"_s};
};

TEST_F(TrashAndDelete, ALinkGoesItsTargetStays)
{
    for (const bool toTrash : {true, false}) {
        const QString name = QString::number(toTrash), target = makeFile(work(name + u" target"_s), "stays");
        const QString link = makeLink(target, work(name));
        clsFile f = fileAt(link);
        EXPECT_EQ(toTrash ? f.Trash() : f.Delete(), Result::Done) << toTrash;
        EXPECT_FALSE(QFileInfo(link).isSymLink()) << toTrash;
        EXPECT_EQ(readFile(target), QByteArray("stays")) << toTrash;
        EXPECT_EQ(QFile::symLinkTarget(trash(u"/files/"_s) + name), toTrash ? target : QString());
    }
    // A dangling link is no file to the file object; the free functions take any entry.
    const QString dangling = makeLink(work(u"gone"_s), work(u"dangling"_s));
    EXPECT_EQ(fileAt(dangling).Trash(), Result::NothingThere);
    EXPECT_TRUE(moveToTrash(dangling, nullptr) && !QFileInfo(dangling).isSymLink());
}

// Every entry under dir, links not followed, sorted.
QStringList tree(const QString& dir)
{
    QStringList out;
    for (QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
         it.hasNext();)
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
            EXPECT_FALSE(toTrash ? moveToTrash(path, &error) : deleteFile(path, &error)) << row << toTrash;
            EXPECT_TRUE(!error.isEmpty() && tree(dir) == before) << row << toTrash;
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
        for (const QString& p : {dir, home() + u"/.local"_s, home() + u"/.local/share"_s,
                                 trash(), trash(u"/files"_s), trash(u"/info"_s)})
            ASSERT_EQ(::chown(native(makeDir(p, 0700)).constData(), kNobody, gid_t(-1)), 0);
        if (!row.trashIsAFile)
            chmodded(dir, 0500);
        else if (QDir(trash()).removeRecursively())
            writeFile(trash(), "in the way");
        const ProcessResult r = runCliAsNobody({u"file"_s, QString::fromLatin1(row.op), path});
        // Refused, with the reason after the path.
        const QByteArray told = "dustmaw-cli: " + native(path) + ": ";
        EXPECT_TRUE(r.exitCode == 1 && r.err.startsWith(told) && r.err.size() > told.size() + 1) << r.err.toStdString();
        EXPECT_EQ(readFile(path), QByteArray("still here")) << row.op;
        // Nothing went into the trash, nor was the file in its way touched.
        const QStringList folders{trash(u"/files"_s), trash(u"/info"_s)};
        EXPECT_EQ(tree(trash()), row.trashIsAFile ? QStringList() : folders) << row.op;
        EXPECT_EQ(readFile(trash()), QByteArray(row.trashIsAFile ? "in the way" : "")) << row.op;
    }
}

// What a restore must keep of an entry: kind and mode, size, modification time, bytes or link target.
QString facts(const QString& path)
{
    struct stat st {};
    if (::lstat(native(path).constData(), &st) != 0)
        return {};
    return u"%1 %2 %3.%4 "_s
               .arg(st.st_mode, 0, 8).arg(st.st_size).arg(st.st_mtim.tv_sec).arg(st.st_mtim.tv_nsec)
           + (S_ISLNK(st.st_mode) ? QFile::symLinkTarget(path) : QString::fromUtf8(readFile(path)));
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
        u"^\\[Trash Info\\]\nPath=([^\n]+)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n$"_s);
    return whole.match(QString::fromLatin1(readFile(slot.infoPath()))).captured(1).toLatin1();
}
QByteArray escaped(const QString& path) { return native(path).toPercentEncoding("/"); }

// Colliding names are numbered before their first dot; the slot returned is where the entry lies, and its info
// file names the origin, escaped.
TEST_F(TrashAndDelete, TheSlotIsWhereTheEntryLies)
{
    const struct { const char* name; const char* slot; } rows[] = {
        {"a.tar.gz", "a.tar.gz"}, {"a.tar.gz", "a.2.tar.gz"}, {"a.tar.gz", "a.3.tar.gz"},
        {".hidden", ".hidden"}, {".hidden", ".2.hidden"}, {"READ ME", "READ ME"}, {"READ ME", "READ ME.2"},
        {"&100%#?.日本語", "&100%#?.日本語"}};
    int folder = 0;
    for (const bool byRename : {false, true}) {
        setTrashInfoByRename(byRename);
        ASSERT_TRUE(QDir(trash()).removeRecursively());
        for (const auto& row : rows) {
            const QString dir = makeDir(work(u"%1 ü%"_s.arg(++folder)));
            const QString path = entry(dir + u'/' + QString::fromUtf8(row.name), false);
            const FileId id = fileIdAt(path);
            TrashSlot slot;
            QString error;
            ASSERT_TRUE(moveToTrash(path, &error, &slot)) << error.toStdString();
            EXPECT_EQ(slot.trashDir, trash()) << row.slot;
            EXPECT_EQ(slot.name, QString::fromUtf8(row.slot)) << byRename;
            EXPECT_EQ(fileIdAt(slot.filesPath()), id) << row.slot;
            EXPECT_EQ(infoPath(slot), escaped(path)) << row.slot << byRename;
        }
        const QStringList infos = QDir(trash(u"/info"_s)).entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(infos.size(), std::ssize(rows)) << byRename; // nothing left aside
    }
    setTrashInfoByRename(false);
    EXPECT_EQ(fileAt(makeDir(work(u"folder"_s))).Trash(), Result::NothingThere); // a folder is no file
}

// Cancelled, dropped, or the file replaced before the move: the info file goes again, the file stays.
TEST_F(TrashAndDelete, AnUnfinishedMoveLeavesNothing)
{
    for (const char* how : {"cancel", "drop", "replace"}) {
        const QString path = makeFile(work(QLatin1String(how)), how);
        {
            TrashMove move;
            ASSERT_TRUE(move.prepare(path));
            EXPECT_EQ(infoPath(move.slot()), escaped(path)) << how; // whole before the move
            EXPECT_EQ(move.id(), fileIdAt(path)) << how;
            if (how == std::string_view("cancel"))
                move.cancel();
            if (how == std::string_view("replace")) {
                const QString other = makeFile(path + u".new"_s, how);
                ASSERT_EQ(::rename(native(other).constData(), native(path).constData()), 0);
                EXPECT_FALSE(move.commit()) << how;
            }
        }
        EXPECT_EQ(readFile(path), QByteArray(how));
        EXPECT_EQ(tree(trash()), (QStringList{trash(u"/files"_s), trash(u"/info"_s)})) << how;
    }
}

TEST_F(TrashAndDelete, RestoreNeverReplaces)
{
    using R = RestoreResult;
    struct Row {
        const char* name;
        bool link;
        std::function<void(const TrashSlot&, const QString& target, FileId& expected)> meanwhile;
        R result;
        bool staysInTrash;
    };
    const Row rows[] = {
        {"file", false, {}, R::Restored, false},
        {"link", true, {}, R::Restored, false},
        {"folder gone", false, [](auto&, auto& target, auto&) { QDir(QFileInfo(target).path()).removeRecursively(); },
         R::Restored, false},
        {"occupied", false, [](auto&, auto& target, auto&) { writeFile(target, "other"); }, R::Occupied, true},
        {"purged", false, [](auto& slot, auto&, auto&) { QFile::remove(slot.filesPath()); }, R::NotInTrash, false},
        {"another file", false, [this](auto&, auto&, auto& id) { id = fileIdAt(home()); }, R::NotInTrash, true}};
    for (const auto& row : rows) {
        const QString folder = makeDir(work(QLatin1String(row.name)) + u"/in"_s);
        const QString target = entry(folder + u"/f"_s, row.link);
        const QString before = facts(target);
        TrashSlot slot;
        ASSERT_TRUE(moveToTrash(target, nullptr, &slot)) << row.name;
        FileId expected = fileIdAt(slot.filesPath());
        if (row.meanwhile)
            row.meanwhile(slot, target, expected);
        const QString there = facts(target);
        QString error;
        EXPECT_EQ(restoreFromTrash(slot, target, expected, &error), row.result) << row.name << error.toStdString();
        EXPECT_EQ(facts(target), row.result == R::Restored ? before : there) << row.name;
        EXPECT_EQ(fileIdAt(slot.filesPath()).valid(), row.staysInTrash) << row.name;
        EXPECT_EQ(QFile::exists(slot.infoPath()), row.result != R::Restored) << row.name;
    }
}

// Runs a shell script as root with the system's tools on the path; false when it fails.
bool asRoot(const QString& script, const QStringList& args)
{
    return ::geteuid() == 0
           && runProgram(u"sh"_s, QStringList{u"-c"_s,
                                                            u"PATH=$PATH:/usr/sbin:/sbin; "_s + script,
                                                            u"sh"_s} + args).exitCode == 0;
}

// On a file system of its own the trash is at its top and the path in it relative; entries come back by rename,
// or to another file system as copies.
TEST_F(TrashAndDelete, AnotherMountHasItsOwnTrash)
{
    const QTemporaryDir dir;
    const QString mount = makeDir(dir.path() + u"/mnt"_s);
    if (!asRoot(u"truncate -s 20M \"$1\" && mkfs.ext4 -q \"$1\" && mount -o loop \"$1\" \"$2\""_s,
                {dir.path() + u"/fs.img"_s, mount}))
        GTEST_SKIP() << "needs root and a loop mount of an ext4 image";
    const struct Unmount {
        QString at;
        ~Unmount() { EXPECT_TRUE(asRoot(u"umount \"$1\""_s, {at})); }
    } unmount{mount};
    const struct { const char* name; bool link, elsewhere, occupied; } rows[] = {
        {"file", false, false, false}, {"copied file", false, true, false}, {"copied link", true, true, false},
        {"occupied", false, true, true}};
    for (const auto& row : rows) {
        const QString path = entry(makeDir(mount + u"/dir"_s) + u'/' + QLatin1String(row.name), row.link);
        const QString before = facts(path), target = row.elsewhere ? work(QLatin1String(row.name)) : path;
        TrashSlot slot;
        QString error;
        ASSERT_TRUE(moveToTrash(path, &error, &slot)) << error.toStdString();
        EXPECT_EQ(slot.trashDir, mount + u"/.Trash-"_s + QString::number(::geteuid())) << row.name;
        EXPECT_EQ(infoPath(slot), escaped(u"dir/"_s + QLatin1String(row.name))) << row.name;
        if (row.occupied)
            writeFile(target, "other");
        const QString there = facts(target);
        EXPECT_EQ(restoreFromTrash(slot, target, fileIdAt(slot.filesPath()), &error),
                  row.occupied ? RestoreResult::Occupied : RestoreResult::Restored) << row.name << error.toStdString();
        EXPECT_EQ(facts(target), row.occupied ? there : before) << row.name;
        EXPECT_EQ(fileIdAt(slot.filesPath()).valid() && QFile::exists(slot.infoPath()), row.occupied) << row.name;
    }
    // A sticky .Trash made by the administrator holds a folder for each user.
    makeDir(mount + u"/.Trash"_s, 01777);
    TrashSlot shared;
    ASSERT_TRUE(moveToTrash(entry(mount + u"/dir/shared"_s, false), nullptr, &shared));
    EXPECT_EQ(shared.trashDir, mount + u"/.Trash/"_s + QString::number(::geteuid()));
    // A read-only mount takes nothing.
    const QString kept = makeFile(mount + u"/dir/kept"_s, "kept");
    ASSERT_TRUE(asRoot(u"mount -o remount,ro \"$1\""_s, {mount}));
    QString error;
    EXPECT_FALSE(moveToTrash(kept, &error));
    EXPECT_TRUE(error.contains(u"not supported"_s) && error.contains(kept)) << error.toStdString();
    EXPECT_EQ(readFile(kept), QByteArray("kept"));
}

} // namespace
} // namespace dm
