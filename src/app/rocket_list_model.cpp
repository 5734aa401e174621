#include "app/rocket_list_model.h"

#include "app/qt_text.h"

namespace kestrova::app {

RocketListModel::RocketListModel(QObject* parent) : QAbstractTableModel(parent) {}

const QStringList& RocketListModel::ColumnTitles() {
  static const QStringList titles{
      QStringLiteral("礼包"),     QStringLiteral("赠送者"),   QStringLiteral("被赠送的主播"),
      QStringLiteral("礼物名称"), QStringLiteral("数量"),     QStringLiteral("赠送时间"),
      QStringLiteral("抢领结束时间"), QStringLiteral("房间ID")};
  return titles;
}

const std::array<int, RowStore::kColumns>& RocketListModel::ColumnWidths() {
  // The last column is 0 wide: it only carries the room number for the double-click.
  static constexpr std::array<int, RowStore::kColumns> widths{60, 120, 120, 90, 50, 140, 140, 0};
  return widths;
}

int RocketListModel::InsertRow(int index) {
  const int count = m_rows.Count();
  const int at = (index < 0 || index > count) ? count : index;
  beginInsertRows(QModelIndex(), at, at);
  const int inserted = m_rows.Insert(at);
  endInsertRows();
  return inserted;
}

void RocketListModel::SetCell(int row, int column, const AnsiText& text) {
  if (row < 0 || row >= m_rows.Count() || column < 0 || column >= RowStore::kColumns) return;
  m_rows.SetCell(row, column, text);
  const QModelIndex changed = index(row, column);
  Q_EMIT dataChanged(changed, changed, {Qt::DisplayRole});
}

AnsiText RocketListModel::CellText(int row, int column) const {
  return AnsiText(m_rows.Cell(row, column));
}

int RocketListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_rows.Count();
}

int RocketListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : RowStore::kColumns;
}

QVariant RocketListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  switch (role) {
    case Qt::DisplayRole:
      return FromAnsi(AnsiText(m_rows.Cell(index.row(), index.column())));
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
      return {};
  }
}

QVariant RocketListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= RowStore::kColumns) return {};
  if (role == Qt::DisplayRole) return ColumnTitles().at(section);
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  }
  return {};
}

Qt::ItemFlags RocketListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

}  // namespace kestrova::app
