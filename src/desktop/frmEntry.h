#pragma once
// The battle list window: one row per enemy with its parameters, the current
// target selected, the beaten marked; the character's vitality and the latest
// message in the status bar. The battle reaches the screen through it; once
// the battle has ended, its context menu undoes it.
#include "battle/BattleView.h"

#include <QElapsedTimer>
#include <QMainWindow>

#include <cstdint>

class QLabel;
class QStatusBar;
class QTreeView;

namespace dm {

class EntryModel;

class frmEntry final : public QMainWindow, public BattleView {
    Q_OBJECT
public:
    // Opens beside `owner` (the hero) until it has a place; its message boxes
    // open over it.
    explicit frmEntry(QWidget* owner = nullptr);
    ~frmEntry() override;

    // Runs Form_Load when the window is new or was closed since.
    void EnsureLoaded();
    // Hides the window for good; the next use loads it anew.
    void Unload();

    // Scales every wait (tests and benchmarks run battles faster).
    void setWaitScale(double scale) { m_waitScale = scale; }

    [[nodiscard]] QTreeView& lvEntry() const { return *m_list; }
    [[nodiscard]] EntryModel& model() const { return *m_model; }
    [[nodiscard]] QString vitarityText() const;
    [[nodiscard]] QString messageText() const;

    // The battle the list shows has ended with history record `number` (0
    // none was written). Until the list is cleared, its context menu offers
    // to undo that battle once.
    void BattleEnded(std::int64_t number);
    [[nodiscard]] bool CanUndoBattle() const;
    // Brings the shown battle's files back from the Trash and says what came
    // back; a lost character becomes the current one again.
    void UndoBattle();

    // Switches full-row selection on or off, leaving the view's other
    // settings as they are.
    static void SetFullRowSelect(QTreeView& view, bool on);

    // BattleView
    void ClearEntryList() override;
    void AddEntryRow(const CharaRecord& enemy) override;
    void UpdateEntryRow(const CharaRecord& record, bool selected) override;
    void SelectEntryRow(const CharaRecord& record, bool selected) override;
    void SetEntryRowIcon(const CharaRecord& record, const QString& key) override;
    void ShowEntryWindow() override;
    void SetVitarityText(const QString& text) override;
    void SetMessageText(const QString& text) override;
    void ShowHeroPose(HeroPose pose) override;
    [[nodiscard]] bool IsMinimized() const override;
    void SetCaption(const QString& text) override;
    void Beep() override;
    void ShowMessageBox(const QString& text) override;
    void ProcessEvents() override;
    void WaitUntil(const QDeadlineTimer& deadline) override;

Q_SIGNALS:
    void heroPoseChanged(dm::HeroPose pose);
    // An undone defeat made its character current again.
    void currentCharaChanged();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void Form_Load();
    void Form_Resize();

    QWidget* m_owner;
    EntryModel* m_model;
    QTreeView* m_list;
    QLabel* m_vitarity;
    QLabel* m_message;
    bool m_loaded = false;
    std::int64_t m_battle = 0; // the shown battle's record, 0 none or undone
    double m_waitScale = 1.0;
    QElapsedTimer m_sinceEvents;
};

} // namespace dm
