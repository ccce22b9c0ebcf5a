// The profile file object against files as users and other programs leave
// them: reading, integers, in-place writing, enumeration, atomic rewrite.
#include "services/clsIniFile.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <ostream>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace std::string_view_literals;

namespace dm {
namespace {

using test::CaseName;
using test::PrintTo;

QByteArray bytes(std::string_view s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }
QString text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

class IniFileTest : public ::testing::Test {
protected:
    IniFileTest() { ini.setpFileName(path); }
    void given(std::optional<std::string_view> contents)
    {
        if (contents)
            test::writeFile(path, bytes(*contents));
    }

    test::TempHome home;
    QString path = home.file(QStringLiteral("DM.ini"));
    clsIniFile ini;
};

struct ReadCase {
    const char* name;
    std::optional<std::string_view> file; // none: no file
    std::string_view section, key, def, expected;
};
class IniRead : public IniFileTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(IniRead, ValueOrDefault)
{
    const ReadCase& c = GetParam();
    given(c.file);
    ini.setpSection(text(c.section));
    EXPECT_EQ(ini.mGetString(text(c.key), text(c.def)), text(c.expected));
}

constexpr std::string_view kComments = "[S]\r\nk=v ;c\r\n  ;k2=z\r\n#k3=y\r\n";
constexpr std::string_view kDuplicates = "[S]\r\nk=first\r\nk=2nd\r\n[S]\r\nj=1\r\n";

INSTANTIATE_TEST_SUITE_P(Rules, IniRead, ::testing::Values(
    ReadCase{"NamesIgnoreCase", "[Sec]\r\nKey=Val\r\n", "sEC", "kEY", "d", "Val"},
    ReadCase{"BlanksTrimmed", "[S]\r\n \tk \t=\t v  x \r\n", "S", " k ", "d", "v  x"},
    ReadCase{"TabInArgumentNeverMatches", "[S]\r\nk=v\r\n", "\tS", "k", "d", "d"},
    ReadCase{"NoInlineComment", kComments, "S", "k", "d", "v ;c"},
    ReadCase{"CommentLineIsNoKey", kComments, "S", ";k2", "d", "d"},
    ReadCase{"HashIsOrdinary", kComments, "S", "#k3", "d", "y"},
    ReadCase{"FirstKeyWins", kDuplicates, "S", "k", "d", "first"},
    ReadCase{"LaterSectionOfSameNameNotSearched", kDuplicates, "S", "j", "d", "d"},
    ReadCase{"KeyBeforeAnySectionUnreadable", "k0=v0\r\n[S]\r\nk=v\r\n", "", "k0", "d", "d"},
    ReadCase{"EmptyValueGivesDefault", "[S]\nk=\n", "S", "k", "d", "d"},
    ReadCase{"LineWithoutEqualsIsNoKey", "[S]\nk\n", "S", "k", "d", "d"},
    ReadCase{"OuterQuotesStripped", "[S]\nk=\" a \"\n", "S", "k", "d", " a "},
    ReadCase{"OnlyOneQuotePairStripped", "[S]\nk=''x''\n", "S", "k", "d", "'x'"},
    ReadCase{"MismatchedQuotesKept", "[S]\nk='x\"\n", "S", "k", "d", "'x\""},
    ReadCase{"HeaderWithoutBracket", "[S   \nk=v\n", "S", "k", "d", "v"},
    ReadCase{"CrOnlyLineEnds", "[S]\rk=v\rj=w", "S", "j", "d", "w"},
    ReadCase{"ByteOrderMarkSkipped", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "d", "v"},
    ReadCase{"JapaneseValueWhole", "[S]\nk=日本語の値\n", "S", "k", "d", "日本語の値"},
    ReadCase{"DefaultLosesTrailingSpaces", std::nullopt, "S", "k", "  d e  ", "  d e"}), CaseName());

TEST_F(IniFileTest, CutAt255BytesWithoutSplittingCharacters)
{
    const struct {
        QString prefix, unit;
        int units, kept;
    } cases[] = {{QString(), QStringLiteral("x"), 300, 255},
                 {QStringLiteral("a"), QStringLiteral("あ"), 100, 84},
                 {QStringLiteral("abc"), QStringLiteral("あ"), 100, 84},
                 {QString(), QStringLiteral("😀"), 70, 63}};
    ini.setpSection(QStringLiteral("S"));
    for (const auto& c : cases) {
        const QString value = c.prefix + c.unit.repeated(c.units);
        test::writeFile(path, "[S]\nk=" + value.toUtf8() + '\n');
        EXPECT_EQ(ini.mGetString(QStringLiteral("k")), c.prefix + c.unit.repeated(c.kept));
        EXPECT_EQ(ini.mGetString(QStringLiteral("none"), value), c.prefix + c.unit.repeated(c.kept));
    }
}

TEST_F(IniFileTest, EveryCallSeesTheFileAsItIsNow)
{
    ini.setpSection(QStringLiteral("S"));
    given("[S]\nk=1\n"sv);
    EXPECT_EQ(ini.mGetString(QStringLiteral("k")), QStringLiteral("1"));
    given("[S]\nk=2\n"sv);
    EXPECT_EQ(ini.mGetInteger(QStringLiteral("k")), 2);
}

TEST_F(IniFileTest, IntegersLeadingNumberOrDefault)
{
    const struct {
        std::string_view line;
        std::int16_t expected; // with default 7
    } cases[] = {{"k=\" 12\"", 12}, {"k=+1", 1},      {"k=-1", -1},     {"k=0x1F", 31},  {"k=42A9", 42},
                 {"k=B42", 0},      {"k=", 7},        {"", 7},          {"k=-32768", -32768},
                 {"k=32768", 7},    {"k=0xFFFFFFFFFFFFFFFFFFFF", 7}};
    ini.setpSection(QStringLiteral("S"));
    for (const auto& c : cases) {
        test::writeFile(path, "[S]\n" + bytes(c.line) + '\n');
        EXPECT_EQ(ini.mGetInteger(QStringLiteral("k"), 7), c.expected) << c.line;
    }
}

struct WriteCase {
    const char* name;
    std::optional<std::string_view> before;
    std::string_view section, key, value, after;
};
class IniWrite : public IniFileTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(IniWrite, EditsInPlace)
{
    const WriteCase& c = GetParam();
    given(c.before);
    ini.setpSection(text(c.section));
    ASSERT_TRUE(ini.mSetString(text(c.key), text(c.value)));
    EXPECT_EQ(test::readFile(path), bytes(c.after));
}

INSTANTIATE_TEST_SUITE_P(Rules, IniWrite, ::testing::Values(
    WriteCase{"CreatesMissingFile", std::nullopt, " App ", " key ", "", "[App]\nkey=\n"},
    WriteCase{"ReplaceKeepsSpellingAndLineEnd", "[SectionName]\r\nTestKey=TestValue", "SECTIONNAME", "TESTKEY", "New",
              "[SectionName]\r\nTestKey=New\r\n"},
    WriteCase{"ReplaceLeavesOtherLinesAlone", "; top\n[Setting]\n  MsgWait = 10 \n; note\nAttSr=1\n", "setting",
              "msgwait", " 16 ", "; top\n[Setting]\nMsgWait= 16 \n; note\nAttSr=1\n"},
    WriteCase{"NewKeyAfterLastEntryBeforeComments", "[A]\na=1\n; about B\n\n[B]\nb=2\n", "A", "c", "3",
              "[A]\na=1\nc=3\n; about B\n\n[B]\nb=2\n"},
    WriteCase{"NewKeyRightAfterHeaderWhenNoEntries", "[A]\n; c\n[B]\n", "A", "k", "v", "[A]\nk=v\n; c\n[B]\n"},
    WriteCase{"NewKeyAfterUnterminatedLastLine", "[S]\na=1", "S", "k", "v", "[S]\na=1\nk=v\n"},
    WriteCase{"NewSectionAtEndAfterMissingLineEnd", "[A]\na=1", "B", "k", "v", "[A]\na=1\n[B]\nk=v\n"},
    WriteCase{"CrLfFileStaysCrLf", "[A]\r\na=1\r\n", "B", "k", "v", "[A]\r\na=1\r\n[B]\r\nk=v\r\n"},
    WriteCase{"CrFileStaysCr", "[A]\ra=1\r", "A", "b", "2", "[A]\ra=1\rb=2\r"},
    WriteCase{"NewKeyGoesToFirstDuplicate", "[S]\nk=1\n[S]\nk=2\n", "S", "j", "3", "[S]\nk=1\nj=3\n[S]\nk=2\n"},
    WriteCase{"KeyOutsideSectionsUntouched", "k=0\n[S]\n", "S", "k", "1", "k=0\n[S]\nk=1\n"},
    WriteCase{"GarbageKeptByteForByte", "\x00\xff\xfe[\x80=\x02"sv, "S", "k", "v", "\x00\xff\xfe[\x80=\x02\n[S]\nk=v\n"sv},
    WriteCase{"UnicodeNamesMatchIgnoringCase", "[Ärger]\nÖl=1\n", "ärger", "öl", "2", "[Ärger]\nÖl=2\n"}), CaseName());

TEST_F(IniFileTest, RefusesWhatWouldNotReadBack)
{
    const QByteArray before = "; mine\n[S]\nk=1\n";
    test::writeFile(path, before);
    const std::string_view cases[][3] = {{"S", " ", "v"},  {"S", "k", "a\n[S]\nk=2"}, {"S", "k", "a\0b"sv},
                                         {"S", "a=b", "v"}, {"S", ";k", "v"},         {"a]b", "k", "v"}};
    for (const auto& c : cases) {
        ini.setpSection(text(c[0]));
        EXPECT_FALSE(ini.mSetString(text(c[1]), text(c[2]))) << c[1] << '=' << c[2];
    }
    EXPECT_EQ(test::readFile(path), before);
}

TEST_F(IniFileTest, UnwritableLeavesEverythingAsItWas)
{
    const struct {
        mode_t fileMode; // 0: no file
        mode_t folderMode;
    } cases[] = {{0444, 0755}, {0644, 0555}, {0, 0555}};
    const QString folder = home.file(QStringLiteral("sub"));
    const QString file = folder + QStringLiteral("/DM.ini");
    const QByteArray before = "[S]\nk=1\n";
    ini.setpFileName(file);
    ini.setpSection(QStringLiteral("S"));
    EXPECT_FALSE(ini.mSetString(QStringLiteral("k"), QStringLiteral("2"))); // folder missing
    ASSERT_TRUE(QDir().mkdir(folder));
    for (const auto& c : cases) {
        QFile::remove(file);
        if (c.fileMode != 0) {
            test::writeFile(file, before);
            ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), c.fileMode), 0);
        }
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), c.folderMode), 0);
        EXPECT_FALSE(ini.mSetString(QStringLiteral("k"), QStringLiteral("2")));
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
        EXPECT_EQ(test::readFile(file), c.fileMode != 0 ? before : QByteArray());
        // No temporary file left behind.
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), c.fileMode != 0 ? 1 : 0);
    }
}

