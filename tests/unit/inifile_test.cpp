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

using namespace dm;
using namespace std::string_view_literals;
namespace {

using Text = std::string_view;

QByteArray bytes(Text s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }
QString text(Text s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

class IniFileTest : public ::testing::Test {
protected:
    void given(std::optional<Text> contents, Text section = "S")
    {
        ini.setpFileName(path);
        QFile::remove(path);
        if (contents)
            test::writeFile(path, bytes(*contents));
        ini.setpSection(text(section));
    }

    test::TempHome home;
    QString path = home.file(u"DM.ini"_s);
    clsIniFile ini;
};

constexpr Text kComments = "[S]\r\nk=v ;c\r\n  ;k2=z\r\n#k3=y\r\n";

TEST_F(IniFileTest, ReadsValueOrDefaultCutAndIntegers)
{
    const struct { const char* name; std::optional<Text> file; Text section, key, def, expected; } rows[] = {
        {"blanks trimmed", "[S]\r\n \tk \t=\t v  x \r\n", "S", " k ", "d", "v  x"},
        {"tab in argument never matches", "[S]\r\nk=v\r\n", "\tS", "k", "d", "d"},
        {"no inline comment", kComments, "S", "k", "d", "v ;c"}, {"comment line", kComments, "S", ";k2", "d", "d"},
        {"hash ordinary", kComments, "S", "#k3", "d", "y"}, {"first one wins", "[S]\nk=1\nk=2\n", "S", "k", "d", "1"},
        {"key before any section", "k0=v0\r\n[S]\r\nk=v\r\n", "", "k0", "d", "d"},
        {"empty value", "[S]\nk=\n", "S", "k", "d", "d"}, {"no equals", "[S]\nk\n", "S", "k", "d", "d"},
        {"one quote pair stripped", "[S]\nk=\" 'x' \"\n", "S", "k", "d", " 'x' "},
        {"unclosed header", "[S   \nk=v\n", "S", "k", "d", "v"}, {"BOM", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "d", "v"},
        {"default loses trailing spaces", std::nullopt, "S", "k", "  d e  ", "  d e"}};
    for (const auto& c : rows) {
        given(c.file, c.section);
        EXPECT_EQ(ini.mGetString(text(c.key), text(c.def)), text(c.expected)) << c.name;
    }
    // Values and defaults are cut to 255 bytes without splitting a character; integers are the leading number, else
    // the default. Nothing is cached.
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

// A value that would not read back as written is refused (no file after), and the file not made.
TEST_F(IniFileTest, EditsInPlaceOrRefuses)
{
    const struct { const char* name; std::optional<Text> before; Text section, key, value; std::optional<Text> after; }
        rows[] = {
        {"creates missing file", std::nullopt, " App ", " key ", "", "[App]\nkey=\n"},
        {"keeps spelling and line end", "[Sec]\r\nKey=Val", "sEC", "kEY", "New", "[Sec]\r\nKey=New\r\n"},
        {"other lines alone", "[S]\n  Key = 1 \n; c\nj=1\n", "s", "key", " 2 ", "[S]\nKey= 2 \n; c\nj=1\n"},
        {"new key before comments", "[A]\na=1\n; B\n\n[B]\nb=2\n", "A", "c", "3", "[A]\na=1\nc=3\n; B\n\n[B]\nb=2\n"},
        {"new key right after a bare header", "[A]\n; c\n[B]\n", "A", "k", "v", "[A]\nk=v\n; c\n[B]\n"},
        {"new key after unterminated line", "[S]\na=1", "S", "k", "v", "[S]\na=1\nk=v\n"},
        {"new CRLF section after missing line end", "[A]\r\na=1", "B", "k", "v", "[A]\r\na=1\r\n[B]\r\nk=v\r\n"},
        {"CR file stays CR", "[A]\ra=1\r", "A", "b", "2", "[A]\ra=1\rb=2\r"},
        {"new key goes to first duplicate", "[S]\nk=1\n[S]\nk=2\n", "S", "j", "3", "[S]\nk=1\nj=3\n[S]\nk=2\n"},
        {"key outside sections untouched", "k=0\n[S]\n", "S", "k", "1", "k=0\n[S]\nk=1\n"},
        {"garbage kept byte for byte", "\x00\xff[\x80=\x02"sv, "S", "k", "v", "\x00\xff[\x80=\x02\n[S]\nk=v\n"sv},
        {"unicode ignoring case", "[Ärger]\nÖl=1\n", "ärger", "öl", "2", "[Ärger]\nÖl=2\n"},
        {"blank key", {}, "S", " ", "v", {}}, {"NUL", {}, "S", "k", "a\0b"sv, {}}, {"equals", {}, "S", "a=b", "v", {}},
        {"newline", {}, "S", "k", "a\n[S]\nk=2", {}}, {";key", {}, "S", ";k", "v", {}}, {"]", {}, "a]b", "k", "v", {}},
        // Found by fuzzing: a tab at either end is trimmed on reading.
        {"tab after key", {}, "S", "k\t", "v", {}}, {"tab before section", {}, "\tS", "k", "v", {}}};
    for (const auto& c : rows) {
        given(c.before, c.section);
        EXPECT_EQ(ini.mSetString(text(c.key), text(c.value)), c.after.has_value()) << c.name;
        EXPECT_EQ(test::readFile(path), bytes(c.after.value_or(""))) << c.name;
    }
}

// A write that cannot finish leaves the file as it was, or still missing, and nothing beside it.
// A rewrite keeps what the user made of the file: its mode, and a link stays a link whose target gets the text.
TEST_F(IniFileTest, RewriteKeepsModeAndLink)
{
    const QString target = home.file(u"kept.ini"_s);
    for (const bool link : {false, true}) {
        QFile::remove(path);
        test::makeFile(link ? target : path, "[S]\nk=1\n", 0604);
        if (link)
            test::makeLink(target, path);
        ini.setpFileName(path);
        ini.setpSection(u"S"_s);
        ASSERT_TRUE(ini.mSetString(u"k"_s, u"2"_s)) << link;
        struct stat st {};
        ::stat(test::native(path), &st);
        EXPECT_EQ(std::tuple(QFileInfo(path).isSymLink(), test::readFile(path), st.st_mode),
                  std::tuple(link, QByteArray("[S]\nk=2\n"), S_IFREG | 0604U)) << link;
    }
}

TEST_F(IniFileTest, UnfinishedWriteLeavesEverythingAsItWas)
{
    const Text old = "[S]\nk=1\n";
    const QByteArray large(300000, 'n');
    const auto set = [this] { return ini.mSetString(u"k"_s, QString(10000, u'x')); };
    const struct { const char* name; std::optional<Text> before; std::function<bool()> write; QByteArray after; }
        rows[] = { // each write returns whether it was done
        {"read-only folder", old, [&] { return test::chmodded(home.path(), 0555).isEmpty() || set(); }, bytes(old)},
        {"missing folder", {}, [&] { ini.setpFileName(home.file(u"sub/DM.ini"_s)); return set(); }, {}},
        // A file size limit makes the write fail the way a full disk does.
        {"full disk", old, [&] {
             rlimit was{};
             ::getrlimit(RLIMIT_FSIZE, &was);
             const rlimit limit{4096, was.rlim_max};
             std::signal(SIGXFSZ, SIG_IGN);
             const bool done = ::setrlimit(RLIMIT_FSIZE, &limit) != 0 || set();
             ::setrlimit(RLIMIT_FSIZE, &was);
             return done;
         }, bytes(old)},
        // Where renameat2 cannot refuse to replace (NFS, CIFS), a hard link must: the first makes the file.
        {"no replacing through a hard link", {}, [&] {
             AtomicFile::setLinkForNoReplace(true);
             AtomicFile first(path), second(path);
             const bool done = !(first.open() && first.write(large) && first.commit(AtomicFile::NoReplace))
                               || (second.open() && second.write(bytes(old)) && second.commit(AtomicFile::NoReplace));
             AtomicFile::setLinkForNoReplace(false);
             return done;
         }, large}};
    for (const auto& row : rows) {
        given(row.before);
        EXPECT_FALSE(row.write()) << row.name;
        test::chmodded(home.path(), 0700);
        EXPECT_EQ(std::pair(test::readFile(path), QDir(home.path()).entryList(QDir::Files | QDir::Hidden).join(u'|')),
                  std::pair(row.after, row.after.isNull() ? QString() : u"DM.ini"_s)) << row.name;
    }
}

} // namespace
