#include "desktop/frmEntry.h"

#include "battle/History.h"
#include "character/LoadChara.h"
#include "desktop/EntryModel.h"
#include "services/Settings.h"
#include "ui/Platform.h"
#include "ui/Twips.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QResizeEvent>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>

#include <cmath>

namespace dm {

namespace {

constexpr int kDesignWidthTwips = 6030;
constexpr int kDesignHeightTwips = 3960;
constexpr int kVitarityPanelTwips = 2540;
// The battle calls ProcessEvents after every row and message; a drop of
// thousands of files would spend its time polling the display for nothing.
constexpr qint64 kEventsIntervalMs = 10;

// Files named one by one in the undo's box; the rest are only counted.
constexpr int kUndoLines = 20;

QString caption() { return QStringLiteral("Entry"); }

QString whyNotBack(const RestoredFile& file)
{
    switch (file.result) {
    case RestoredFile::AlreadyBack: return QStringLiteral("すでに戻っています");
    case RestoredFile::Occupied: return QStringLiteral("同じ名前のファイルがあるため、ごみ箱に残しました");
    case RestoredFile::Purged: return QStringLiteral("ごみ箱から消されています");
    case RestoredFile::DeletedForGood: return QStringLiteral("完全に削除されています");
    case RestoredFile::Failed: return file.reason.isEmpty() ? QStringLiteral("戻せませんでした") : file.reason;
    case RestoredFile::Restored:
    case RestoredFile::WouldRestore: break;
    }
    return {};
}

QString undoText(const RestoreReport& report, const QString& charaName)
{
    if (!report.found)
        return QStringLiteral("このバトルの記録が見つかりません。");
    if (report.running)
        return QStringLiteral("このバトルはまだ終わっていません。");
    if (report.restoring)
        return QStringLiteral("このバトルは別の操作で元に戻している最中です。");
    if (report.files.empty())
        return QStringLiteral("ごみ箱から戻すファイルはありません。");
    QStringList lines{QStringLiteral("%1 件のファイルを元に戻しました。").arg(report.restored)};
    if (!charaName.isEmpty())
        lines << QStringLiteral("キャラ「%1」を現在のキャラに戻しました。").arg(charaName);
    int named = 0;
    int unnamed = 0;
    for (const RestoredFile& file : report.files) {
        if (file.result == RestoredFile::Restored)
            continue;
        if (named < kUndoLines) {
            lines << QStringLiteral("%1: %2").arg(file.path, whyNotBack(file));
            ++named;
        } else {
            ++unnamed;
        }
    }
    if (unnamed > 0)
        lines << QStringLiteral("ほか %1 件").arg(unnamed);
    if (!report.error.isEmpty())
        lines << QStringLiteral("履歴を書き換えられませんでした: %1").arg(report.error);
    return lines.join(QLatin1Char('\n'));
}

// Holds one label of the status bar. A label asks for a new layout with
// every new text, and the status bar answers any layout request by
// repainting all its panels; held here, a label repaints only itself. The
// panel is one line of the font high whatever the text, so no new text needs
// a layout. It fills its own background, the window's colour as under it, so
// a new text does not repaint the status bar and the window beneath.
class StatusPanel final : public QWidget {
public:
    StatusPanel(QLabel* label, QWidget* parent) : QWidget(parent), m_label(label)
    {
        label->setParent(this);
        setAutoFillBackground(true);
    }
    [[nodiscard]] QSize sizeHint() const override { return m_label->sizeHint(); }
    [[nodiscard]] QSize minimumSizeHint() const override { return m_label->minimumSizeHint(); }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        m_label->setGeometry(rect());
    }

private:
    QLabel* m_label;
};

} // namespace

frmEntry::frmEntry(QWidget* owner)
    : m_owner(owner),
      m_model(new EntryModel(this)),
      m_list(new QTreeView(this)),
      m_vitarity(new QLabel(this)),
      m_message(new QLabel(this))
{
    setWindowTitle(caption());
    m_model->setImages({{QStringLiteral("Dead"), QIcon(QPixmap::fromImage(Picture("dead")))}});

    m_list->setModel(m_model);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setIconSize(QSize(16, 16));
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionsMovable(false);
    setCentralWidget(m_list);

    m_vitarity->setText(QStringLiteral("Vit："));
    // Long messages must not widen the window. The message takes all the
    // width the vitality leaves, the size grip's too (the frame resizes).
    auto* message = new StatusPanel(m_message, this);
    message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(new StatusPanel(m_vitarity, this));
    statusBar()->addWidget(message, 1);
}

frmEntry::~frmEntry() = default;

void frmEntry::EnsureLoaded()
{
    if (!m_loaded)
        Form_Load();
}

void frmEntry::Form_Load()
{
    SetFullRowSelect(*m_list, true);
    m_vitarity->parentWidget()->setFixedWidth(PixelsFromTwipsX(kVitarityPanelTwips));
    for (int c = 0; c < EntryModel::kColumns; ++c)
        m_list->header()->resizeSection(c, PixelsFromTwipsX(EntryModel::column(c).widthTwips));
    resize(PixelsFromTwipsX(kDesignWidthTwips), PixelsFromTwipsY(kDesignHeightTwips));
    if (EntryPlaced || m_owner == nullptr) {
        move(PixelsFromTwipsX(EntryLeft), PixelsFromTwipsY(EntryTop));
        KeepOnScreen(*this);
    } else {
        // Over the hero, the list would take the drops and clicks meant for it.
        PlaceBeside(*this, *m_owner);
    }
    setWindowTitle(caption());
    m_loaded = true;
}

