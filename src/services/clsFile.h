#pragma once
// A small object standing for one file named by a full path. Callers set
// FileName, then read properties or call methods; nothing else carries over.
#include <QString>

#include <cstdint>
#include <sys/stat.h>

namespace dm {

class clsFile {
public:
    // Attribute bits, with the values the rest of the program knows them by.
    enum Attribute : std::uint16_t {
        AttrReadOnly = 1,
        AttrHidden = 2,
        AttrSystem = 4,
        AttrDirectory = 16,
        AttrArchive = 32,
    };

    // One open-and-stat of the file, for callers that need several answers
    // without opening it again for each.
    struct Probe {
        bool enabled = false;
        struct stat st {};
        [[nodiscard]] bool isDirectory() const { return !enabled || S_ISDIR(st.st_mode); }
        [[nodiscard]] std::int32_t size() const;
    };

    [[nodiscard]] const QString& FileName() const { return m_fileName; }
    void setFileName(const QString& strFileName) { m_fileName = strFileName; }

    [[nodiscard]] bool Enabled() const;
    [[nodiscard]] std::int32_t Size() const;

    [[nodiscard]] bool Archive() const { return GetAttrBit(AttrArchive); }
    [[nodiscard]] bool setArchive(bool vNewValue) { return SetAttrBit(AttrArchive, vNewValue); }
    [[nodiscard]] bool Hidden() const { return GetAttrBit(AttrHidden); }
    [[nodiscard]] bool setHidden(bool vNewValue) { return SetAttrBit(AttrHidden, vNewValue); }
    [[nodiscard]] bool System() const { return GetAttrBit(AttrSystem); }
    [[nodiscard]] bool setSystem(bool vNewValue) { return SetAttrBit(AttrSystem, vNewValue); }
    [[nodiscard]] bool Directory() const;
    [[nodiscard]] bool ReadOnly() const { return GetAttrBit(AttrReadOnly); }
    [[nodiscard]] bool setReadOnly(bool vNewValue) { return SetAttrBit(AttrReadOnly, vNewValue); }

    // What Trash and Delete did. NothingThere: the file is not Enabled (gone,
    // a folder, unreadable, a dangling link), so nothing was touched.
    // Refused: the file stays where it was and errorString() says why.
    enum class [[nodiscard]] Disposal { Done, NothingThere, Refused };
    // Sends the file to the trash, or unlinks it for good. A symbolic link
    // goes as the link; its target is never touched.
    [[nodiscard]] Disposal Trash();
    [[nodiscard]] Disposal Delete();

    [[nodiscard]] QString Extension() const;
    [[nodiscard]] QString ShortFileName() const;
    [[nodiscard]] QString LongPathName() const;
    // The same, without looking the entry up again when the probe found it.
    [[nodiscard]] QString LongPathName(const Probe& p) const;

    [[nodiscard]] Probe probe() const;
    // Why the last attribute change, Trash or Delete was refused.
    [[nodiscard]] const QString& errorString() const { return m_error; }

    // The attribute bits of a probed file, for callers that test several.
    [[nodiscard]] std::uint16_t attributes(const Probe& p) const;

private:
    [[nodiscard]] bool GetAttrBit(std::uint16_t bit) const;
    [[nodiscard]] bool SetAttrBit(std::uint16_t bit, bool value);
    [[nodiscard]] Disposal dispose(bool (*operation)(const QString&, QString*));

    QString m_fileName;
    QString m_error;
};

} // namespace dm