TEST_F(IniFileTest, FullDiskLeavesOldBytes)
{
    const QByteArray before = "[S]\nk=1\n";
    test::writeFile(path, before);
    ini.setpSection(QStringLiteral("S"));
    // A file size limit makes the write fail the way a full disk does.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = ini.mSetString(QStringLiteral("k"), QString(10000, QLatin1Char('x')));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(test::readFile(path), before);
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(SplitNulList, EntriesUntilFirstEmptyOne)
{
    const QStringList ab{QStringLiteral("a"), QStringLiteral("b")};
    const struct {
        std::string_view list;
        QStringList before;
        int count;
        QStringList after;
    } cases[] = {{"a\0b\0\0"sv, {}, 2, ab},
                 {"a\0b\0\0"sv, {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}, 2, ab},
                 {"\0\0"sv, {QStringLiteral("keep")}, 0, {QStringLiteral("keep")}},
                 {"a\0\0b\0\0"sv, {}, 1, {QStringLiteral("a")}},
                 {"a\0b"sv, {}, 1, {QStringLiteral("a")}}};
    for (const auto& c : cases) {
        QStringList array = c.before;
        EXPECT_EQ(SplitNulList(text(c.list), array), c.count);
        EXPECT_EQ(array, c.after);
    }
}

TEST_F(IniFileTest, Enumerations)
{
    QStringList names{QStringLiteral("kept")};
    QStringList lines = names;
    EXPECT_EQ(ini.mEmnumSection(names), 0); // no file
    EXPECT_EQ(names, QStringList{QStringLiteral("kept")});

    given("k0=v\n[ S ]\n a = 1 \n; c\n\nb=\"2\"\njunk\n=v\n[b]x\nt=1\n;[c]\n[s]\nlate=1\n"sv);
    EXPECT_EQ(ini.mEmnumSection(names), 3);
    EXPECT_EQ(names, (QStringList{QStringLiteral("S"), QStringLiteral("b"), QStringLiteral("s")}));
    ini.setpSection(QStringLiteral("S"));
    EXPECT_EQ(ini.mEnumSectionString(lines), 4);
    EXPECT_EQ(lines, (QStringList{QStringLiteral("a = 1"), QStringLiteral("b=\"2\""), QStringLiteral("junk"), QStringLiteral("=v")}));
}

TEST_F(IniFileTest, LongSectionCutAtBufferEnd)
{
    // 1000 entries of 32 bytes and a NUL: 32765 bytes fit before the two
    // closing NULs, 992 whole entries and 29 bytes of the next.
    QByteArray file = "[S]\n";
    for (int i = 0; i < 1000; ++i)
        file += QByteArray::number(i).rightJustified(4, '0') + '=' + QByteArray(27, 'v') + '\n';
    test::writeFile(path, file);
    ini.setpSection(QStringLiteral("S"));
    QStringList lines;
    EXPECT_EQ(ini.mEnumSectionString(lines), 993);
    ASSERT_EQ(lines.size(), 993);
    EXPECT_EQ(lines[992], QStringLiteral("0992=") + QString(24, QLatin1Char('v')));
}

} // namespace
} // namespace dm
