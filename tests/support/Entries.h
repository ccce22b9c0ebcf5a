#pragma once
// Entries on disk for the file object's tests: made with exact modes, looked
// at without following links, and acted on as an ordinary user. The tests run
// as root, whose privileges override the mode bits, so refusals are tried as
// nobody.
#include "services/clsFile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <sys/types.h>

namespace dm::test {

[[nodiscard]] QByteArray native(const QString& path);
[[nodiscard]] clsFile fileAt(const QString& path);
// Each returns its path. Modes are set whatever the umask, so the ordinary
// user may reach exactly what the test means it to.
QString makeDir(const QString& path, mode_t mode = 0755);
QString makeFile(const QString& path, const QByteArray& contents, mode_t mode = 0644);
QString makeLink(const QString& target, const QString& link);
// The entry's type, links not followed; 0 when there is none.
[[nodiscard]] mode_t entryType(const QString& path);
// Every entry under dir, links not followed, sorted.
[[nodiscard]] QStringList tree(const QString& dir);

// nobody (65534) when running as root, else the current user.
[[nodiscard]] uid_t ordinaryUser();

struct ChildOutcome {
    int code = -1; // what the operation returned; -1 when it could not run
    QString text;  // what it left in its text
};
// Runs `op` in a child process as ordinaryUser(). Its result (0..99) comes
// back as the exit code, its text through a pipe.
[[nodiscard]] ChildOutcome runAsOrdinaryUser(const std::function<int(QString* text)>& op);

} // namespace dm::test
