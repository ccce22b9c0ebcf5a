// Telling the battle: the status bar, the minimised caption, the log, the
// pace.
#include "battle/Battle.h"
#include "battle/History.h"
#include "services/Settings.h"

#include <QFile>

#include <cmath>

namespace dm {

QString LogPath;

namespace {

// Opened and closed per line, so the log is complete at every moment.
void appendLogLine(const QString& path, const QString& text)
{
    if (path.isEmpty())
        return;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    f.write(text.toUtf8() + '\n');
}

// What the hero does while the message of an event is shown.
HeroPose poseFor(BattleEvent event)
{
    switch (event) {
    case BattleEvent::AttackByCharacter:
    case BattleEvent::CriticalByCharacter:
    case BattleEvent::DamageDealt:
    case BattleEvent::EnemyDodged:
    case BattleEvent::EnemyBeaten: return HeroPose::Swing;
    case BattleEvent::DamageTaken: return HeroPose::Flinch;
    case BattleEvent::CharacterDied: return HeroPose::Fallen;
    case BattleEvent::Victory:
    case BattleEvent::Experience:
    case BattleEvent::LevelUp: return HeroPose::Victory;
    case BattleEvent::BattleStart:
    case BattleEvent::AttackOnCharacter:
    case BattleEvent::CharacterDodged:
    case BattleEvent::CriticalByEnemy: break;
    }
    return HeroPose::Standing;
}

} // namespace

Battle::Battle(BattleView& view, BattleOptions options) : m_view(view), m_options(options) {}

Battle::~Battle() = default;

void Battle::ShowMessage(const QString& text, float wait, std::int32_t left, HeroPose pose)
{
    const double seconds = wait == 0.0F ? static_cast<double>(MsgWait) : static_cast<double>(wait);
    const QDeadlineTimer deadline(std::llround(seconds * 1000.0), Qt::PreciseTimer);

    m_view.ShowHeroPose(pose);
    m_view.SetMessageText(text);
    if (m_view.IsMinimized()) {
        if (wait != 0.0F || Minimize == 0)
            m_view.SetCaption(text);
        else if (Minimize == 1)
            m_view.SetCaption(QStringLiteral("V:%1 残:%2").arg(Chara.Vitarity).arg(left));
    }
    m_view.ProcessEvents();
    if (Log == 1)
        appendLogLine(LogPath, text);
    m_view.WaitUntil(deadline);
}

void Battle::ShowVitarity(std::int32_t value)
{
    m_view.SetVitarityText(QStringLiteral("Vit：%1").arg(value));
    Chara.Vitarity = value;
    m_view.ProcessEvents();
}

void Battle::say(BattleEvent event, const MessageArgs& args, float wait, std::int32_t left)
{
    tell(event, MessageText(MsgType, event, args), wait, left);
}

void Battle::tell(BattleEvent event, const QString& text, float wait, std::int32_t left)
{
    ShowMessage(text, wait, left, poseFor(event));
}

} // namespace dm