void frmEntry::Unload()
{
    hide();
    m_loaded = false;
}

void frmEntry::BattleEnded(std::int64_t number) { m_battle = number; }

bool frmEntry::CanUndoBattle() const { return m_battle != 0 && Idle == kTrue; }

void frmEntry::UndoBattle()
{
    if (!CanUndoBattle())
        return;
    const RestoreReport report = RestoreBattle(m_battle);
    // A battle still writing its record has moved nothing back: it may be
    // tried again.
    if (report.found && !report.running && !report.restoring)
        m_battle = 0;
    QString charaName;
    if (report.charaBack && report.record.outcome == BattleOutcome::Defeat) {
        // As the open sheet does once it has loaded a character file.
        CharaRecord chara;
        CharaRecord item;
        if (LoadChara(report.record.chara, chara, item) == 0) {
            CharaPath = report.record.chara;
            CharaPathBackup = CharaPath;
            Chara = chara;
            CharaItem = item;
            charaName = Chara.Name;
        }
    }
    if (!charaName.isEmpty())
        Q_EMIT currentCharaChanged();
    MsgBox(m_owner, undoText(report, charaName));
}

void frmEntry::SetFullRowSelect(QTreeView& view, bool on)
{
    view.setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    view.setAllColumnsShowFocus(on);
}

QString frmEntry::vitarityText() const { return m_vitarity->text(); }
QString frmEntry::messageText() const { return m_message->text(); }

void frmEntry::ClearEntryList()
{
    EnsureLoaded();
    m_model->clear();
    m_battle = 0;
}

void frmEntry::AddEntryRow(const CharaRecord& enemy) { m_model->addRow(enemy); }

void frmEntry::UpdateEntryRow(const CharaRecord& record, bool selected)
{
    m_model->updateRow(record);
    SelectEntryRow(record, selected);
}

void frmEntry::SelectEntryRow(const CharaRecord& record, bool selected)
{
    const int row = m_model->rowOf(record.FileName);
    if (row < 0)
        return;
    QItemSelectionModel* selection = m_list->selectionModel();
    const QModelIndex index = m_model->index(row, 0);
    QItemSelectionModel::SelectionFlags flags
        = selected ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::Deselect;
    if (m_list->selectionBehavior() == QAbstractItemView::SelectRows)
        flags |= QItemSelectionModel::Rows;
    selection->select(index, flags);
    ProcessEvents();
}

void frmEntry::SetEntryRowIcon(const CharaRecord& record, const QString& key)
{
    m_model->setRowIcon(record.FileName, key);
    ProcessEvents();
}

void frmEntry::ShowEntryWindow()
{
    EnsureLoaded();
    if (!isVisible())
        show();
    else if (!isMinimized())
        raise();
}

void frmEntry::SetVitarityText(const QString& text) { m_vitarity->setText(text); }
void frmEntry::SetMessageText(const QString& text)
{
    if (text == m_message->text())
        return;
    // The panel may be narrower than a long name makes the text.
    m_message->setText(text);
    m_message->setToolTip(text);
}
void frmEntry::ShowHeroPose(HeroPose pose) { Q_EMIT heroPoseChanged(pose); }
bool frmEntry::IsMinimized() const { return isMinimized(); }
void frmEntry::SetCaption(const QString& text) { setWindowTitle(text); }
void frmEntry::Beep() { dm::Beep(); }
void frmEntry::ShowMessageBox(const QString& text) { MsgBox(m_owner, text); }

void frmEntry::ProcessEvents()
{
    if (m_sinceEvents.isValid() && m_sinceEvents.elapsed() < kEventsIntervalMs)
        return;
    QCoreApplication::processEvents();
    m_sinceEvents.start();
}

void frmEntry::WaitUntil(const QDeadlineTimer& deadline)
{
    const qint64 remaining = deadline.remainingTime();
    if (remaining <= 0)
        return;
    // A nested loop woken by a timer: the window stays alive and the
    // processor idles.
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(std::ceil(static_cast<double>(remaining) * m_waitScale)), Qt::PreciseTimer,
                       &loop, &QEventLoop::quit);
    loop.exec();
    m_sinceEvents.start();
}

void frmEntry::closeEvent(QCloseEvent* event)
{
    if (Idle != kTrue) {
        event->ignore();
        return;
    }
    event->accept();
    m_loaded = false;
}

void frmEntry::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    // No menu at all during a battle: its loop would hold the battle up.
    if (Idle != kTrue)
        return;
    QMenu menu(this);
    QAction* undo = menu.addAction(QStringLiteral("このバトルを元に戻す"));
    undo->setEnabled(CanUndoBattle());
    if (menu.exec(event->globalPos()) == undo)
        UndoBattle();
}

void frmEntry::Form_Resize()
{
    if (isMinimized() || !isVisible())
        return;
    setWindowTitle(caption());
    StoreTwips(pos(), EntryLeft, EntryTop);
    EntryPlaced = true;
}

void frmEntry::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void frmEntry::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    Form_Resize();
}

void frmEntry::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

} // namespace dm
