#pragma once
// Sending a file to the freedesktop.org trash, deleting it for good, and
// bringing a trashed file back. Each acts on the directory entry the path
// names: a symbolic link goes as the link, its target is never touched. A
// refusal leaves the entry where it was; none ever falls back on another.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <sys/stat.h>
#include <sys/types.h>

namespace dm {

// Which file an entry is, whatever it is called: device and inode. A rename
// within one file system keeps both, so a trashed file is known again by it.
struct FileId {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    [[nodiscard]] bool valid() const { return dev != 0 || ino != 0; }
    friend bool operator==(const FileId&, const FileId&) = default;
};
// The id of the entry at `path` (links not followed); invalid when nothing is there.
[[nodiscard]] FileId fileIdAt(const QString& path);

// Where a trashed entry lies: `files/<name>` and `info/<name>.trashinfo`
// under `trashDir` (the home trash, or $topdir/.Trash/$uid or
// $topdir/.Trash-$uid on another mount).
struct TrashSlot {
    QString trashDir;
    QString name;
    [[nodiscard]] QString filesPath() const { return trashDir + QLatin1String("/files/") + name; }
    [[nodiscard]] QString infoPath() const
    {
        return trashDir + QLatin1String("/info/") + name + QLatin1String(".trashinfo");
    }
};

// Trashing in two steps, so that a caller can record where the entry goes
// before anything is written. prepare() picks the trash and a free name and
// writes nothing; commit() writes the complete .trashinfo (which reserves the
// name; taken meanwhile, the move fails) and renames the entry into files/.
class TrashMove {
public:
    TrashMove() = default;
    TrashMove(const TrashMove&) = delete;
    TrashMove& operator=(const TrashMove&) = delete;

    // `path` must be absolute and plain (no "." or ".." parts, no trailing
    // slash). The trash is chosen as GIO chooses it, with its checks: the
    // home trash ($XDG_DATA_HOME/Trash) for entries on the home folder's
    // file system; on other mounts $topdir/.Trash/$uid when $topdir/.Trash is
    // a sticky folder (not a link) and that subfolder is the user's own, else
    // $topdir/.Trash-$uid (made 0700, owned by the user, not a link); system
    // internal and read-only mounts are refused. Names are tried as GIO
    // tries them: "a.txt", "a.2.txt", "a.3.txt" …
    [[nodiscard]] bool prepare(const QString& path, QString* error = nullptr);
    [[nodiscard]] const TrashSlot& slot() const { return m_slot; }
    // The entry's id, and all lstat said of it, as prepare() found it.
    [[nodiscard]] const FileId& id() const { return m_id; }
    [[nodiscard]] const struct stat& stat() const { return m_stat; }
    // On failure nothing of the move is left.
    [[nodiscard]] bool commit(QString* error = nullptr);

private:
    QString m_path;
    TrashSlot m_slot;
    QByteArray m_info; // the .trashinfo's text
    FileId m_id;
    struct stat m_stat {};
    bool m_prepared = false;
};

// Both steps at once; on success *slot says where it went. Two overloads
// rather than a default argument, so that &moveToTrash still fits a
// bool (*)(const QString&, QString*).
[[nodiscard]] bool moveToTrash(const QString& path, QString* error = nullptr);
[[nodiscard]] bool moveToTrash(const QString& path, QString* error, TrashSlot* slot);

// Unlinks the entry at `path`, under the same rules for the path. Folders are
// refused.
[[nodiscard]] bool deleteFile(const QString& path, QString* error = nullptr);

enum class RestoreResult {
    Restored,
    Occupied, // something stands at the target: it is kept, the entry stays in the trash
    NotInTrash, // files/<name> is gone, or is another file than `expected`
    Failed, // the reason is in *error; the entry stays in the trash
};
// Puts files/<name> back at `target` (absolute), never replacing anything,
// and removes its .trashinfo. Only an entry of a real trash folder (the home
// trash, or one a mount's rules allow) whose id is `expected` comes back; an
// entry with another id is NotInTrash. Every folder on the way to the target
// must be the user's or root's (a link only when they made it); missing ones
// are made, private, without following links, and the entry is moved
// relative to the opened folder, so nothing can be swapped in on the way.
// Within one file system a rename; across file systems a copy of the bytes,
// mode and times (a symbolic link as a link), then the trash's copy goes.
[[nodiscard]] RestoreResult restoreFromTrash(const TrashSlot& slot, const QString& target, const FileId& expected,
                                             QString* error = nullptr);

// restoreFromTrash for many files: the trash folder and the target folder
// are opened and checked once for a run of files that share them.
class TrashRestore {
public:
    TrashRestore();
    ~TrashRestore();
    TrashRestore(const TrashRestore&) = delete;
    TrashRestore& operator=(const TrashRestore&) = delete;
    [[nodiscard]] RestoreResult restore(const TrashSlot& slot, const QString& target, const FileId& expected,
                                        QString* error = nullptr);

private:
    struct Open;
    std::unique_ptr<Open> m_open;
};

// Removes the .trashinfo of `slot` when its entry is gone from files/ and the
// info names `original`: what a move cut short by a kill leaves on either
// side. True when one went.
bool dropStaleTrashInfo(const TrashSlot& slot, const QString& original);

// .trashinfo files written as on file systems without unnamed files (FAT,
// NFS): an empty one reserves the name, then the text is renamed over it.
// Always taken there; tests switch it on here.
void setTrashInfoByRename(bool on);

// The home trash folder as GIO sees it (it reads XDG_DATA_HOME once per
// process).
[[nodiscard]] QString homeTrashPath();

} // namespace dm
