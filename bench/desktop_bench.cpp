// The desktop program's figures, measured in one run on an Xvfb of its own:
//  - time from process start to the shaped window being shown, and peak
//    memory at idle, for dustmaw (DM.rgn present) against a bare Qt program
//    showing one frameless masked window of the same size;
//  - processor time of a battle of about 30 seconds at the fastest message
//    speed through the real battle list window, the first of the process
//    and a second one;
//  - filling the battle list with 20,000 rows, updating one row, scrolling;
//  - processor ticks and context switches of the program, every thread,
//    while it stands idle with a character (60 seconds, or the first
//    argument).
#include "character/CharaFile.h"
#include "desktop/EntryModel.h"
#include "desktop/RgnData.h"
#include "desktop/frmEntry.h"
#include "desktop/frmMaw.h"
#include "services/Random.h"
#include "support/XServer.h"
#include "ui/Platform.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <vector>

namespace {

using dm::test::XServer;

constexpr int kRuns = 15;

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

long peakKb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    }
    return -1;
}

struct Launch {
    double ms = -1;
    long kb = -1;
};

// Starts the program, waits for its shaped window, lets it idle, reads its
// peak memory and ends it.
Launch launch(const XServer& x, const QString& program, const QProcessEnvironment& env, const QString& title)
{
    Launch out;
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    p.start(program, {});
    bool shown = false;
    while (!shown && clock.elapsed() < 20000) {
        const auto w = x.window(title);
        shown = w && x.shape(*w).size() > 1;
        if (!shown)
            QThread::usleep(500);
    }
    if (shown) {
        out.ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        QThread::msleep(1000);
        out.kb = peakKb(p.processId());
    }
    p.terminate();
    p.waitForFinished();
    return out;
}

// Processor ticks and context switches of every thread of a process so far.
struct Usage {
    long ticks = 0, switches = 0;
};
Usage usageOf(qint64 pid)
{
    Usage u;
    const QString task = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& thread : QDir(task).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(task + u'/' + thread + QStringLiteral("/stat"));
        if (stat.open(QIODevice::ReadOnly)) {
            // After the command name in parentheses: utime and stime are fields 14 and 15.
            const QByteArray line = stat.readAll();
            const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
            u.ticks += f.value(11).toLong() + f.value(12).toLong();
        }
        QFile status(task + u'/' + thread + QStringLiteral("/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.contains("ctxt_switches:"))
                    u.switches += line.mid(line.indexOf(':') + 1).trimmed().toLong();
            }
        }
    }
    return u;
}

void idleFigures(const XServer& x, const QString& dustmaw, int seconds)
{
    QTemporaryDir home;
    const QString hero = home.filePath(QStringLiteral("Hero.dmf"));
    writeFile(hero, dm::CheckHeader(1000) + QByteArray(990, 'h'));
    writeFile(home.filePath(QStringLiteral("DM.ini")), "[Setting]\nDefaultChara=" + QFile::encodeName(hero) + '\n');
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), x.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DUSTMAW_HOME"), home.path());
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("xdg")));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(dustmaw, {});
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000 && !x.window(QStringLiteral("Dustmaw")))
        QThread::msleep(10);
    QThread::msleep(2000); // let it settle
    const Usage before = usageOf(p.processId());
    QThread::sleep(static_cast<unsigned long>(seconds));
    const Usage after = usageOf(p.processId());
    std::printf("idle with a character for %d s: %ld processor ticks, %ld context switches (goal 0 and 1)\n", seconds,
                after.ticks - before.ticks, after.switches - before.switches);
    p.terminate();
    p.waitForFinished();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

void startupFigures(const XServer& x, const QString& dustmaw, const QString& bare)
{
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), x.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DUSTMAW_HOME"), home.path());
    env.insert(QStringLiteral("HOME"), home.path());
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    writeFile(home.filePath(QStringLiteral("DM.rgn")),
              dm::RgnDataBytes(dm::CanonicalRects(dm::OutlineRuns(QImage(QStringLiteral(":/pictures/hero.xpm"))))));

    std::vector<double> dmMs, bareMs, dmKb, bareKb;
    for (int i = 0; i < kRuns; ++i) {
        const Launch a = launch(x, dustmaw, env, QStringLiteral("Dustmaw"));
        const Launch b = launch(x, bare, env, QStringLiteral("bare"));
        dmMs.push_back(a.ms);
        dmKb.push_back(static_cast<double>(a.kb));
        bareMs.push_back(b.ms);
        bareKb.push_back(static_cast<double>(b.kb));
    }
    const double tm = median(dmMs), tb = median(bareMs), mm = median(dmKb), mb = median(bareKb);
    std::printf("start to shaped window (median of %d): dustmaw %.1f ms, bare Qt %.1f ms, ratio %.2f (goal <= 1.3)\n",
                kRuns, tm, tb, tm / tb);
    std::printf("peak memory at idle (VmHWM):        dustmaw %.0f KiB, bare Qt %.0f KiB, ratio %.2f (goal <= 1.15)\n",
                mm, mb, mm / mb);
}

