// LoadChara over 10,000 files against bare loops that only stat, open and
// close each file, or open, fstat and close it.
#include "BenchFiles.h"
#include "character/LoadChara.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <vector>

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    QTemporaryDir dir;
    const QStringList paths = dm::bench::makeFiles(dir, count);
    const std::vector<QByteArray> native = dm::bench::nativePaths(paths);

    long sink = 0;
    const auto bare = [&] { sink += dm::bench::bareStatOpen(native); };
    const auto fd = [&] { sink += dm::bench::bareOpenFstat(native); };
    const auto load = [&] {
        dm::CharaRecord chara, item;
        for (const QString& p : paths)
            if (dm::LoadChara(p, chara, item) == 0)
                sink += chara.Level;
    };

    // Warm the caches, then keep the best of several rounds of each.
    bare();
    fd();
    load();
    double bestBare = 1e9, bestFd = 1e9, bestLoad = 1e9;
    for (int round = 0; round < 7; ++round) {
        bestBare = std::min(bestBare, dm::bench::secondsOf(bare));
        bestFd = std::min(bestFd, dm::bench::secondsOf(fd));
        bestLoad = std::min(bestLoad, dm::bench::secondsOf(load));
    }
    std::printf("files:              %d\n", static_cast<int>(paths.size()));
    std::printf("bare stat+open:     %.2f ms (%.2f us/file)\n", bestBare * 1e3, bestBare * 1e6 / paths.size());
    std::printf("bare open+fstat:    %.2f ms (%.2f us/file)\n", bestFd * 1e3, bestFd * 1e6 / paths.size());
    std::printf("LoadChara:          %.2f ms (%.2f us/file)\n", bestLoad * 1e3, bestLoad * 1e6 / paths.size());
    std::printf("ratio:              %.2fx the bare stat+open loop (goal <= 1.1x); %.2fx open+fstat\n",
                bestLoad / bestBare, bestLoad / bestFd);
    std::printf("(checksum %ld)\n", sink);
    return 0;
}
