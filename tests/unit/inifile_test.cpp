// The profile file object against files as users and other programs leave
// them: reading, integers, in-place writing, enumeration; and the atomic
// rewrite beneath every file the user keeps.
#include "services/AtomicFile.h"
#include "services/clsIniFile.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

using namespace std::string_view_literals;

namespace dm {
namespace {

using test::CaseName;
using test::PrintTo;
using Text = std::string_view;

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
    // Every file in the folder, temporary ones included.
    [[nodiscard]] static QStringList files(const QString& folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden);
    }

    test::TempHome home;
    QString path = home.file(QStringLiteral("DM.ini"));
    clsIniFile ini;
};

struct ReadCase { const char* name; std::optional<Text> file; Text section, key, def, expected; };
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

// The same object reads each case's file afresh: nothing is cached.
TEST_F(IniFileTest, CutAt255BytesWithoutSplittingCharacters)
{
    const struct { QString prefix, unit; int units, kept; } rows[] = {
        {QString(), QStringLiteral("x"), 300, 255}, {QStringLiteral("a"), QStringLiteral("あ"), 100, 84},
        {QStringLiteral("abc"), QStringLiteral("あ"), 100, 84}, {QString(), QStringLiteral("😀"), 70, 63}};
    ini.setpSection(QStringLiteral("S"));
    for (const auto& row : rows) {
        const QString value = row.prefix + row.unit.repeated(row.units);
        test::writeFile(path, "[S]\nk=" + value.toUtf8() + '\n');
        EXPECT_EQ(ini.mGetString(QStringLiteral("k")), row.prefix + row.unit.repeated(row.kept));
        EXPECT_EQ(ini.mGetString(QStringLiteral("none"), value), row.prefix + row.unit.repeated(row.kept));
    }
}

TEST_F(IniFileTest, IntegersLeadingNumberOrDefault)
{
    const struct { std::string_view line; std::int16_t expected; /* with default 7 */ } rows[] = {
        {"k=\" 12\"", 12}, {"k=+1", 1}, {"k=-1", -1}, {"k=0x1F", 31}, {"k=42A9", 42}, {"k=B42", 0}, {"k=", 7},
        {"", 7}, {"k=-32768", -32768}, {"k=32768", 7}, {"k=0xFFFFFFFFFFFFFFFFFFFF", 7}};
    ini.setpSection(QStringLiteral("S"));
    for (const auto& row : rows) {
        test::writeFile(path, "[S]\n" + bytes(row.line) + '\n');
        EXPECT_EQ(ini.mGetInteger(QStringLiteral("k"), 7), row.expected) << row.line;
    }
}

struct WriteCase { const char* name; std::optional<Text> before; Text section, key, value, after; };
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
    WriteCase{"GarbageKeptByteForByte", "\x00\xff\xfe[\x80=\x02"sv, "S", "k", "v",
              "\x00\xff\xfe[\x80=\x02\n[S]\nk=v\n"sv},
    WriteCase{"UnicodeNamesMatchIgnoringCase", "[Ärger]\nÖl=1\n", "ärger", "öl", "2", "[Ärger]\nÖl=2\n"}), CaseName());

TEST_F(IniFileTest, RefusesWhatWouldNotReadBack)
{
    const QByteArray before = "; mine\n[S]\nk=1\n";
    test::writeFile(path, before);
    const Text rows[][3] = {{"S", " ", "v"}, {"S", "k", "a\n[S]\nk=2"}, {"S", "k", "a\0b"sv}, {"S", "a=b", "v"},
                            {"S", ";k", "v"}, {"a]b", "k", "v"}, {"S", "k\t", "v"}, {"\tS", "k", "v"}};
    for (const auto& row : rows) {
        ini.setpSection(text(row[0]));
        EXPECT_FALSE(ini.mSetString(text(row[1]), text(row[2]))) << row[1] << '=' << row[2];
    }
    EXPECT_EQ(test::readFile(path), before);
}

