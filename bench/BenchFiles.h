#pragma once
// A folder of many files of varied names and sizes, for the benchmarks.
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <vector>
#include <unistd.h>

namespace dm::bench {

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

// The least a loader must do per file: stat it and open it.
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

} // namespace dm::bench
