#pragma once
// What the battle needs of a screen: the battle list window implements it,
// the command-line tool prints through it, tests record through it.
#include "character/CharaRecord.h"

#include <QDeadlineTimer>
#include <QString>

namespace dm {

// The hero's picture: a battle chooses it with each message; the desktop
// adds Ready while files are dragged over the hero.
enum class HeroPose { Standing, Swing, Flinch, Victory, Fallen, Ready };

class BattleView {
public:
    virtual ~BattleView() = default;

    // The entry list; rows are keyed by the record's FileName.
    virtual void ClearEntryList() {}
    // A new row with the record's Name as text and no icon.
    virtual void AddEntryRow(const CharaRecord& /*enemy*/) {}
    virtual void UpdateEntryRow(const CharaRecord& /*record*/, bool /*selected*/) {}
    virtual void SelectEntryRow(const CharaRecord& /*record*/, bool /*selected*/) {}
    virtual void SetEntryRowIcon(const CharaRecord& /*record*/, const QString& /*key*/) {}
    virtual void ShowEntryWindow() {}

    // Status bar: panel 1 holds the vitality, panel 2 the latest message.
    virtual void SetVitarityText(const QString& /*text*/) {}
    virtual void SetMessageText(const QString& /*text*/) {}
    // Set just before the message it belongs to; a view may skip frames.
    virtual void ShowHeroPose(HeroPose /*pose*/) {}
    // The caption shown while the window is minimised.
    [[nodiscard]] virtual bool IsMinimized() const { return false; }
    virtual void SetCaption(const QString& /*text*/) {}

    virtual void Beep() {}
    virtual void ShowMessageBox(const QString& /*text*/) {}

    // Lets pending interface events run once.
    virtual void ProcessEvents() {}
    // Returns once the deadline has passed, keeping the interface alive
    // meanwhile. It must not spin: the default sleeps.
    virtual void WaitUntil(const QDeadlineTimer& deadline);
};

} // namespace dm
