// The file object's information and operations: Japanese file times, the
// version resource of Windows programs and its texts, copy, move and rename.
#include "services/VersionInfo.h"
#include "services/clsFile.h"
#include "support/Entries.h"
#include "support/PeBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>

namespace dm {
namespace {

using test::fileAt;
using test::PeLayout;

// Texts the file object shows: local times with the weekday padded to eight
// columns, and for codes of a version resource without a text of their own,
// "不明" or nothing.
TEST(FileObjectTexts, TimesAndVersionCodes)
{
    const struct { const char* name; QString text; const char* expected; } rows[] = {
        {"Sunday", FormatFileTime({{1999, 7, 4}, {9, 5, 3}}), "1999年7月4日 日曜日    9:5:3"},
        {"Monday", FormatFileTime({{2000, 1, 3}, {0, 0, 0}}), "2000年1月3日 月曜日    0:0:0"},
        {"Friday", FormatFileTime({{1999, 12, 31}, {23, 59, 59}}), "1999年12月31日 金曜日    23:59:59"},
        {"Saturday", FormatFileTime({{2026, 12, 12}, {1, 2, 3}}), "2026年12月12日 土曜日    1:2:3"},
        {"type 6", FileTypeText(6), ""}, {"driver 12", FileSubtypeText(3, 12), ""},
        {"font 0", FileSubtypeText(4, 0), ""}, {"application", FileSubtypeText(1, 3), "不明"},
        {"OS 0x40001", FileOSText(0x40001), ""}, {"build 3, two flags", BuildTypeText(3), "不明"},
        {"build 16", BuildTypeText(16), ""}};
    for (const auto& row : rows)
        EXPECT_EQ(row.text, QString::fromUtf8(row.expected)) << row.name;
}

// File 40000.1.2.3, product 1.0.0.0, prerelease, 32-bit Windows NT, a TrueType font.
const FixedFileInfo kSample{
    kFixedFileInfoSignature, 0, 40000U << 16 | 1, 2U << 16 | 3, 1U << 16, 0, 0, 2, 0x40004, 4, 3, 0, 0};

TEST(PeVersion, ReadThroughTheFileObject)
{
    test::TempHome home;
    const auto texts = [](const QString& path) {
        const clsFile f = fileAt(path);
        return QStringList{QString::number(f.Executable()), f.FileVersion(), f.ProductVersion(), f.FileType(),
                           f.FileSubtype(), f.FileOS(), f.BuildType()}
            .join(u'|');
    };
    for (const bool plus : {false, true}) {
        const QString path = home.file(plus ? QStringLiteral("app64.exe") : QStringLiteral("app.exe"));
        test::writeFile(path, test::BuildPe(kSample, plus));
        EXPECT_EQ(texts(path), QStringLiteral("1|40000.1.2.3|1.0.0.0|ﾌｫﾝﾄ|ﾄｩﾙｰﾀｲﾌﾟﾌｫﾝﾄ|32bit Windows NT|ﾌﾟﾚﾘﾘｰｽﾋﾞﾙﾄﾞ"));
    }
    // A text file has none of it, though its first bytes make it a program.
    test::writeFile(home.file(QStringLiteral("notes.txt")), "MZ is how this note begins");
    EXPECT_EQ(texts(home.file(QStringLiteral("notes.txt"))), QStringLiteral("1|||不明|不明|不明|不明"));
}

TEST(PeVersion, TruncatedOrLyingFilesGiveNothing)
{
    const QByteArray pe = test::BuildPe(kSample);
    ASSERT_TRUE(ReadFixedFileInfo(pe.left(PeLayout::kEnd)));
    for (int length = 0; length < PeLayout::kEnd; ++length)
        ASSERT_FALSE(ReadFixedFileInfo(pe.left(length))) << length;
    const int r = PeLayout::kSectionRaw;
    const struct { const char* name; int at; std::uint32_t value; } rows[] = {
        {"directory that points back at itself", r + 0x2C, 0x80000018U},
        {"version data too short", r + 0x4C, 60},
        {"wrong key", r + PeLayout::kVersionBlock + 6, 0x00580058},
        {"wrong signature", r + PeLayout::kFixedInfo, 0xFEEF04BC}};
    for (const auto& row : rows) {
        QByteArray lying = pe;
        test::putU32(lying, row.at, row.value);
        EXPECT_FALSE(ReadFixedFileInfo(lying)) << row.name;
    }
}

class FileOperations : public ::testing::Test {
protected:
    FileOperations()
    {
        test::writeFile(a, "alpha");
        test::writeFile(b, "beta");
        QDir().mkpath(folder);
    }
    [[nodiscard]] QString in(const char* name) const { return folder + u'/' + QLatin1String(name); }

