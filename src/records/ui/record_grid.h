// Read-only grids over a table handle: a model that lists the handle's visible
// records (filter, order and SET DELETED applied) with plain and calculated
// columns, archived rows drawn in red, and a view that keeps its selected row and
// the handle's current record together.
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QTableView>
#include <cstdint>
#include <vector>

#include "xbase/xb_table.h"

namespace qn {

// Table text is UTF-8 (xbase/xb_text.h); field widths count its bytes.
inline QString FromField(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string ToField(const QString& s) {
  return s.toUtf8().toStdString();
}
// Refuses input whose UTF-8 form would not fit a field of the given bytes, so
// nothing typed is cut when it is stored.
void LimitToFieldBytes(QLineEdit* edit, int bytes);

enum class ColumnKind { Field, CalcFaxFile, CalcRecFaxFile, IsDeleted, IsArchived };

struct ColumnSpec {
  QString field;       // field name, or the calculated field's name
  QString label;       // column title
  int widthChars = 0;  // display width in characters, 0 = the field's own width
  bool hidden = false;
  ColumnKind kind = ColumnKind::Field;
};

// The display fields of the main window's handles, in field order.
std::vector<ColumnSpec> FaxTableColumns();
std::vector<ColumnSpec> RecTableColumns();
std::vector<ColumnSpec> PhoneTableColumns();

class TRecordModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  TRecordModel(xb::Table& table, std::vector<ColumnSpec> columns, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;

  // Reads the list of visible records again. A large table is listed in steps:
  // the first rows at once, the rest in short steps from the event loop (or at
  // once where a caller needs a row not yet listed), so that a window shows
  // its list without waiting for a pass over the whole table.
  void Reload();
  // Reads it again only when the table, its order, filter or SET DELETED changed
  // since the last read. True when read.
  bool ReloadIfChanged();
  // Lists the rest of a large table now.
  void Complete();
  bool IsComplete() const { return complete_; }
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  xb::Table& table() const { return table_; }
  const std::vector<ColumnSpec>& columns() const { return columns_; }
  int ColumnOf(const QString& field) const;  // -1 when absent
  uint32_t RecNoAt(int row) const;           // 0 when out of range
  int RowOf(uint32_t recno);                 // -1 when not listed (completes the list first)
  bool IsArchivedRow(int row) const;
  // The text of a cell as shown.
  QString CellText(int row, int column) const;

 private:
  const std::vector<uint8_t>* Record(int row) const;
  // The resolved path of a file a row names in a folder (calculated columns).
  QString FilePathText(int row, const std::string& folder, const QString& name) const;
  QString FieldText(const std::vector<uint8_t>& rec, int fieldIndex, bool display) const;
  // Field indexes of the columns and of the fields the calculated columns read,
  // resolved once per read of the list instead of once per cell.
  void ResolveFields();

  xb::Table& table_;
  std::vector<ColumnSpec> columns_;
  std::vector<uint32_t> recnos_;
  // What the list was read from (see ReloadIfChanged).
  struct Source {
    bool open = false;
    uint64_t stamp = 0;
    uint32_t count = 0;
    int order = 0;
    std::string filter;
    bool deleted = false;
    bool operator==(const Source&) const = default;
  };
  Source CurrentSource() const;
  // Lists more of a large table, for about budgetMs; schedules the next step.
  void ListMore(int budgetMs);
  Source source_;
  bool complete_ = true;
  bool stepQueued_ = false;
  std::vector<int> columnField_;  // per column, -1 for calculated columns
  int archivedField_ = -1, faxDocField_ = -1, faxFileField_ = -1;
  mutable int cachedRow_ = -1;
  mutable std::vector<uint8_t> cache_;
  mutable QHash<uint32_t, QString> paths_;
};

// Draws archived rows in red, or white while selected.
class TArchivedDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

class TRecordGrid : public QTableView {
  Q_OBJECT
 public:
  explicit TRecordGrid(QWidget* parent = nullptr);
  void SetRecordModel(TRecordModel* model);
  TRecordModel* recordModel() const { return model_; }
  // Re-reads the records when they changed and selects the handle's current record.
  void Refresh();
  // Selects the handle's current record without re-reading.
  void SyncToTable();
  // Whether the handle has a current record (recNo() != recCount() + 1).
  bool HasCurrent() const;
  // Column layout files: base + ".gco" lists the fields in display order (all but
  // calcFaxFile), base + ".gcs" the widths of the shown columns, the row indicator
  // first. Loading applies what is valid and skips the rest.
  void SaveLayout(const QString& base) const;
  void LoadLayout(const QString& base);

 signals:
  // The handle moved because the user picked another row.
  void CurrentRecordChanged();
  // The user chose the current row: a double click on it, or Enter.
  void RecordChosen();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnRowChanged(const QModelIndex& current);
  TRecordModel* model_ = nullptr;
  bool syncing_ = false;
};

}  // namespace qn
