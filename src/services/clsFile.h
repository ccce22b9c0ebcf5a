#pragma once
// A small object standing for one file named by a full path. Callers set
// FileName, then read properties or call methods; nothing else carries over.
#include <QDateTime>
#include <QHash>
#include <QString>

#include <cstdint>
#include <functional>
#include <sys/stat.h>

namespace dm {

// FirstMove's refusal across file systems, and the title its box carries.
inline constexpr const char16_t* kFirstMoveMessage = u"移動元と移動先のﾄﾞﾗｲﾌﾞは同じである必用があります";
inline constexpr const char16_t* kFileClassTitle = u"ﾌｧｲﾙ制御ｸﾗｽﾗｲﾌﾞﾗﾘ";

// A file time as the Japanese form the file object gives it, from local
// time: "1999年7月4日 日曜日    9:5:3" (the weekday padded to 8).
[[nodiscard]] QString FormatFileTime(const QDateTime& local);

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
        // Read through the open file when asked for, so that attributes()
        // looks the path up no more.
        bool attributesRead = false;
        std::uint16_t dosAttrib = 0;
        // Whether the mode bits alone say if this user may write the file:
        // not with an ACL, nor where the file system does not tell whether
        // the file is immutable.
        bool modeDecidesWrite = false;
        bool immutable = false;
        [[nodiscard]] bool isDirectory() const { return !enabled || S_ISDIR(st.st_mode); }
        [[nodiscard]] std::int32_t size() const;
    };
    enum class Look : std::uint8_t { Plain, WithAttributes };

    // What one look at a folder says about removing entries from it. A drop's
    // files share a few folders; a caller testing many keeps one of these so
    // that each folder is asked once.
    class Folders {
    public:
        struct Answer {
            bool removable = false;
            // Sticky and another's: only one's own entries may go.
            bool ownEntriesOnly = false;
        };
        [[nodiscard]] Answer of(QStringView folder);

    private:
        QString m_last;
        bool m_haveLast = false;
        Answer m_lastAnswer;
        QHash<QString, Answer> m_answers;
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

    // What an operation did. NothingThere: the file is not Enabled (gone, a
    // folder, unreadable, a dangling link), so nothing was touched. Refused:
    // everything stays as it was and errorString() says why.
    enum class [[nodiscard]] Result{Done, NothingThere, Refused};
    using Disposal = Result;
    // Sends the file to the trash, or unlinks it for good. A symbolic link
    // goes as the link; its target is never touched.
    [[nodiscard]] Result Trash();
    [[nodiscard]] Result Delete();

    // Copy and Move put the file into strToPath, or into it when it is a
    // folder; Rename gives it exactly that path. None of them replaces an
    // existing file. A link is moved or renamed as the link. FileName stays
    // as it was.
    [[nodiscard]] Result FileCopy(const QString& strToPath);
    [[nodiscard]] Result Move(const QString& strToPath);
    [[nodiscard]] Result Rename(const QString& strToPath);
    // A plain move within one file system; to another one it is refused,
    // told to the user and kept as the error: kFirstMoveMessage.
    [[nodiscard]] Result FirstMove(const QString& strToPath);
    // Opens the file with the desktop's program for it, or prints it (lp),
    // without waiting.
    [[nodiscard]] Result Execute();
    [[nodiscard]] Result FilePrint();

    // An ELF program or a DOS/Windows (MZ) executable.
    [[nodiscard]] bool Executable() const;
    // The path itself when something is there and it fits 511 bytes, else "".
    [[nodiscard]] QString ShortPathName() const;
    // Allocated bytes (low 32 bits, signed); -1 when the file cannot be
    // looked at.
    [[nodiscard]] std::int32_t CompressedSize() const;
    // Local time in the Japanese form of FormatFileTime; "" when not Enabled,
    // and the creation time "" where the file system keeps none.
    [[nodiscard]] QString CreationTime() const;
    [[nodiscard]] QString LastAccessTime() const;
    [[nodiscard]] QString LastWriteTime() const;
    [[nodiscard]] std::int32_t Links() const;

    // From a Windows program's version resource; "" and the texts of code 0
    // ("不明") for any other file.
    [[nodiscard]] QString FileVersion() const;
    [[nodiscard]] QString ProductVersion() const;
    [[nodiscard]] QString FileType() const;
    [[nodiscard]] QString FileSubtype() const;
    [[nodiscard]] QString FileOS() const;
    [[nodiscard]] QString BuildType() const;

    [[nodiscard]] QString Extension() const;
    [[nodiscard]] QString ShortFileName() const;
    [[nodiscard]] QString LongPathName() const;
    // The same, without looking the entry up again when the probe found it.
    [[nodiscard]] QString LongPathName(const Probe& p) const;

    [[nodiscard]] Probe probe(Look look = Look::Plain) const;
    // Why the last attribute change, Trash or Delete was refused.
    [[nodiscard]] const QString& errorString() const { return m_error; }

    // The attribute bits of a probed file, for callers that test several.
    [[nodiscard]] std::uint16_t attributes(const Probe& p, Folders* folders = nullptr) const;

    // How the file object tells the user something, with a title: the
    // windows show a message box, the command-line tool prints the text.
    // Until one is installed nothing is told.
    using Notifier = std::function<void(const QString& text, const QString& title)>;
    static void setNotifier(Notifier notifier);

private:
    [[nodiscard]] bool GetAttrBit(std::uint16_t bit) const;
    [[nodiscard]] bool SetAttrBit(std::uint16_t bit, bool value);
    [[nodiscard]] Result dispose(bool (*operation)(const QString&, QString*));
    [[nodiscard]] Result refuse(const QString& why);
    [[nodiscard]] Result place(const QString& strToPath, bool intoFolder, bool acrossFileSystems);

    QString m_fileName;
    QString m_error;
};

} // namespace dm