double cpuSeconds()
{
    rusage r{};
    ::getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec)
        + static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Every draw 0.5: the hero always hits these slower enemies and they never
// hit back, so the length of the battle is known in advance.
class HalfDraws final : public dm::RandomSource {
public:
    float next() override { return 0.5F; }
};

void battleFigures()
{
    QTemporaryDir home;
    qputenv("DUSTMAW_HOME", QFile::encodeName(home.path()));
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("xdg"))));
    const QString hero = home.filePath(QStringLiteral("Hero.dmf"));
    writeFile(hero, dm::CheckHeader(1000) + QByteArray(990, 'h'));
    writeFile(home.filePath(QStringLiteral("DM.ini")),
              "[Setting]\nMsgWait=2\nMsgType=1\nDefaultChara=" + QFile::encodeName(hero) + '\n');
    const auto enemies = [&home](int battle) {
        QStringList paths;
        for (int k = 0; k < 18; ++k) {
            const QString dir = home.filePath(QStringLiteral("drop%1/%2").arg(battle).arg(k));
            QDir().mkpath(dir);
            paths << dir + QStringLiteral("/draft.txt");
            writeFile(paths.last(), QByteArray(300, 'x'));
        }
        return paths;
    };

    dm::frmMaw maw;
    if (!maw.Form_Load())
        return;
    HalfDraws draws;
    dm::setRandomSource(&draws);
    // The first battle also makes the battle list window and loads the fonts.
    for (const int battle : {1, 2}) {
        const QStringList drop = enemies(battle);
        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        maw.Form_OLEDragDrop(drop);
        const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
        const double cpu = cpuSeconds() - cpu0;
        std::printf("%s at the fastest speed through the battle list window: %.1f s wall, %.3f s processor, "
                    "%.2f %% (goal <= 0.3 %%)\n",
                    battle == 1 ? "first battle" : "second battle", seconds, cpu, 100.0 * cpu / seconds);
    }
    dm::setRandomSource(nullptr);
    maw.Quit();
}

void listFigures()
{
    constexpr int kRows = 20000;
    dm::frmEntry entry;
    entry.EnsureLoaded();
    entry.show();
    QApplication::processEvents();
    std::vector<dm::CharaRecord> records(kRows);
    for (int i = 0; i < kRows; ++i) {
        dm::CharaRecord& r = records[static_cast<size_t>(i)];
        r.Name = QStringLiteral("enemy%1").arg(i);
        r.FileName = QStringLiteral("/files/enemy%1.txt").arg(i);
        r.Tribe = QStringLiteral("TXT");
        r.Level = 1 + i % 40;
        r.Vitarity = r.MaxVitarity = 100 + i % 900;
        r.Item = QStringLiteral("Normal Sword");
        r.Experience = i * 37;
        r.LongPath = r.FileName;
    }

    QElapsedTimer t;
    t.start();
    entry.ClearEntryList();
    for (const dm::CharaRecord& r : records) {
        entry.AddEntryRow(r);
        entry.UpdateEntryRow(r, false);
        entry.ProcessEvents();
    }
    QApplication::processEvents();
    entry.lvEntry().viewport()->repaint();
    const double fillMs = static_cast<double>(t.nsecsElapsed()) / 1e6;

    constexpr int kUpdates = 1000;
    t.restart();
    // Rows on screen: an update elsewhere asks for no paint at all.
    for (int i = 0; i < kUpdates; ++i) {
        dm::CharaRecord& r = records[static_cast<size_t>(i % 8)];
        r.Vitarity -= 1;
        entry.UpdateEntryRow(r, true);
        // Only what the update itself asked to repaint.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    }
    const double updateUs = static_cast<double>(t.nsecsElapsed()) / 1e3 / kUpdates;

    constexpr int kPages = 200;
    QScrollBar* bar = entry.lvEntry().verticalScrollBar();
    t.restart();
    for (int i = 0; i < kPages; ++i) {
        bar->setValue((bar->value() + bar->pageStep()) % bar->maximum());
        entry.lvEntry().viewport()->repaint();
    }
    const double pageMs = static_cast<double>(t.nsecsElapsed()) / 1e6 / kPages;
    std::printf("battle list: %d rows filled in %.0f ms; one row updated and repainted in %.0f us; "
                "a page scrolled and repainted in %.2f ms\n",
                entry.model().rowCount(), fillMs, updateUs, pageMs);
}

} // namespace

int main(int argc, char** argv)
{
    const XServer x;
    if (!x.ok()) {
        std::fprintf(stderr, "bench_desktop needs Xvfb (scripts/setup.sh installs it)\n");
        return 1;
    }
    startupFigures(x, QStringLiteral(DUSTMAW_EXE), QStringLiteral(BARE_EXE));
    idleFigures(x, QStringLiteral(DUSTMAW_EXE), argc > 1 ? std::max(1, std::atoi(argv[1])) : 60);
    qputenv("DISPLAY", x.display().toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    dm::PrepareApplication(argc, argv);
    QApplication app(argc, argv);
    dm::SetUpApplication();
    battleFigures();
    listFigures();
    return 0;
}