// A write that cannot finish leaves the file as it was, or still missing,
// and nothing beside it. Each write returns whether it was done.
TEST_F(IniFileTest, UnfinishedWriteLeavesEverythingAsItWas)
{
    const QByteArray old = "[S]\nk=1\n", large(300000, 'n');
    const auto chmodded = [](const QString& p, mode_t m) { return ::chmod(QFile::encodeName(p).constData(), m) == 0; };
    const auto set = [this] { return ini.mSetString(QStringLiteral("k"), QString(10000, u'x')); };
    const auto noReplace = [this](const QByteArray& contents) {
        AtomicFile f(path);
        return f.open() && f.write(contents) && f.commit(AtomicFile::NoReplace);
    };
    const struct { const char* name; QByteArray before; std::function<bool()> write; QByteArray after; } rows[] = {
        {"read-only file", old, [&] { return !chmodded(path, 0444) || set(); }, old},
        {"read-only folder", old, [&] { return !chmodded(home.path(), 0555) || set(); }, old},
        {"new file in a read-only folder", {}, [&] { return !chmodded(home.path(), 0555) || set(); }, {}},
        {"missing folder", {}, [&] { ini.setpFileName(home.file(QStringLiteral("sub/DM.ini"))); return set(); }, {}},
        // A file size limit makes the write fail the way a full disk does.
        {"full disk", old,
         [&] {
             struct rlimit limit {};
             ::getrlimit(RLIMIT_FSIZE, &limit);
             const rlim_t was = std::exchange(limit.rlim_cur, 4096);
             const auto handler = std::signal(SIGXFSZ, SIG_IGN);
             const bool done = ::setrlimit(RLIMIT_FSIZE, &limit) != 0 || set();
             limit.rlim_cur = was;
             ::setrlimit(RLIMIT_FSIZE, &limit);
             std::signal(SIGXFSZ, handler);
             return done;
         },
         old},
        // Where renameat2 cannot refuse to replace (NFS, CIFS), a hard link
        // must: the first no-replace write makes the file, the second fails.
        {"no replacing through a hard link", {},
         [&] {
             AtomicFile::setLinkForNoReplace(true);
             const bool done = !noReplace(large) || noReplace(old);
             AtomicFile::setLinkForNoReplace(false);
             return done;
         },
         large},
    };
    for (const auto& row : rows) {
        QFile::remove(path);
        ini.setpFileName(path);
        ini.setpSection(QStringLiteral("S"));
        if (!row.before.isNull())
            test::writeFile(path, row.before);
        EXPECT_FALSE(row.write()) << row.name;
        chmodded(home.path(), 0700);
        EXPECT_EQ(test::readFile(path), row.after) << row.name;
        EXPECT_EQ(files(home.path()).join(u'|'), row.after.isNull() ? QString() : QStringLiteral("DM.ini")) << row.name;
    }
}

// A killed writer leaves its temporary file behind; the next write into the
// folder removes it, but never a live writer's nor anything else.
TEST_F(IniFileTest, LeftoversOfKilledWritersAreRemoved)
{
    const pid_t dead = ::fork();
    if (dead == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    // %1: the writer's process, gone or (live) this one.
    const struct { const char* name; bool live, kept; } rows[] = {
        {".DM.ini.dustmaw-%1-Ab3xYz", false, false}, {".Hero.dmf.dustmaw-%1-Ab3xYz", false, false},
        {".DM.ini.dustmaw-%1-Ab3xYz", true, true}, {"DM.ini.dustmaw-%1-Ab3xYz", false, true},
        {".DM.ini.dustmaw-%1-notes.txt", false, true}};
    const auto file = [&](const auto& row) {
        return home.file(QString::fromLatin1(row.name).arg(row.live ? ::getpid() : dead));
    };
    for (const auto& row : rows)
        test::writeFile(file(row), "half");
    ASSERT_TRUE(writeFileAtomically(path, "[S]\n"));
    for (const auto& row : rows)
        EXPECT_EQ(QFile::exists(file(row)), row.kept) << file(row).toStdString();
}

// An empty list leaves the array as it was; any other gives it exactly its entries.
TEST_F(IniFileTest, Enumerations)
{
    QStringList names{QStringLiteral("kept")};
    EXPECT_EQ(ini.mEmnumSection(names), 0); // no file
    given("k0=v\n"sv);
    EXPECT_EQ(ini.mEmnumSection(names), 0); // no section
    EXPECT_EQ(names, QStringList{QStringLiteral("kept")});
    given("[a]\n[]\n[b]\n"sv);
    EXPECT_EQ(ini.mEmnumSection(names), 1); // the list ends at an empty name

    given("k0=v\n[ S ]\n a = 1 \n; c\n\nb=\"2\"\njunk\n=v\n[b]x\nt=1\n;[c]\n[s]\nlate=1\n"sv);
    EXPECT_EQ(ini.mEmnumSection(names), 3);
    EXPECT_EQ(names.join(u'|'), QStringLiteral("S|b|s"));
    ini.setpSection(QStringLiteral("S"));
    QStringList lines(9, QStringLiteral("old"));
    EXPECT_EQ(ini.mEnumSectionString(lines), 4);
    EXPECT_EQ(lines.join(u'|'), QStringLiteral("a = 1|b=\"2\"|junk|=v"));

    // A section too long for the list buffer loses its end: of 1000 entries of
    // 32 bytes and a NUL, 992 whole ones and 29 bytes of the next fit before
    // the two closing NULs.
    QByteArray file = "[L]\n";
    for (int i = 0; i < 1000; ++i)
        file += QByteArray::number(i).rightJustified(4, '0') + '=' + QByteArray(27, 'v') + '\n';
    test::writeFile(path, file);
    ini.setpSection(QStringLiteral("L"));
    EXPECT_EQ(ini.mEnumSectionString(lines), 993);
    EXPECT_EQ(lines.value(992), QStringLiteral("0992=") + QString(24, u'v'));
}

} // namespace
} // namespace dm
