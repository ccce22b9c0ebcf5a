#include "character/MakeChara.h"

#include "character/CharaFile.h"
#include "services/AtomicFile.h"
#include "services/HomeFolder.h"
#include "services/clsFile.h"

namespace dm {

QString MakeChara(const QString& name, QString& path, bool& cancel)
{
    // Later checks replace earlier messages: only the weightiest is shown.
    QString message;
    if (name.isEmpty())
        message = QStringLiteral("名前を入力して下さい");
    // Comma and semicolon are refused although file systems take them.
    static const QString forbidden = QStringLiteral("\\/:,;*?\"<>|");
    for (const QChar c : forbidden) {
        if (name.contains(c)) {
            message = QStringLiteral("\\ / : , ; * ? \" < > | は、使えません");
            break;
        }
    }
    const QString target = HomeFolder() + QLatin1Char('/') + name + QStringLiteral(".dmf");
    clsFile file;
    file.setFileName(target);
    if (file.Enabled())
        message = QStringLiteral("すでに存在するキャラです");
    if (!message.isEmpty()) {
        cancel = true;
        return message;
    }

    QByteArray bytes(1000, '\0');
    for (char& c : bytes)
        c = FillerByte();
    const QByteArray header = CheckHeader(static_cast<std::int32_t>(bytes.size()));
    bytes.replace(0, header.size(), header);

    // Written aside and moved into place only if nothing has appeared at the
    // name meanwhile, so an existing file is never replaced.
    AtomicFile out(target);
    if (!EnsureHomeFolder() || !out.open() || !out.write(bytes) || !out.commit(AtomicFile::NoReplace)) {
        cancel = true;
        return QStringLiteral("キャラファイルを作成できません");
    }
    path = target;
    cancel = false;
    return {};
}

} // namespace dm
