#pragma once
// The rows of the battle list: one per enemy, keyed by its file path, found
// by key in constant time.
#include "character/CharaRecord.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>

#include <vector>

namespace dm {

class EntryModel final : public QAbstractTableModel {
public:
    static constexpr int kColumns = 11;

    using QAbstractTableModel::QAbstractTableModel;

    // The images a row's icon key can name.
    void setImages(QHash<QString, QIcon> images) { m_images = std::move(images); }

    void clear();
    // A row with the record's Name as text, keyed by its FileName; a key
    // already present is left as it is.
    void addRow(const CharaRecord& record);
    // Cells 2 to 11 of the record's row from the record; the row text stays.
    void updateRow(const CharaRecord& record);
    void setRowIcon(const QString& key, const QString& imageKey);
    // The row of a key, or -1.
    [[nodiscard]] int rowOf(const QString& key) const { return m_index.value(key, -1); }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Header text, alignment and design width in twips of each column.
    struct Column {
        const char* header;
        Qt::Alignment alignment;
        int widthTwips;
    };
    [[nodiscard]] static const Column& column(int c);

private:
    struct Row {
        QString name;
        QString icon;
        bool filled = false;
        CharaRecord cells;
    };
    [[nodiscard]] static QString cellText(const Row& row, int column);

    std::vector<Row> m_rows;
    QHash<QString, int> m_index;
    QHash<QString, QIcon> m_images;
};

} // namespace dm
