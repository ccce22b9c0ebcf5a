#include "services/Settings.h"

#include "services/HomeFolder.h"
#include "services/Numeric.h"
#include "services/clsFile.h"
#include "services/clsIniFile.h"

#include <QFile>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace dm {

float MsgWait = 1.0F;
std::int16_t AttSr = 0;
std::int16_t DeadAfter = 0;
std::int16_t FormTop = 0;
std::int16_t MsgType = 0;
std::int16_t Log = 0;
std::int16_t Minimize = 0;
std::int32_t EntryLeft = 0;
std::int32_t EntryTop = 0;
std::int32_t ParamLeft = 0;
std::int32_t ParamTop = 0;
bool EntryPlaced = false;
bool ParamPlaced = false;
std::int16_t Idle = kTrue;
QString CharaPath;
QString CharaPathBackup;

clsFile& FileObj()
{
    static clsFile obj;
    return obj;
}

clsIniFile& IniObj()
{
    static clsIniFile obj;
    return obj;
}

namespace {

bool isIgnoredInNumber(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n'); }

// strtod of the C locale: the decimal point is '.' whatever the user's locale.
locale_t cLocale()
{
    static const locale_t loc = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

// A value that does not fit its type is no value at all; validation then
// replaces it like any other invalid one.
template <class Int>
std::optional<Int> toWhole(const QString& text)
{
    Int v = 0;
    if (!roundToIntChecked(Val(text), v))
        return std::nullopt;
    return v;
}

std::optional<float> toSingle(const QString& text)
{
    const double v = Val(text);
    if (!(std::fabs(v) <= static_cast<double>(FLT_MAX)))
        return std::nullopt;
    return static_cast<float>(v);
}

std::int16_t validated(std::optional<std::int16_t> v, int lo, int hi, std::int16_t replacement)
{
    return v && *v >= lo && *v <= hi ? *v : replacement;
}

// The text of a Single as a user expects to read it: up to seven significant
// digits, no trailing zeros ("1500", "12.5", "-15").
QString singleText(float v)
{
    if (!std::isfinite(v) || v == 0.0F)
        return QStringLiteral("0");
    return QString::number(static_cast<double>(v), 'g', 7);
}

// The character file must still be there and readable; a relative path
// would depend on the folder the program happens to start in.
bool usableCharaPath(const QString& path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return false;
    clsFile f;
    f.setFileName(path);
    return f.Enabled();
}

QString key(const char* name) { return QString::fromLatin1(name); }

} // namespace

double Val(QStringView text)
{
    // The accepted characters in strtod's syntax.
    std::string number;
    qsizetype i = 0;
    const auto skipIgnored = [&] {
        while (i < text.size() && isIgnoredInNumber(text[i]))
            ++i;
    };
    const auto atDigit = [&] {
        skipIgnored();
        return i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9');
    };
    const auto atOneOf = [&](const char* chars) {
        skipIgnored();
        if (i >= text.size())
            return false;
        for (const char* c = chars; *c != '\0'; ++c) {
            if (text[i] == QLatin1Char(*c))
                return true;
        }
        return false;
    };

    if (atOneOf("+-"))
        number += text[i++].toLatin1();
    bool digits = false;
    for (; atDigit(); ++i, digits = true)
        number += text[i].toLatin1();
    if (atOneOf(".")) {
        number += '.';
        for (++i; atDigit(); ++i, digits = true)
            number += text[i].toLatin1();
    }
    if (!digits)
        return 0.0;
    if (atOneOf("EeDd")) {
        std::string exponent = "e";
        ++i;
        if (atOneOf("+-"))
            exponent += text[i++].toLatin1();
        bool expDigits = false;
        for (; atDigit(); ++i, expDigits = true)
            exponent += text[i].toLatin1();
        // "12e" is 12: the exponent counts only with its digits.
        if (expDigits)
            number += exponent;
    }
    return ::strtod_l(number.c_str(), nullptr, cLocale());
}

void ResetSettings()
{
    CharaPath.clear();
    CharaPathBackup.clear();
    Idle = kTrue;
    MsgWait = 1.0F;
    AttSr = 0;
    DeadAfter = 0;
    FormTop = 0;
    MsgType = 0;
    Minimize = 0;
    // Start-up runs this while these still hold their process start value;
    // setting them again lets each test start from the same state.
    Log = 0;
    EntryLeft = 0;
    EntryTop = 0;
    ParamLeft = 0;
    ParamTop = 0;
    EntryPlaced = false;
    ParamPlaced = false;
    FileObj() = clsFile();
    IniObj() = clsIniFile();
}

bool SettingsFileExists()
{
    struct stat st {};
    return ::stat(QFile::encodeName(IniPath()).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

SavedPosition ReadSettings()
{
    SavedPosition saved;
    if (!SettingsFileExists())
        return saved;

    clsIniFile& ini = IniObj();
    ini.setpFileName(IniPath());
    const QString zero = QStringLiteral("0");
    const auto text = [&ini](const char* name, const QString& def) { return ini.mGetString(key(name), def); };

    ini.setpSection(QStringLiteral("Setting"));
    const std::optional<float> msgWait = toSingle(text("MsgWait", QStringLiteral("10")));
    const auto attSr = toWhole<std::int16_t>(text("AttSr", zero));
    const auto deadAfter = toWhole<std::int16_t>(text("DeadAfter", zero));
    const auto formTop = toWhole<std::int16_t>(text("FormTop", QString::number(FormTop)));
    const auto msgType = toWhole<std::int16_t>(text("MsgType", QString::number(MsgType)));
    const auto left = toWhole<std::int32_t>(text("Left", zero));
    const auto top = toWhole<std::int32_t>(text("Top", zero));
    const QString defaultChara = text("DefaultChara", QString());
    const auto log = toWhole<std::int16_t>(text("Log", zero));
    const auto minimize = toWhole<std::int16_t>(text("Minimize", zero));
    // Read without a default: an empty text is 0 as the default "0" is, and
    // a window has a place only when both keys hold a value.
    ini.setpSection(QStringLiteral("Entry"));
    const QString entryLeftText = text("Left", QString());
    const QString entryTopText = text("Top", QString());
    const auto entryLeft = toWhole<std::int32_t>(entryLeftText);
    const auto entryTop = toWhole<std::int32_t>(entryTopText);
    ini.setpSection(QStringLiteral("Param"));
    const QString paramLeftText = text("Left", QString());
    const QString paramTopText = text("Top", QString());
    const auto paramLeft = toWhole<std::int32_t>(paramLeftText);
    const auto paramTop = toWhole<std::int32_t>(paramTopText);

    MsgWait = 1.0F;
    if (msgWait) {
        const float w = *msgWait;
        if (w == 2.0F || w == 5.0F || w == 10.0F || w == 13.0F || w == 16.0F)
            MsgWait = w / 10.0F;
    }
    AttSr = validated(attSr, 0, 4, 0);
    DeadAfter = validated(deadAfter, 0, 1, 0);
    // A stored 0 (written when no DM.ini existed at start) reads as -2.
    FormTop = validated(formTop, -2, -1, -2);
    MsgType = validated(msgType, 0, 2, 0);
    CharaPath = usableCharaPath(defaultChara) ? defaultChara : QString();
    Log = validated(log, 0, 1, 0);
    Minimize = validated(minimize, 0, 1, 0);
    // Positions take any value that fits; one that does not reads as 0.
    EntryLeft = entryLeft.value_or(0);
    EntryTop = entryTop.value_or(0);
    ParamLeft = paramLeft.value_or(0);
    ParamTop = paramTop.value_or(0);
    EntryPlaced = !entryLeftText.isEmpty() && !entryTopText.isEmpty();
    ParamPlaced = !paramLeftText.isEmpty() && !paramTopText.isEmpty();
    saved.Left = left.value_or(0);
    saved.Top = top.value_or(0);
    return saved;
}

bool WriteSettings(float left, float top)
{
    clsIniFile& ini = IniObj();
    ini.setpFileName(IniPath());
    bool ok = true;
    // Every key is tried even after a failure, so one refused value does not
    // lose the others.
    const auto put = [&](const char* name, const QString& value) { ok = ini.mSetString(key(name), value) && ok; };

    ini.setpSection(QStringLiteral("Setting"));
    put("MsgWait", singleText(MsgWait * 10.0F));
    put("AttSr", QString::number(AttSr));
    put("DeadAfter", QString::number(DeadAfter));
    put("FormTop", QString::number(FormTop));
    put("MsgType", QString::number(MsgType));
    put("Left", singleText(left));
    put("Top", singleText(top));
    put("DefaultChara", CharaPath);
    // "Log" is never written: a value the user put in by hand stays.
    put("Minimize", QString::number(Minimize));
    // A window that never had a place keeps none: it opens beside the hero.
    if (EntryPlaced) {
        ini.setpSection(QStringLiteral("Entry"));
        put("Left", QString::number(EntryLeft));
        put("Top", QString::number(EntryTop));
    }
    if (ParamPlaced) {
        ini.setpSection(QStringLiteral("Param"));
        put("Left", QString::number(ParamLeft));
        put("Top", QString::number(ParamTop));
    }
    return ok;
}

} // namespace dm
