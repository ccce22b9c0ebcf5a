#pragma once
// One profile (INI) file and a current section, read and written with the
// rules of the Windows profile calls, so a DM.ini behaves the same whether a
// user edits it by hand or copies it from elsewhere. Files are UTF-8.
//
// There is no cache: every call reads the file as it is on disk, so hand
// edits between calls are seen. Every write rewrites the file aside and
// renames it over the old one; untouched lines keep their bytes.
#include <QString>
#include <QStringList>

#include <cstdint>

namespace dm {

class clsIniFile {
public:
    // Fills `astrSections` with every section name in file order, duplicates
    // included; returns how many. A missing file gives 0 and leaves the array
    // as it was.
    std::int32_t mEmnumSection(QStringList& astrSections) const;
    // Fills `astrLines` with the lines of the current section ("key=value" as
    // written, comments and blank lines left out); returns how many.
    std::int32_t mEnumSectionString(QStringList& astrLines) const;

    [[nodiscard]] const QString& pFileName() const { return m_fileName; }
    void setpFileName(const QString& strNewFileName) { m_fileName = strNewFileName; }
    [[nodiscard]] const QString& pSection() const { return m_section; }
    void setpSection(const QString& strNewValue) { m_section = strNewValue; }

    // Creates the file, section or key as needed, or replaces the value.
    // False (and the file untouched) when it cannot be written, or when the
    // key, section or value could not be read back as given (a line break in
    // any of them, '=' in the key, ']' in the section name).
    [[nodiscard]] bool mSetString(const QString& strKey, const QString& strValue) const;
    // The value, cut to 255 bytes of UTF-8 without splitting a character;
    // `strDefault` when the file, section or key is missing or the value is
    // empty.
    [[nodiscard]] QString mGetString(const QString& strKey, const QString& strDefault = QString()) const;
    // The leading integer of the value (decimal, or hexadecimal after "0x");
    // 0 when the value does not start with one; `intDefault` when the key is
    // missing, empty, or holds a number outside -32768..32767.
    [[nodiscard]] std::int16_t mGetInteger(const QString& strKey, std::int16_t intDefault = 0) const;

private:
    QString m_fileName;
    QString m_section;
};

// Splits a list of NUL-terminated entries into `array` at indices 0, 1, ...,
// stopping at the first empty entry; returns the count. The array ends up
// with exactly `count` entries, or stays as it was when the list is empty.
std::int32_t SplitNulList(const QString& text, QStringList& array);

} // namespace dm
