#include "character/CharaFile.h"

#include "character/CharaRecord.h"
#include "services/AtomicFile.h"
#include "services/Numeric.h"
#include "services/Random.h"
#include "services/Settings.h"
#include "services/clsFile.h"

#include <QFile>

#include <array>

namespace dm {

CharaRecord Chara;
CharaRecord CharaItem;

void ResetSharedState()
{
    ResetSettings();
    Chara = CharaRecord();
    CharaItem = CharaRecord();
}

namespace {
constexpr std::array<int, 3> kDigitOffsets = {97, 65, 48};
constexpr qint64 kHeaderSize = 10;
} // namespace

int CheckSum(std::int32_t n)
{
    const QByteArray text = QByteArray::number(n);
    int sum = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int code = static_cast<unsigned char>(text.at(i));
        sum += (code * (i % 2 == 0 ? 3 : 7)) % 256;
    }
    return sum % 256;
}

QByteArray CheckHeader(std::int32_t size)
{
    const int value = CheckSum(size);
    const int digits[3] = {value / 100, value / 10 % 10, value % 10};
    QByteArray header(kHeaderSize, '\0');
    for (int i = 0; i < 3; ++i)
        header[i] = static_cast<char>('0' + digits[i] + kDigitOffsets[static_cast<size_t>(i)]);
    for (int i = 3; i < kHeaderSize; ++i) {
        // A draw at or above 255.5/256 would round to 256, which is no byte.
        const int b = roundToInt<int>(static_cast<double>(Rnd()) * 256.0);
        header[i] = static_cast<char>(b > 255 ? 255 : b);
    }
    return header;
}

char FillerByte() { return static_cast<char>(roundToInt<int>(static_cast<double>(Rnd()) * 140.0 + 32.0)); }

int StoredCheckValue(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray head = f.read(3);
    int value = 0;
    for (int i = 0; i < 3; ++i) {
        int digit = 0;
        if (i < head.size()) {
            const int code = static_cast<unsigned char>(head.at(i)) - kDigitOffsets[static_cast<size_t>(i)];
            if (code >= '0' && code <= '9')
                digit = code - '0';
        }
        value = value * 10 + digit;
    }
    return value;
}

bool CheckCharaFile(const QString& path)
{
    clsFile file;
    file.setFileName(path);
    const std::int32_t size = file.Size();
    if (size < 0)
        return false;
    return StoredCheckValue(path) == CheckSum(size);
}

namespace {

// Copies the next `bytes` bytes of `in` to `out`.
bool copyBytes(QFile& in, AtomicFile& out, qint64 bytes)
{
    while (bytes > 0) {
        const QByteArray chunk = in.read(std::min<qint64>(bytes, 1 << 20));
        if (chunk.isEmpty() || !out.write(chunk))
            return false;
        bytes -= chunk.size();
    }
    return true;
}

} // namespace

bool GrowCharacterFile(const QString& path, std::int32_t growAt, std::int32_t gain, QString* error)
{
    // The grown file is written aside and renamed over the old one, so the
    // path holds the old valid file or the new valid file at every instant.
    // The gain is written in full, however large: the experience was earned.
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = in.errorString();
        return false;
    }
    const qint64 oldSize = in.size();
    const qint64 grown = std::max(oldSize, qint64{growAt} + gain);
    if (grown > INT32_MAX) {
        *error = QStringLiteral("the character file would pass 2 GiB");
        return false;
    }

    QByteArray filler(gain, '\0');
    for (char& c : filler)
        c = FillerByte();
    const QByteArray header = CheckHeader(static_cast<std::int32_t>(grown));

    AtomicFile out(path);
    // The filler goes right after the experience the battle started with,
    // then the header is stamped over the first bytes.
    bool ok = out.open() && copyBytes(in, out, std::min<qint64>(growAt, oldSize));
    if (ok && oldSize < growAt)
        ok = out.write(QByteArray(growAt - oldSize, '\0'));
    ok = ok && out.write(filler);
    if (ok && oldSize > qint64{growAt} + gain)
        ok = in.seek(qint64{growAt} + gain) && copyBytes(in, out, oldSize - growAt - gain);
    ok = ok && out.writeAt(0, header) && out.commit();
    if (!ok) {
        *error = out.errorString().isEmpty() ? in.errorString() : out.errorString();
        return false;
    }
    return true;
}

} // namespace dm
