// Arbitrary bytes as a profile file: its keys are read (a few dozen at most),
// then a key is written and must read back as written.
#include "services/clsIniFile.h"

#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // tmpfs, since every write of the profile file is flushed to disk; a folder
    // of its own, since every write also looks through the folder for leftovers.
    static const QString path = [] {
        const QByteArray base
            = qEnvironmentVariableIsEmpty("DUSTMAW_FUZZ_DIR") ? "/dev/shm" : qgetenv("DUSTMAW_FUZZ_DIR");
        const QString dir = QFile::decodeName(base) + QStringLiteral("/dustmaw-fuzz-%1").arg(::getpid());
        QDir().mkpath(dir);
        return dir + QStringLiteral("/DM.ini");
    }();
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    dm::clsIniFile ini;
    ini.setpFileName(path);
    QStringList sections;
    ini.mEmnumSection(sections);
    // Every read parses the whole file again: a few dozen keys reach every
    // branch, thousands would only slow the search down.
    int reads = 0;
    for (const QString& section : sections) {
        ini.setpSection(section);
        QStringList lines;
        ini.mEnumSectionString(lines);
        for (const QString& line : lines) {
            if (++reads > 32)
                break;
            const QString key = line.section(QLatin1Char('='), 0, 0);
            static_cast<void>(ini.mGetString(key, QStringLiteral("d")));
            static_cast<void>(ini.mGetInteger(key, 7));
        }
    }

    // The value is the input's first bytes, short enough never to be cut,
    // between brackets: blanks and quotes around a value are not read back.
    const QString value = QLatin1Char('<')
        + QString::fromUtf8(reinterpret_cast<const char*>(data),
                            static_cast<qsizetype>(std::min<std::size_t>(size, 40)))
        + QLatin1Char('>');
    ini.setpSection(sections.isEmpty() ? QStringLiteral("Fuzz") : sections.front());
    if (ini.mSetString(QStringLiteral("FuzzKey"), value)) {
        const QString back = ini.mGetString(QStringLiteral("FuzzKey"), QStringLiteral("<default>"));
        if (back != value)
            __builtin_trap();
    }
    return 0;
}
