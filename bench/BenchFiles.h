#pragma once
// A folder of many files of varied names and sizes, for the benchmarks.
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

namespace dm::bench {

// A home of the bench's own below `root`, for GLib and the program alike.
// GLib reads these once, at its first call: this must come before it.
inline void isolateHome(const QTemporaryDir& root)
{
    const QString home = root.filePath(QStringLiteral("home"));
    const QString data = home + QStringLiteral("/.local/share");
    QDir().mkpath(data);
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    qputenv("DUSTMAW_HOME", QFile::encodeName(root.filePath(QStringLiteral("dustmaw"))));
}

inline QStringList makeFiles(const QTemporaryDir& dir, int count, unsigned seed = 1)
{
    static const char* const stems[]
        = {"report", "IMG_", "メモ", "backup", "a", "", "données", "very-long-file-name-of-a-download"};
    static const char* const exts[] = {"", ".txt", ".jpg", ".tar.gz", ".HTML", ".dmf", ".c", ".ABCDE"};
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> stem(0, 7), ext(0, 7);
    std::lognormal_distribution<double> size(9.0, 2.5);
    QStringList paths;
    paths.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString name
            = QString::fromUtf8(stems[stem(gen)]) + QString::number(i) + QString::fromUtf8(exts[ext(gen)]);
        const QString path = dir.filePath(name);
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            continue;
        // Sparse: the size is what matters, not the bytes.
        const bool sized = ::ftruncate(fd, static_cast<off_t>(std::min(size(gen), 4e9))) == 0;
        ::close(fd);
        if (sized)
            paths << path;
    }
    return paths;
}

// The least a loader must do per file: stat it and open it; and the least
// that answers as much, opening it and asking the descriptor.
inline long bareStatOpen(const std::vector<QByteArray>& native)
{
    long sink = 0;
    for (const QByteArray& p : native) {
        struct stat st {};
        if (::stat(p.constData(), &st) == 0)
            sink += st.st_size & 1;
        const int fd = ::open(p.constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
    }
    return sink;
}

inline long bareOpenFstat(const std::vector<QByteArray>& native)
{
    long sink = 0;
    for (const QByteArray& p : native) {
        const int fd = ::open(p.constData(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0)
            sink += st.st_size & 1;
        if (fd >= 0)
            ::close(fd);
    }
    return sink;
}

inline std::vector<QByteArray> nativePaths(const QStringList& paths)
{
    std::vector<QByteArray> native;
    native.reserve(static_cast<size_t>(paths.size()));
    for (const QString& p : paths)
        native.push_back(QFile::encodeName(p));
    return native;
}

template <class F>
double secondsOf(F&& f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The figures of several rounds of one measure.
struct Figures {
    std::vector<double> v;
    void add(double s) { v.push_back(s); }
    [[nodiscard]] double median() const
    {
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        const size_t n = s.size();
        return n == 0 ? 0 : n % 2 == 1 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
    }
    [[nodiscard]] double min() const { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
};

inline const char* fileSystemOf(const QString& path)
{
    struct statfs fs {};
    if (::statfs(QFile::encodeName(path).constData(), &fs) != 0)
        return "?";
    switch (fs.f_type) {
    case 0x01021994: return "tmpfs";
    case 0xEF53: return "ext2/3/4";
    case 0x9123683E: return "btrfs";
    case 0x58465342: return "xfs";
    default: return "other";
    }
}

// Nothing is deleted before the end: ext4 without a journal skips every inode
// freed in the last minutes when it makes a new one, at a buffer lookup
// each, so creations right after thousands of deletions crawl, and that
// would be measured.

// A fresh folder of files in `root`, kept until the end.
inline QStringList freshFiles(const QString& root, int count)
{
    QTemporaryDir dir(root + QStringLiteral("/batch-XXXXXX"));
    dir.setAutoRemove(false); // the whole root goes at the end
    return makeFiles(dir, count);
}

// An empty trash for the next measure, so no name ever needs a ".2": the
// used one is set aside.
inline void freshTrash(const QString& trash)
{
    static int aside = 0;
    const QByteArray native = QFile::encodeName(trash);
    ::rename(native.constData(), (native + ".aside-" + QByteArray::number(++aside)).constData());
    for (const char* sub : {"", "/files", "/info"})
        ::mkdir((native + sub).constData(), 0700);
}

inline int entriesIn(const QString& folder)
{
    int n = 0;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (dir == nullptr)
        return 0;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        n += name != "." && name != "..";
    }
    ::closedir(dir);
    return n;
}

} // namespace dm::bench
