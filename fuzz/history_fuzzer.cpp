// Arbitrary bytes as a battle record: whatever of it can be read, written
// back in its final form, must read back to the very same record.
#include "battle/History.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<dm::BattleRecord> record = dm::ParseBattleRecord(bytes);
    if (!record)
        return 0;
    const QByteArray written = dm::SerializeBattleRecord(*record);
    const std::optional<dm::BattleRecord> again = dm::ParseBattleRecord(written);
    if (!again || again->badLines != 0 || dm::SerializeBattleRecord(*again) != written)
        std::abort();
    return 0;
}
