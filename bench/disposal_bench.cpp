// What disposing of beaten enemies' files costs, against GIO in the same run,
// on N small files (1,000 unless the first argument says otherwise; the
// second sets the rounds, 5), in a temporary home:
//  1. Battle::DisposeFile on each, as a battle calls it for a beaten enemy
//     (the file object's check, the trash info written, the move);
//  2. `gio trash` of the same number of files, one process for all;
//  3. g_file_trash on each in this process: GIO without a process start.
// Each round makes fresh files in a warm page cache, and each measure starts
// on an empty trash. Then a victory's growth of a character file of 1 MB
// and of 100 MB, written aside, synced and renamed, against a bare loop
// doing the same with read and write.
#include "BenchFiles.h"
#include "battle/Battle.h"
#include "character/CharaFile.h"
#include "services/HomeFolder.h"
#include "services/Settings.h"
#include "services/Trash.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <gio/gio.h>

#include <cstdio>
#include <cstdlib>

namespace {

using dm::bench::Figures;
using dm::bench::secondsOf;

QString trash() { return dm::homeTrashPath(); }
void freshTrash() { dm::bench::freshTrash(trash()); }
int trashed() { return dm::bench::entriesIn(trash() + QStringLiteral("/files")); }

double gioProcess(const QStringList& files)
{
    QProcess process;
    process.setProgram(QStringLiteral("gio"));
    process.setArguments(QStringList{QStringLiteral("trash")} + files);
    const double s = secondsOf([&] {
        process.start();
        process.waitForFinished(-1);
    });
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        std::fprintf(stderr, "gio trash: %s\n", process.readAllStandardError().constData());
    return s;
}

double gioLibrary(const QStringList& files)
{
    std::vector<QByteArray> native = dm::bench::nativePaths(files);
    return secondsOf([&] {
        for (const QByteArray& path : native) {
            GFile* file = g_file_new_for_path(path.constData());
            GError* error = nullptr;
            if (!g_file_trash(file, nullptr, &error)) {
                std::fprintf(stderr, "g_file_trash: %s\n", error->message);
                g_error_free(error);
            }
            g_object_unref(file);
        }
    });
}

class SilentView final : public dm::BattleView {
public:
    void WaitUntil(const QDeadlineTimer&) override {}
};

double disposeFiles(const QStringList& files)
{
    SilentView view;
    dm::Battle battle(view);
    const double s = secondsOf([&] {
        for (const QString& path : files)
            battle.DisposeFile(path);
    });
    for (const auto& d : battle.report().disposals) {
        if (d.result != dm::clsFile::Disposal::Done)
            std::fprintf(stderr, "not disposed of: %s %s\n", qPrintable(d.path), qPrintable(d.error));
    }
    return s;
}

void writeCharacter(const QString& path, qint64 size)
{
    QFile f(path);
    QByteArray bytes = dm::CheckHeader(static_cast<std::int32_t>(size));
    bytes += QByteArray(size - bytes.size(), 'h');
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != size)
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

// The least a crash-safe growth does: copy aside, append, sync, rename.
bool bareGrowth(const QByteArray& path, qint64 gain)
{
    const QByteArray temp = path + ".new";
    const int in = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = in >= 0 && out >= 0;
    std::vector<char> buffer(1 << 20);
    for (ssize_t n = 0; ok && (n = ::read(in, buffer.data(), buffer.size())) > 0;)
        ok = ::write(out, buffer.data(), static_cast<size_t>(n)) == n;
    std::fill(buffer.begin(), buffer.end(), 'g');
    ok = ok && ::write(out, buffer.data(), static_cast<size_t>(gain)) == gain && ::fsync(out) == 0;
    if (in >= 0)
        ::close(in);
    if (out >= 0)
        ::close(out);
    ok = ok && ::rename(temp.constData(), path.constData()) == 0;
    const int dir = ::open(path.left(path.lastIndexOf('/')).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = ok && dir >= 0 && ::fsync(dir) == 0;
    if (dir >= 0)
        ::close(dir);
    return ok;
}

void growthFigures(const QString& folder, qint64 megabytes, int rounds)
{
    constexpr std::int32_t kGain = 1000;
    const QString path = folder + QStringLiteral("/Grown%1.dmf").arg(megabytes);
    const QByteArray native = QFile::encodeName(path);
    Figures grow, bare;
    for (int round = 0; round <= rounds; ++round) {
        writeCharacter(path, megabytes << 20);
        QString error;
        const double g = secondsOf([&] {
            if (!dm::GrowCharacterFile(path, static_cast<std::int32_t>(megabytes << 20), kGain, &error))
                std::fprintf(stderr, "growth: %s\n", qPrintable(error));
        });
        writeCharacter(path, megabytes << 20);
        const double b = secondsOf([&] {
            if (!bareGrowth(native, kGain))
                std::fprintf(stderr, "bare growth failed\n");
        });
        if (round > 0) {
            grow.add(g);
            bare.add(b);
        }
    }
    QFile::remove(path);
    std::printf("  %3lld MB character, %d bytes gained:  GrowCharacterFile median %8.2f ms (%6.0f MB/s)   "
                "bare copy median %8.2f ms   ratio %.2fx\n",
                static_cast<long long>(megabytes), kGain, grow.median() * 1e3,
                static_cast<double>(megabytes) / grow.median(), bare.median() * 1e3, grow.median() / bare.median());
}

void row(const char* what, const Figures& f, int files)
{
    std::printf("  %-40s median %8.2f ms   min %8.2f ms   (%.2f us/file)\n", what, f.median() * 1e3, f.min() * 1e3,
                f.median() * 1e6 / std::max(files, 1));
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    QTemporaryDir root;
    if (!root.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    dm::bench::isolateHome(root);
    // QProcess wants an application object.
    int appArgc = 1;
    QCoreApplication app(appArgc, argv);
    dm::ResetSettings();
    dm::DeadAfter = 0;
    if (!dm::EnsureHomeFolder()) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(dm::HomeFolder()));
        return 1;
    }

    Figures own, process, library, paired;
    int problems = 0;
    const auto check = [&](const char* what, int want) {
        if (const int got = trashed(); got != want) {
            std::fprintf(stderr, "%s: %d of %d in the trash\n", what, got, want);
            ++problems;
        }
        freshTrash();
    };
    freshTrash();
    int files = 0;
    // Round 0 warms the caches and the trash folders and is not counted.
    for (int round = 0; round <= rounds; ++round) {
        const QStringList a = dm::bench::freshFiles(root.path(), count);
        const QStringList b = dm::bench::freshFiles(root.path(), count);
        const QStringList c = dm::bench::freshFiles(root.path(), count);
        files = static_cast<int>(a.size());
        const double sa = disposeFiles(a);
        check("DisposeFile", files);
        const double sb = gioProcess(b);
        check("gio trash", files);
        const double sc = gioLibrary(c);
        check("g_file_trash", files);
        if (round > 0) {
            own.add(sa);
            process.add(sb);
            library.add(sc);
            paired.add(sa / sb);
        }
    }

    std::printf("files per measure: %d, %d rounds after a warm-up, in %s (%s)\n\n", files, rounds,
                qPrintable(root.path()), dm::bench::fileSystemOf(root.path()));
    std::printf("to the trash\n");
    row("Battle::DisposeFile", own, files);
    row("gio trash, one process", process, files);
    row("g_file_trash in this process", library, files);
    std::printf("  %-40s median %8.2fx     min %8.2fx     paired %.2fx (goal <= 1.0x)\n", "DisposeFile / gio trash",
                own.median() / process.median(), own.min() / process.min(), paired.median());
    std::printf("  %-40s median %8.2fx     min %8.2fx\n", "DisposeFile / g_file_trash", own.median() / library.median(),
                own.min() / library.min());
    std::printf("growth of the character file after a victory\n");
    growthFigures(root.path(), 1, rounds);
    growthFigures(root.path(), 100, std::max(1, rounds / 2));
    if (problems != 0)
        std::printf("\n%d count(s) came out wrong; see above\n", problems);
    return 0;
}
