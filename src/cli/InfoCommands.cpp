// dustmaw-cli info and file: what the file object says about a file, and
// what it can do to one.
#include "cli/Cli.h"
#include "cli/Json.h"
#include "services/clsFile.h"

#include <QFile>

#include <sys/stat.h>

#include <functional>
#include <variant>

namespace dm::cli {
namespace {

using Value = std::variant<bool, std::int32_t, QString>;

// The file object's properties in the order the class declares them.
const struct Property {
    const char* name;
    std::function<Value(const clsFile&)> get;
} kProperties[] = {
    {"FileName", [](const clsFile& f) { return Value(f.FileName()); }},
    {"Enabled", [](const clsFile& f) { return Value(f.Enabled()); }},
    {"Size", [](const clsFile& f) { return Value(f.Size()); }},
    {"Archive", [](const clsFile& f) { return Value(f.Archive()); }},
    {"Hidden", [](const clsFile& f) { return Value(f.Hidden()); }},
    {"System", [](const clsFile& f) { return Value(f.System()); }},
    {"Directory", [](const clsFile& f) { return Value(f.Directory()); }},
    {"ReadOnly", [](const clsFile& f) { return Value(f.ReadOnly()); }},
    {"Executable", [](const clsFile& f) { return Value(f.Executable()); }},
    {"ShortPathName", [](const clsFile& f) { return Value(f.ShortPathName()); }},
    {"CreationTime", [](const clsFile& f) { return Value(f.CreationTime()); }},
    {"LastAccessTime", [](const clsFile& f) { return Value(f.LastAccessTime()); }},
    {"LastWriteTime", [](const clsFile& f) { return Value(f.LastWriteTime()); }},
    {"FileVersion", [](const clsFile& f) { return Value(f.FileVersion()); }},
    {"ProductVersion", [](const clsFile& f) { return Value(f.ProductVersion()); }},
    {"FileType", [](const clsFile& f) { return Value(f.FileType()); }},
    {"FileSubtype", [](const clsFile& f) { return Value(f.FileSubtype()); }},
    {"Links", [](const clsFile& f) { return Value(f.Links()); }},
    {"FileOS", [](const clsFile& f) { return Value(f.FileOS()); }},
    {"CompressedSize", [](const clsFile& f) { return Value(f.CompressedSize()); }},
    {"BuildType", [](const clsFile& f) { return Value(f.BuildType()); }},
    {"Extension", [](const clsFile& f) { return Value(f.Extension()); }},
    {"ShortFileName", [](const clsFile& f) { return Value(f.ShortFileName()); }},
    {"LongPathName", [](const clsFile& f) { return Value(f.LongPathName()); }},
};

QString text(const Value& v)
{
    if (const bool* b = std::get_if<bool>(&v))
        return *b ? QStringLiteral("true") : QStringLiteral("false");
    if (const std::int32_t* n = std::get_if<std::int32_t>(&v))
        return QString::number(*n);
    return std::get<QString>(v);
}

bool somethingAt(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

} // namespace

int runInfo(const QStringList& args)
{
    bool json = false;
    QStringList paths;
    for (const QString& a : args) {
        if (a == QLatin1String("--json"))
            json = true;
        else if (a.startsWith(QLatin1Char('-')) && a.size() > 1)
            return usageError(QStringLiteral("info: unknown option '%1'").arg(a));
        else
            paths << a;
    }
    if (paths.isEmpty())
        return usageError(QStringLiteral("info: no file given"));

    int status = ExitOk;
    const std::optional<QStringList> absolute = absolutePaths(paths);
    if (!absolute)
        return ExitUsage;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        clsFile file;
        file.setFileName((*absolute)[i]);
        if (!somethingAt(file.FileName()))
            status = ExitFailure;
        if (json) {
            JsonObject o;
            for (const Property& p : kProperties) {
                const Value v = p.get(file);
                if (const bool* b = std::get_if<bool>(&v))
                    o.add(p.name, *b);
                else if (const std::int32_t* n = std::get_if<std::int32_t>(&v))
                    o.add(p.name, std::int64_t{*n});
                else
                    o.add(p.name, std::get<QString>(v));
            }
            out(QString::fromUtf8(o.toJson()));
            continue;
        }
        if (i > 0)
            out(QString());
        for (const Property& p : kProperties)
            out(QStringLiteral("%1 : %2").arg(QString::fromLatin1(p.name), 14).arg(text(p.get(file))));
    }
    return status;
}

int runFile(const QStringList& args)
{
    using Op = clsFile::Result (clsFile::*)(const QString&);
    static const struct {
        const char* name;
        Op withDestination;
        clsFile::Result (clsFile::*alone)();
    } kOperations[] = {
        {"copy", &clsFile::FileCopy, nullptr}, {"move", &clsFile::Move, nullptr},
        {"rename", &clsFile::Rename, nullptr}, {"firstmove", &clsFile::FirstMove, nullptr},
        {"open", nullptr, &clsFile::Execute},  {"print", nullptr, &clsFile::FilePrint},
        {"trash", nullptr, &clsFile::Trash},   {"delete", nullptr, &clsFile::Delete},
    };
    if (args.isEmpty())
        return usageError(QStringLiteral("file: no operation given"));
    for (const auto& op : kOperations) {
        if (args[0] != QLatin1String(op.name))
            continue;
        const qsizetype wanted = op.withDestination != nullptr ? 3 : 2;
        if (args.size() != wanted)
            return usageError(
                QStringLiteral("file %1: give %2")
                    .arg(args[0], wanted == 3 ? QStringLiteral("PATH and DEST") : QStringLiteral("one PATH")));
        const std::optional<QStringList> absolute = absolutePaths(args.mid(1));
        if (!absolute)
            return ExitUsage;
        clsFile file;
        file.setFileName(absolute->front());
        const clsFile::Result r
            = op.withDestination != nullptr ? (file.*op.withDestination)(absolute->back()) : (file.*op.alone)();
        switch (r) {
        case clsFile::Result::Done: return ExitOk;
        case clsFile::Result::NothingThere:
            err(QStringLiteral("dustmaw-cli: %1: %2").arg(args[1], refusalReason(file.FileName())));
            return ExitFailure;
        case clsFile::Result::Refused:
            // The file object has told its own refusal already.
            if (file.errorString() != QString::fromUtf16(kFirstMoveMessage))
                err(QStringLiteral("dustmaw-cli: %1: %2").arg(args[1], file.errorString()));
            return ExitFailure;
        }
    }
    return usageError(QStringLiteral("file: unknown operation '%1'").arg(args[0]));
}

} // namespace dm::cli
