// Arbitrary file names and sizes as combatants: the check header and the
// whole derivation. Input: a name length, the name, four size bytes, then
// the file's first bytes.
#include "character/CharaFile.h"
#include "character/LoadChara.h"

#include <QByteArray>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 5)
        return 0;
    const std::size_t nameLength = std::min<std::size_t>(data[0], size - 5);
    QByteArray name(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(nameLength));
    name.replace('/', '_');
    name.replace('\0', '_');
    if (name.isEmpty() || name == "." || name == "..")
        name = "x";
    std::uint32_t fileSize = 0;
    std::memcpy(&fileSize, data + 1 + nameLength, 4);
    const std::uint8_t* head = data + 5 + nameLength;
    const std::size_t headLength = size - 5 - nameLength;

    static const QByteArray folder
        = (qEnvironmentVariableIsEmpty("DUSTMAW_FUZZ_DIR") ? QByteArray("/dev/shm") : qgetenv("DUSTMAW_FUZZ_DIR"))
        + "/dustmaw-fuzz-" + QByteArray::number(::getpid());
    ::mkdir(folder.constData(), 0700);
    const QByteArray path = folder + '/' + name;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    // Sparse: only the size and the first bytes matter.
    const bool made = ::ftruncate(fd, static_cast<off_t>(fileSize)) == 0
        && ::pwrite(fd, head, std::min<std::size_t>(headLength, fileSize), 0) >= 0;
    ::close(fd);
    if (made) {
        const QString file = QFile::decodeName(path);
        static_cast<void>(dm::CheckCharaFile(file));
        dm::CharaRecord chara;
        dm::CharaRecord item;
        if (dm::LoadChara(file, chara, item) == 0) {
            static_cast<void>(dm::WithItemApplied(chara, item));
            static_cast<void>(dm::NextLevelExperience(chara));
        }
    }
    ::unlink(path.constData());
    return 0;
}
