#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include "app/row_store.h"
#include "ports/types.h"

namespace kestrova::app {

// The model behind 超级列表框1: eight left-aligned text columns over a RowStore. Cells are kept
// in code page 936 as the core wrote them and turned into QString only when the view asks, which
// is for the few rows on screen. Never sorts. GUI thread only.
class RocketListModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit RocketListModel(QObject* parent = nullptr);

  int InsertRow(int index);
  void SetCell(int row, int column, const AnsiText& text);
  AnsiText CellText(int row, int column) const;
  int RowCount() const { return m_rows.Count(); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  static const QStringList& ColumnTitles();
  static const std::array<int, RowStore::kColumns>& ColumnWidths();

 private:
  RowStore m_rows;
};

}  // namespace kestrova::app
