#include "desktop/EntryModel.h"

#include <array>

namespace dm {

namespace {

constexpr Qt::Alignment kLeft = Qt::AlignLeft | Qt::AlignVCenter;
constexpr Qt::Alignment kRight = Qt::AlignRight | Qt::AlignVCenter;

const std::array<EntryModel::Column, EntryModel::kColumns> kColumnTable{{
    {"名前", kLeft, 2540},
    {"種族", kLeft, 1235},
    {"Level", kRight, 882},
    {"Vitarity", kRight, 1235},
    {"Strength", kRight, 1235},
    {"Defense", kRight, 1235},
    {"Agility", kRight, 1235},
    {"Luck", kRight, 1235},
    {"装備", kLeft, 1940},
    {"経験値", kRight, 2117},
    {"出身地", kLeft, 2540},
}};

} // namespace

const EntryModel::Column& EntryModel::column(int c) { return kColumnTable.at(static_cast<size_t>(c)); }

void EntryModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_index.clear();
    endResetModel();
}

void EntryModel::addRow(const CharaRecord& record)
{
    if (m_index.contains(record.FileName))
        return;
    const int row = static_cast<int>(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.push_back({record.Name, {}, false, {}});
    m_index.insert(record.FileName, row);
    endInsertRows();
}

void EntryModel::updateRow(const CharaRecord& record)
{
    const int row = rowOf(record.FileName);
    if (row < 0)
        return;
    Row& r = m_rows[static_cast<size_t>(row)];
    r.cells = record;
    r.filled = true;
    Q_EMIT dataChanged(index(row, 1), index(row, kColumns - 1), {Qt::DisplayRole});
}

void EntryModel::setRowIcon(const QString& key, const QString& imageKey)
{
    const int row = rowOf(key);
    if (row < 0)
        return;
    m_rows[static_cast<size_t>(row)].icon = imageKey;
    Q_EMIT dataChanged(index(row, 0), index(row, 0), {Qt::DecorationRole});
}

int EntryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int EntryModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QString EntryModel::cellText(const Row& row, int column)
{
    if (column == 0)
        return row.name;
    if (!row.filled)
        return {};
    const CharaRecord& c = row.cells;
    switch (column) {
    case 1: return c.Tribe;
    case 2: return QString::number(c.Level);
    case 3: return QString::number(c.Vitarity);
    case 4: return QString::number(c.Strength);
    case 5: return QString::number(c.Defense);
    case 6: return QString::number(c.Agility);
    case 7: return QString::number(c.Luck);
    case 8: return c.Item;
    case 9: return QString::number(c.Experience);
    case 10: return c.LongPath;
    default: return {};
    }
}

QVariant EntryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Row& row = m_rows[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole: return cellText(row, index.column());
    case Qt::DecorationRole:
        if (index.column() == 0 && !row.icon.isEmpty())
            return m_images.value(row.icon);
        return {};
    case Qt::TextAlignmentRole: return column(index.column()).alignment.toInt();
    default: return {};
    }
}

QVariant EntryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(column(section).header);
    if (role == Qt::TextAlignmentRole)
        return column(section).alignment.toInt();
    return {};
}

} // namespace dm
