#pragma once
// The character file: any bytes, its size is the experience, and a three-byte
// check header at offset 0 ties it to that size.
#include <QByteArray>
#include <QString>

#include <cstdint>

namespace dm {

// The check value 0..255 of a file size.
[[nodiscard]] int CheckSum(std::int32_t n);

// The ten bytes of offsets 0..9 for a file of `size` bytes: the check header
// and seven random bytes.
[[nodiscard]] QByteArray CheckHeader(std::int32_t size);

// One byte for creating or growing a character file: a code 32..172.
[[nodiscard]] char FillerByte();

// Appends `gain` filler bytes after the first `growAt` bytes (the experience
// the character had) and re-stamps the check header, written aside and
// renamed. False, with the reason, when it cannot: the file stays as it was.
[[nodiscard]] bool GrowCharacterFile(const QString& path, std::int32_t growAt, std::int32_t gain, QString* error);

// True when the file's check header matches its current size.
[[nodiscard]] bool CheckCharaFile(const QString& path);

// The header value stored in the file's first three bytes (what
// CheckCharaFile compares with CheckSum of the size), or -1 when the file
// cannot be read.
[[nodiscard]] int StoredCheckValue(const QString& path);

} // namespace dm
