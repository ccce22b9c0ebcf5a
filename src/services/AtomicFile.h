#pragma once
// Replaces a file the user keeps (a character file, DM.ini) so that at every
// instant its path holds either the complete old contents or the complete new
// ones: the new bytes go to a temporary file beside it, are flushed to disk and
// renamed over the old file. Temporary files a killed process left behind
// are removed by the next write into the same folder.
#include <QByteArray>
#include <QString>

namespace dm {

class AtomicFile {
public:
    explicit AtomicFile(QString path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file. A symbolic link is followed, so the link
    // stays a link and its target receives the new contents. The old file's
    // permissions and owner carry over; a new file gets 0666 less the umask.
    [[nodiscard]] bool open();
    [[nodiscard]] bool write(const char* data, qsizetype size);
    [[nodiscard]] bool write(const QByteArray& data) { return write(data.constData(), data.size()); }
    // Overwrites (or extends) the new contents at an offset; later writes
    // still append at the end.
    [[nodiscard]] bool writeAt(qint64 offset, const QByteArray& data);
    // Flushes and renames over the target. Nothing has changed at the target
    // until this succeeds.
    enum CommitMode { Replace, NoReplace };
    // NoReplace fails, leaving everything as it was, when something exists at
    // the path by then.
    [[nodiscard]] bool commit(CommitMode mode = Replace);
    // Throws the temporary file away; the target is untouched.
    void cancel();

    [[nodiscard]] const QString& errorString() const { return m_error; }

    // NoReplace as on file systems without renameat2 (NFS, CIFS): a hard
    // link to the new name. Always taken there; tests switch it on here.
    static void setLinkForNoReplace(bool on);

private:
    bool fail(const QString& what, int err);
    bool writeAt(qint64 offset, const char* data, qsizetype size);

    QString m_path;
    QByteArray m_target;
    QByteArray m_temp;
    int m_fd = -1;
    qint64 m_end = 0; // where write() appends
    QString m_error;
};

// Convenience: the whole new contents at once.
[[nodiscard]] bool writeFileAtomically(const QString& path, const QByteArray& contents, QString* error = nullptr);

} // namespace dm
