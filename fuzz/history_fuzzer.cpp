// Arbitrary bytes as a battle record: whatever of it can be read, written
// back in its final form, must read back to the very same record. Inputs
// whose first byte is odd get the lines' checksums added, so that the
// search reaches the parser behind them.
#include "battle/History.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (!bytes.isEmpty() && (bytes.front() & 1) != 0) {
        QByteArray sealed;
        for (const QByteArray& line : bytes.mid(1).split('\n')) {
            char crc[10];
            std::snprintf(
                crc, sizeof crc, "\t%08lx",
                ::crc32(0L, reinterpret_cast<const Bytef*>(line.constData()), static_cast<uInt>(line.size())));
            sealed += line + crc + '\n';
        }
        bytes = sealed;
    }
    const std::optional<dm::BattleRecord> record = dm::ParseBattleRecord(bytes);
    if (!record)
        return 0;
    const QByteArray written = dm::SerializeBattleRecord(*record);
    const std::optional<dm::BattleRecord> again = dm::ParseBattleRecord(written);
    if (!again || again->badLines != 0 || dm::SerializeBattleRecord(*again) != written)
        std::abort();
    return 0;
}
