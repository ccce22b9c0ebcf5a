// The file object's information and operations: Japanese file times, the
// version resource of Windows programs and its texts, copy, move and rename.
#include "services/VersionInfo.h"
#include "services/clsFile.h"
#include "support/PeBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>

namespace dm {
namespace {

using test::PeLayout;

TEST(FormatFileTime, JapaneseDateWithPaddedWeekday)
{
    const struct {
        QDateTime at;
        const char* text;
    } cases[] = {
        {{{1999, 7, 4}, {9, 5, 3}}, "1999年7月4日 日曜日    9:5:3"},
        {{{1999, 12, 31}, {23, 59, 59}}, "1999年12月31日 金曜日    23:59:59"},
        {{{2000, 1, 3}, {0, 0, 0}}, "2000年1月3日 月曜日    0:0:0"},
        {{{2026, 12, 8}, {12, 0, 10}}, "2026年12月8日 火曜日    12:0:10"},
        {{{2026, 12, 9}, {1, 2, 3}}, "2026年12月9日 水曜日    1:2:3"},
        {{{2026, 12, 10}, {1, 2, 3}}, "2026年12月10日 木曜日    1:2:3"},
        {{{2026, 12, 12}, {1, 2, 3}}, "2026年12月12日 土曜日    1:2:3"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatFileTime(c.at), QString::fromUtf8(c.text));
}

TEST(VersionTexts, EveryCodeOfEveryProperty)
{
    using Row = std::pair<std::uint32_t, const char*>;
    const auto check = [](const std::function<QString(std::uint32_t)>& text, std::initializer_list<Row> rows) {
        for (const auto& [code, expected] : rows)
            EXPECT_EQ(text(code), QString::fromUtf8(expected)) << code;
    };
    check(FileTypeText, {{0, "不明"}, {1, "ｱﾌﾟﾘｹｰｼｮﾝ"}, {2, "ﾀﾞｲﾅﾐｯｸﾘﾝｸﾗｲﾌﾞﾗﾘ"}, {3, "ﾃﾞﾊﾞｲｽﾄﾞﾗｲﾊﾞ"}, {4, "ﾌｫﾝﾄ"},
                         {5, "仮想ﾃﾞﾊﾞｲｽﾄﾞﾗｲﾊﾞ"}, {6, ""}, {7, "ｽﾀﾃｲｯｸﾗｲﾌﾞﾗﾘ"}, {8, ""}});
    check([](std::uint32_t s) { return FileSubtypeText(3, s); },
          {{0, "不明"}, {1, "ﾌﾟﾘﾝﾀﾄﾞﾗｲﾊﾞ"}, {2, "ｷｰﾎﾞｰﾄﾞﾄﾞﾗｲﾊﾞ"}, {3, "言語ﾄﾞﾗｲﾊﾞ"}, {4, "ﾃﾞｨｽﾌﾟﾚｲﾄﾞﾗｲﾊﾞ"},
           {5, "ﾏｳｽﾄﾞﾗｲﾊﾞ"}, {6, "ﾈｯﾄﾜｰｸﾄﾞﾗｲﾊﾞ"}, {7, "ｼｽﾃﾑﾄﾞﾗｲﾊﾞ"}, {8, "ｲﾝｽﾄｰﾙﾄﾞﾗｲﾊﾞ"}, {9, "ｻｳﾝﾄﾞﾄﾞﾗｲﾊﾞ"},
           {10, "通信ﾄﾞﾗｲﾊﾞ"}, {11, "IMEﾄﾞﾗｲﾊﾞ"}, {12, ""}});
    check([](std::uint32_t s) { return FileSubtypeText(4, s); },
          {{0, ""}, {1, "ﾗｽﾀｰﾌｫﾝﾄ"}, {2, "ﾍﾞｸﾀｰﾌｫﾝﾄ"}, {3, "ﾄｩﾙｰﾀｲﾌﾟﾌｫﾝﾄ"}, {4, ""}});
    check([](std::uint32_t t) { return FileSubtypeText(t, 3); }, {{0, "不明"}, {1, "不明"}, {7, "不明"}});
    check(FileOSText, {{0, "不明"}, {1, "16bit Windows"}, {2, "16bit Presentation Manager"},
                       {3, "32bit Presentation Manager"}, {4, "32bit Windows"}, {0x10000, "DOS"},
                       {0x10001, "DOS上の16bit Windows"}, {0x10004, "DOS上の32bit Windows"}, {0x20000, "16bit OS/2"},
                       {0x20002, "16bit OS/2上のPresentation Manager"}, {0x30000, "32bit OS/2"},
                       {0x30003, "32bit OS/2上のPresentation Manager"}, {0x40000, "Windows NT"},
                       {0x40004, "32bit Windows NT"}, {0x40001, ""}, {5, ""}});
    check(BuildTypeText, {{0, "不明"}, {1, "ﾃﾞﾊﾞｯｸﾞﾋﾞﾙﾄﾞ"}, {2, "ﾌﾟﾚﾘﾘｰｽﾋﾞﾙﾄﾞ"}, {3, "不明"}, {4, "ﾊﾟｯﾁﾋﾞﾙﾄﾞ"},
                          {8, "ﾌﾟﾗｲﾍﾞｰﾄﾋﾞﾙﾄﾞ"}, {16, ""}, {32, "ｽﾍﾟｼｬﾙﾋﾞﾙﾄﾞ"}, {64, "不明"}});
    EXPECT_EQ(VersionNumberText(40000U << 16 | 1, 2U << 16 | 3), QStringLiteral("40000.1.2.3"));
    EXPECT_EQ(VersionNumberText(0xFFFFFFFFU, 0), QStringLiteral("65535.65535.0.0"));
}

FixedFileInfo sampleInfo()
{
    FixedFileInfo f{};
    f.signature = kFixedFileInfoSignature;
    f.fileVersionMS = 40000U << 16 | 1;
    f.fileVersionLS = 2U << 16 | 3;
    f.productVersionMS = 1U << 16;
    f.fileFlags = 2;
    f.fileOS = 0x40004;
    f.fileType = 4;
    f.fileSubtype = 3;
    return f;
}

TEST(PeVersion, ReadThroughTheFileObject)
{
    test::TempHome home;
    for (const bool plus : {false, true}) {
        const QString path = home.file(plus ? QStringLiteral("app64.exe") : QStringLiteral("app.exe"));
        test::writeFile(path, test::BuildPe(sampleInfo(), plus));
        clsFile f;
        f.setFileName(path);
        EXPECT_TRUE(f.Executable());
        EXPECT_EQ(f.FileVersion(), QStringLiteral("40000.1.2.3"));
        EXPECT_EQ(f.ProductVersion(), QStringLiteral("1.0.0.0"));
        EXPECT_EQ(f.FileType(), QStringLiteral("ﾌｫﾝﾄ"));
        EXPECT_EQ(f.FileSubtype(), QStringLiteral("ﾄｩﾙｰﾀｲﾌﾟﾌｫﾝﾄ"));
        EXPECT_EQ(f.FileOS(), QStringLiteral("32bit Windows NT"));
        EXPECT_EQ(f.BuildType(), QStringLiteral("ﾌﾟﾚﾘﾘｰｽﾋﾞﾙﾄﾞ"));
    }
    // A text file has none of it.
    const QString text = home.file(QStringLiteral("notes.txt"));
    test::writeFile(text, "MZ is how this note begins");
    clsFile f;
    f.setFileName(text);
    EXPECT_EQ(f.FileVersion(), QString());
    EXPECT_EQ(f.FileType(), QStringLiteral("不明"));
    EXPECT_EQ(f.FileSubtype(), QStringLiteral("不明"));
    EXPECT_EQ(f.BuildType(), QStringLiteral("不明"));
}

TEST(PeVersion, EveryTruncationGivesNothing)
{
    const QByteArray pe = test::BuildPe(sampleInfo());
    ASSERT_TRUE(ReadFixedFileInfo(pe.left(PeLayout::kEnd)));
    for (int length = 0; length < PeLayout::kEnd; ++length)
        ASSERT_FALSE(ReadFixedFileInfo(pe.left(length))) << length;
}

struct Spoil {
    const char* name;
    int at;
    std::uint32_t value;
};

TEST(PeVersion, LyingFilesGiveNothing)
{
    const int r = PeLayout::kSectionRaw;
    const int section = PeLayout::kPeHeader + 24 + 224;
    const Spoil spoils[] = {
        {"header far beyond the file", 0x3C, 0xFFFFFFF0U},
        {"sections beyond any PE", PeLayout::kPeHeader + 6, 0xFFFF},
        {"section raw data past 4 GiB", section + 20, 0xFFFFFFF0U},
        {"resource directory claiming 131070 entries", r + 12, 0xFFFFFFFFU},
        {"directory that points back at itself", r + 0x2C, 0x80000018U},
        {"language entry that is a directory again", r + 0x44, 0x80000000U},
        {"version data outside every section", r + 0x48, 0xFFFFFFF0U},
        {"version data too short", r + 0x4C, 60},
        {"wrong signature", r + PeLayout::kFixedInfo, 0xFEEF04BC},
        {"wrong key", r + PeLayout::kVersionBlock + 6, 0x00580058},
        {"no resource directory", PeLayout::kPeHeader + 24 + 96 + 16, 0},
    };
    for (const Spoil& s : spoils) {
        QByteArray pe = test::BuildPe(sampleInfo());
        test::putU32(pe, s.at, s.value);
        EXPECT_FALSE(ReadFixedFileInfo(pe)) << s.name;
    }
}

class FileOperations : public ::testing::Test {
protected:
    test::TempHome home;
    QString a = home.file(QStringLiteral("a.txt"));
    QString folder = home.file(QStringLiteral("folder"));
    FileOperations()
    {
        test::writeFile(a, "alpha");
        QDir().mkpath(folder);
    }
    QString in(const char* name) const { return folder + QLatin1Char('/') + QLatin1String(name); }
    clsFile file(const QString& path) const
    {
        clsFile f;
        f.setFileName(path);
        return f;
    }
};

TEST_F(FileOperations, NothingIsReplacedAndAFolderReceives)
{
    const QString b = home.file(QStringLiteral("b.txt"));
    test::writeFile(b, "beta");
    using R = clsFile::Result;
    const struct {
        const char* name;
        std::function<R(clsFile&)> op;
        R result;
        QString landsAt;
        bool sourceStays;
    } cases[] = {
        {"copy onto a file", [&](clsFile& f) { return f.FileCopy(b); }, R::Refused, {}, true},
        {"move onto a file", [&](clsFile& f) { return f.Move(b); }, R::Refused, {}, true},
        {"rename onto a file", [&](clsFile& f) { return f.Rename(b); }, R::Refused, {}, true},
        {"rename onto a folder", [&](clsFile& f) { return f.Rename(folder); }, R::Refused, {}, true},
        {"copy into a folder", [&](clsFile& f) { return f.FileCopy(folder); }, R::Done, in("a.txt"), true},
        {"move into a folder", [&](clsFile& f) { return f.Move(folder + u'/'); }, R::Done, in("a.txt"), false},
        {"rename", [&](clsFile& f) { return f.Rename(in("c.txt")); }, R::Done, in("c.txt"), false},
        {"first move", [&](clsFile& f) { return f.FirstMove(in("d.txt")); }, R::Done, in("d.txt"), false},
    };
    for (const auto& c : cases) {
        test::writeFile(a, "alpha");
        clsFile f = file(a);
        EXPECT_EQ(c.op(f), c.result) << c.name;
        EXPECT_EQ(f.FileName(), a) << c.name;
        EXPECT_EQ(QFile::exists(a), c.sourceStays) << c.name;
        EXPECT_EQ(test::readFile(b), QByteArray("beta")) << c.name;
        if (!c.landsAt.isEmpty()) {
            EXPECT_EQ(test::readFile(c.landsAt), QByteArray("alpha")) << c.name;
            QFile::remove(c.landsAt);
        } else {
            EXPECT_FALSE(f.errorString().isEmpty()) << c.name;
        }
    }
    EXPECT_EQ(file(home.file(QStringLiteral("gone"))).Move(folder), R::NothingThere);
}

TEST_F(FileOperations, ALinkMovesAsTheLink)
{
    const QString link = home.file(QStringLiteral("link"));
    ASSERT_EQ(::symlink("a.txt", QFile::encodeName(link).constData()), 0);
    clsFile f = file(link);
    EXPECT_EQ(f.Move(folder), clsFile::Result::Done);
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/link")).isSymLink());
    EXPECT_EQ(test::readFile(a), QByteArray("alpha"));
}

TEST_F(FileOperations, InformationOfAPlainFile)
{
    clsFile f = file(a);
    EXPECT_FALSE(f.Executable());
    EXPECT_EQ(f.ShortPathName(), a);
    EXPECT_EQ(f.Links(), 1);
    EXPECT_GE(f.CompressedSize(), 0);
    EXPECT_EQ(f.LastWriteTime(), FormatFileTime(QFileInfo(a).lastModified()));
    ASSERT_EQ(::link(QFile::encodeName(a).constData(), QFile::encodeName(home.file(QStringLiteral("hard"))).constData()), 0);
    EXPECT_EQ(f.Links(), 2);
    clsFile missing = file(home.file(QStringLiteral("missing")));
    EXPECT_EQ(missing.ShortPathName(), QString());
    EXPECT_EQ(missing.CompressedSize(), -1);
    EXPECT_EQ(missing.LastWriteTime(), QString());
    EXPECT_EQ(missing.Links(), 0);
    EXPECT_EQ(file(home.file(QString(600, QLatin1Char('n')))).ShortPathName(), QString());
}

TEST_F(FileOperations, AcrossFileSystemsMoveCopiesAndFirstMoveRefuses)
{
    if (test::runProgram(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("true")}).exitCode != 0)
        GTEST_SKIP() << "cannot make a mount namespace here";
    const QString mount = home.file(QStringLiteral("other"));
    ASSERT_TRUE(QDir().mkpath(mount));
    const QString b = home.file(QStringLiteral("b.txt"));
    test::writeFile(b, "beta");
    const QString script = QStringLiteral(
        "mount -t tmpfs -o size=1m tmpfs \"$1\" || exit 100\n"
        "\"$2\" file firstmove \"$3\" \"$1/x.txt\"; echo first=$?\n"
        "\"$2\" file move \"$3\" \"$1\"; echo move=$?\n"
        "cat \"$1/a.txt\"; echo\n"
        "\"$2\" file move \"$4\" \"$1/a.txt\"; echo onto=$?\n");
    const test::ProcessResult r = test::runProgram(
        QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"), script,
                                    QStringLiteral("sh"), mount, QStringLiteral(DUSTMAW_CLI), a, b});
    if (r.exitCode == 100)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    EXPECT_EQ(r.out, QByteArray("first=1\nmove=0\nalpha\nonto=1\n"));
    EXPECT_TRUE(r.err.startsWith(QString::fromUtf16(kFirstMoveMessage).toUtf8() + '\n')) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(a));
    EXPECT_EQ(test::readFile(b), QByteArray("beta"));
}

} // namespace
} // namespace dm
