#pragma once
// Sending a file to the freedesktop.org trash, and deleting it for good.
// Both act on the directory entry the path names: a symbolic link goes as the
// link, its target is never touched. A refusal leaves the entry where it was;
// neither ever falls back on the other.
#include <QString>

namespace dm {

// Moves the entry at `path` into the trash through GIO: the home trash
// ($XDG_DATA_HOME/Trash) for entries on the home folder's file system,
// $topdir/.Trash/$uid or $topdir/.Trash-$uid on other mounts. `path` must be
// absolute and plain (no "." or ".." parts, no trailing slash), because GIO
// would otherwise rewrite it and could act on a different entry than the one
// the kernel resolves. On false, the reason is stored in *error.
[[nodiscard]] bool moveToTrash(const QString& path, QString* error = nullptr);

// Unlinks the entry at `path`, under the same rules for the path. Folders are
// refused.
[[nodiscard]] bool deleteFile(const QString& path, QString* error = nullptr);

// The home trash folder as GIO sees it (it reads XDG_DATA_HOME once per
// process).
[[nodiscard]] QString homeTrashPath();

} // namespace dm
