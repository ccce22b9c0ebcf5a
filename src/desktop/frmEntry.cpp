#include "desktop/frmEntry.h"

#include "desktop/EntryModel.h"
#include "desktop/Platform.h"
#include "desktop/Twips.h"
#include "services/Settings.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
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

QString caption() { return QStringLiteral("Entry"); }

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
    // Long messages must not widen the window.
    m_message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addWidget(m_vitarity);
    statusBar()->addWidget(m_message, 1);
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
    m_vitarity->setFixedWidth(PixelsFromTwipsX(kVitarityPanelTwips));
    for (int c = 0; c < EntryModel::kColumns; ++c)
        m_list->header()->resizeSection(c, PixelsFromTwipsX(EntryModel::column(c).widthTwips));
    resize(PixelsFromTwipsX(kDesignWidthTwips), PixelsFromTwipsY(kDesignHeightTwips));
    move(PixelsFromTwipsX(EntryLeft), PixelsFromTwipsY(EntryTop));
    KeepOnScreen(*this);
    setWindowTitle(caption());
    m_loaded = true;
}

void frmEntry::Unload()
{
    hide();
    m_loaded = false;
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
void frmEntry::SetMessageText(const QString& text) { m_message->setText(text); }
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

void frmEntry::Form_Resize()
{
    if (isMinimized() || !isVisible())
        return;
    setWindowTitle(caption());
    StoreTwips(pos(), EntryLeft, EntryTop);
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