    test::TempHome home;
    QString a = home.file(QStringLiteral("a.txt"));
    QString b = home.file(QStringLiteral("b.txt"));
    QString folder = home.file(QStringLiteral("folder"));
};

TEST_F(FileOperations, NothingIsReplacedAndAFolderReceives)
{
    using R = clsFile::Result;
    const struct {
        const char* name;
        std::function<R(clsFile&)> op;
        R result;
        QString landsAt;
        bool sourceStays;
    } rows[] = {
        {"copy onto a file", [&](clsFile& f) { return f.FileCopy(b); }, R::Refused, {}, true},
        {"move onto a file", [&](clsFile& f) { return f.Move(b); }, R::Refused, {}, true},
        {"rename onto a file", [&](clsFile& f) { return f.Rename(b); }, R::Refused, {}, true},
        {"rename onto a folder", [&](clsFile& f) { return f.Rename(folder); }, R::Refused, {}, true},
        {"copy into a folder", [&](clsFile& f) { return f.FileCopy(folder); }, R::Done, in("a.txt"), true},
        {"move into a folder", [&](clsFile& f) { return f.Move(folder + u'/'); }, R::Done, in("a.txt"), false},
        {"rename", [&](clsFile& f) { return f.Rename(in("c.txt")); }, R::Done, in("c.txt"), false},
        {"first move", [&](clsFile& f) { return f.FirstMove(in("d.txt")); }, R::Done, in("d.txt"), false},
    };
    for (const auto& row : rows) {
        test::writeFile(a, "alpha");
        clsFile f = fileAt(a);
        EXPECT_EQ(row.op(f), row.result) << row.name;
        EXPECT_EQ(f.FileName(), a) << row.name;
        EXPECT_EQ(QFile::exists(a), row.sourceStays) << row.name;
        EXPECT_EQ(test::readFile(b), QByteArray("beta")) << row.name;
        EXPECT_EQ(f.errorString().isEmpty(), row.result == R::Done) << row.name;
        EXPECT_EQ(test::readFile(row.landsAt), row.landsAt.isEmpty() ? QByteArray() : QByteArray("alpha")) << row.name;
        QFile::remove(row.landsAt);
    }
    EXPECT_EQ(fileAt(home.file(QStringLiteral("gone"))).Move(folder), R::NothingThere);

    // A link moves as the link.
    test::writeFile(a, "alpha");
    EXPECT_EQ(fileAt(test::makeLink(a, home.file(QStringLiteral("link")))).Move(folder), R::Done);
    EXPECT_TRUE(QFileInfo(in("link")).isSymLink());
    EXPECT_EQ(test::readFile(a), QByteArray("alpha"));
}

TEST_F(FileOperations, InformationOfAPlainFileAndOfNothing)
{
    const clsFile f = fileAt(a);
    EXPECT_FALSE(f.Executable());
    EXPECT_EQ(f.ShortPathName(), a);
    EXPECT_GE(f.CompressedSize(), 0);
    EXPECT_EQ(f.LastWriteTime(), FormatFileTime(QFileInfo(a).lastModified()));
    EXPECT_EQ(f.Links(), 1);
    ASSERT_EQ(::link(test::native(a).constData(), test::native(home.file(QStringLiteral("hard"))).constData()), 0);
    EXPECT_EQ(f.Links(), 2);
    const clsFile missing = fileAt(home.file(QStringLiteral("missing")));
    EXPECT_EQ(missing.ShortPathName() + missing.LastWriteTime(), QString());
    EXPECT_EQ(missing.CompressedSize(), -1);
    EXPECT_EQ(missing.Links(), 0);
    EXPECT_EQ(fileAt(home.file(QString(600, u'n'))).ShortPathName(), QString());
}

TEST_F(FileOperations, AcrossFileSystemsMoveCopiesAndFirstMoveRefuses)
{
    const QString mount = home.file(QStringLiteral("other"));
    ASSERT_TRUE(QDir().mkpath(mount));
    const QString script = QStringLiteral(
        "mount -t tmpfs -o size=1m tmpfs \"$1\" || exit 100\n"
        "\"$2\" file firstmove \"$3\" \"$1/x.txt\"; echo first=$?\n"
        "\"$2\" file move \"$3\" \"$1\"; echo move=$?\n"
        "cat \"$1/a.txt\"; echo\n"
        "\"$2\" file move \"$4\" \"$1/a.txt\"; echo onto=$?\n");
    const test::ProcessResult r = test::runProgram(
        QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"), script,
                                    QStringLiteral("sh"), mount, QStringLiteral(DUSTMAW_CLI), a, b});
    if (r.exitCode == 100 || r.out.isEmpty())
        GTEST_SKIP() << "cannot mount a tmpfs in a mount namespace of its own here";
    EXPECT_EQ(r.out, QByteArray("first=1\nmove=0\nalpha\nonto=1\n"));
    EXPECT_TRUE(r.err.startsWith(QString::fromUtf16(kFirstMoveMessage).toUtf8() + '\n')) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(a));
    EXPECT_EQ(test::readFile(b), QByteArray("beta"));
}

} // namespace
} // namespace dm
