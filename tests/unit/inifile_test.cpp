// The profile file object against files as users and other programs leave them, and the atomic rewrite beneath
// every file the user keeps.
#include "services/AtomicFile.h"
#include "services/clsIniFile.h"
#include "support/TestSupport.h"

#include <csignal>
#include <functional>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace std::string_view_literals;

namespace dm {
namespace {

using test::PrintTo;
using Text = std::string_view;

QByteArray bytes(Text s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }
QString text(Text s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

class IniFileTest : public ::testing::Test {
protected:
    IniFileTest() { ini.setpFileName(path); }
    void given(std::optional<Text> contents, Text section = "S")
    {
        if (contents)
            test::writeFile(path, bytes(*contents));
        ini.setpSection(text(section));
    }

    test::TempHome home;
    QString path = home.file(u"DM.ini"_s);
    clsIniFile ini;
};

constexpr Text kComments = "[S]\r\nk=v ;c\r\n  ;k2=z\r\n#k3=y\r\n";
constexpr Text kDuplicates = "[S]\r\nk=first\r\nk=2nd\r\n[S]\r\nj=1\r\n";

TEST_F(IniFileTest, ReadsValueOrDefault)
{
    const struct { const char* name; std::optional<Text> file; Text section, key, def, expected; } rows[] = {
        {"names ignore case", "[Sec]\r\nKey=Val\r\n", "sEC", "kEY", "d", "Val"},
        {"blanks trimmed", "[S]\r\n \tk \t=\t v  x \r\n", "S", " k ", "d", "v  x"},
        {"tab in argument never matches", "[S]\r\nk=v\r\n", "\tS", "k", "d", "d"},
        {"no inline comment", kComments, "S", "k", "d", "v ;c"}, {"comment line", kComments, "S", ";k2", "d", "d"},
        {"hash is ordinary", kComments, "S", "#k3", "d", "y"}, {"first key wins", kDuplicates, "S", "k", "d", "first"},
        {"later section of same name", kDuplicates, "S", "j", "d", "d"},
        {"key before any section", "k0=v0\r\n[S]\r\nk=v\r\n", "", "k0", "d", "d"},
        {"empty value", "[S]\nk=\n", "S", "k", "d", "d"}, {"no equals", "[S]\nk\n", "S", "k", "d", "d"},
        {"one quote pair stripped", "[S]\nk=\" 'x' \"\n", "S", "k", "d", " 'x' "},
        {"header without bracket", "[S   \nk=v\n", "S", "k", "d", "v"},
        {"CR line ends", "[S]\rk=v\rj=w", "S", "j", "d", "w"},
        {"byte order mark", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "d", "v"},
        {"default loses trailing spaces", std::nullopt, "S", "k", "  d e  ", "  d e"}};
    for (const auto& c : rows) {
        QFile::remove(path);
        given(c.file, c.section);
        EXPECT_EQ(ini.mGetString(text(c.key), text(c.def)), text(c.expected)) << c.name;
    }
}

// Values and defaults are cut to 255 bytes without splitting a character; integers are the leading number, else
// the default. Nothing is cached.
TEST_F(IniFileTest, CutValuesAndIntegers)
{
    for (const auto& [value, cutTo] : {std::pair{QString(300, u'x'), 255}, {u"😀"_s.repeated(70), 126}}) {
        given("[S]\nk=" + value.toStdString() + '\n');
        EXPECT_EQ(ini.mGetString(u"k"_s), value.left(cutTo));
        EXPECT_EQ(ini.mGetString(u"none"_s, value), value.left(cutTo));
    }
    const struct { Text line; std::int16_t expected; /* with default 7 */ } integers[] = {{"k=\" 0x1F\"", 31},
        {"k=42A9", 42}, {"k=B42", 0}, {"k=", 7}, {"k=-32768", -32768}, {"k=32768", 7}};
    for (const auto& row : integers) {
        given("[S]\n" + std::string(row.line) + '\n');
        EXPECT_EQ(ini.mGetInteger(u"k"_s, 7), row.expected) << row.line;
    }
}

TEST_F(IniFileTest, EditsInPlace)
{
    const struct { const char* name; std::optional<Text> before; Text section, key, value, after; } rows[] = {
        {"creates missing file", std::nullopt, " App ", " key ", "", "[App]\nkey=\n"},
        {"replace keeps spelling and line end", "[SectionName]\r\nTestKey=TestValue", "SECTIONNAME", "TESTKEY", "New",
         "[SectionName]\r\nTestKey=New\r\n"},
        {"replace leaves other lines alone", "; top\n[Setting]\n  MsgWait = 10 \n; note\nAttSr=1\n", "setting",
         "msgwait", " 16 ", "; top\n[Setting]\nMsgWait= 16 \n; note\nAttSr=1\n"},
        {"new key after last entry, before comments", "[A]\na=1\n; about B\n\n[B]\nb=2\n", "A", "c", "3",
         "[A]\na=1\nc=3\n; about B\n\n[B]\nb=2\n"},
        {"new key right after a header without entries", "[A]\n; c\n[B]\n", "A", "k", "v", "[A]\nk=v\n; c\n[B]\n"},
        {"new key after unterminated last line", "[S]\na=1", "S", "k", "v", "[S]\na=1\nk=v\n"},
        {"new CRLF section after missing line end", "[A]\r\na=1", "B", "k", "v", "[A]\r\na=1\r\n[B]\r\nk=v\r\n"},
        {"CR file stays CR", "[A]\ra=1\r", "A", "b", "2", "[A]\ra=1\rb=2\r"},
        {"new key goes to first duplicate", "[S]\nk=1\n[S]\nk=2\n", "S", "j", "3", "[S]\nk=1\nj=3\n[S]\nk=2\n"},
        {"key outside sections untouched", "k=0\n[S]\n", "S", "k", "1", "k=0\n[S]\nk=1\n"},
        {"garbage kept byte for byte", "\x00\xff[\x80=\x02"sv, "S", "k", "v", "\x00\xff[\x80=\x02\n[S]\nk=v\n"sv},
        {"unicode names match ignoring case", "[Ärger]\nÖl=1\n", "ärger", "öl", "2", "[Ärger]\nÖl=2\n"}};
    for (const auto& c : rows) {
        QFile::remove(path);
        given(c.before, c.section);
        EXPECT_TRUE(ini.mSetString(text(c.key), text(c.value))) << c.name;
        EXPECT_EQ(test::readFile(path), bytes(c.after)) << c.name;
    }
}

TEST_F(IniFileTest, RefusesWhatWouldNotReadBack)
{
    const Text before = "; mine\n[S]\nk=1\n";
    // The last two, found by fuzzing: a tab at either end is trimmed on reading.
    const Text rows[][3] = {{"S", " ", "v"}, {"S", "k", "a\n[S]\nk=2"}, {"S", "k", "a\0b"sv}, {"S", "a=b", "v"},
                            {"S", ";k", "v"}, {"a]b", "k", "v"}, {"S", "k\t", "v"}, {"\tS", "k", "v"}};
    given(before);
    for (const auto& row : rows) {
        ini.setpSection(text(row[0]));
        EXPECT_FALSE(ini.mSetString(text(row[1]), text(row[2]))) << row[1] << '=' << row[2];
    }
    EXPECT_EQ(test::readFile(path), bytes(before));
}

// A write that cannot finish leaves the file as it was, or still missing, and nothing beside it.
TEST_F(IniFileTest, UnfinishedWriteLeavesEverythingAsItWas)
{
    const QByteArray old = "[S]\nk=1\n", large(300000, 'n');
    const auto set = [this] { return ini.mSetString(u"k"_s, QString(10000, u'x')); };
    const auto noReplace = [this](const QByteArray& contents) {
        AtomicFile f(path);
        return f.open() && f.write(contents) && f.commit(AtomicFile::NoReplace);
    };
    // Each write returns whether it was done.
    const struct { const char* name; QByteArray before; std::function<bool()> write; QByteArray after; } rows[] = {
        {"read-only file", old, [&] { return test::chmodded(path, 0444).isEmpty() || set(); }, old},
        {"read-only folder", old, [&] { return test::chmodded(home.path(), 0555).isEmpty() || set(); }, old},
        {"missing folder", {}, [&] { ini.setpFileName(home.file(u"sub/DM.ini"_s)); return set(); }, {}},
        // A file size limit makes the write fail the way a full disk does.
        {"full disk", old, [&] {
             rlimit was{};
             ::getrlimit(RLIMIT_FSIZE, &was);
             const rlimit limit{4096, was.rlim_max};
             const auto handler = std::signal(SIGXFSZ, SIG_IGN);
             const bool done = ::setrlimit(RLIMIT_FSIZE, &limit) != 0 || set();
             ::setrlimit(RLIMIT_FSIZE, &was);
             std::signal(SIGXFSZ, handler);
             return done;
         }, old},
        // Where renameat2 cannot refuse to replace (NFS, CIFS), a hard link must: the first makes the file.
        {"no replacing through a hard link", {}, [&] {
             AtomicFile::setLinkForNoReplace(true);
             const bool done = !noReplace(large) || noReplace(old);
             AtomicFile::setLinkForNoReplace(false);
             return done;
         }, large}};
    ini.setpSection(u"S"_s);
    for (const auto& row : rows) {
        QFile::remove(path);
        ini.setpFileName(path);
        if (!row.before.isNull())
            test::writeFile(path, row.before);
        EXPECT_FALSE(row.write()) << row.name;
        test::chmodded(home.path(), 0700);
        EXPECT_EQ(test::readFile(path), row.after) << row.name;
        EXPECT_EQ(QDir(home.path()).entryList(QDir::Files | QDir::Hidden).join(u'|'),
                  row.after.isNull() ? QString() : u"DM.ini"_s) << row.name;
    }
}

} // namespace
} // namespace dm
