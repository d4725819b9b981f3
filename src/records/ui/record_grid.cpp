#include "record_grid.h"

#include <QColor>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTextStream>
#include <QTimer>
#include <QValidator>
#include <algorithm>

#include "common/dialogs.h"
#include "common/field_input.h"
#include "common/folders.h"
#include "records/record_tables.h"

namespace qn {

namespace {

class TFieldBytesValidator : public QValidator {
 public:
  TFieldBytesValidator(int bytes, QObject* parent) : QValidator(parent), bytes_(bytes) {}
  State validate(QString& input, int&) const override { return input.toUtf8().size() <= bytes_ ? Acceptable : Invalid; }

 private:
  int bytes_;
};

}  // namespace

void LimitToFieldBytes(QLineEdit* edit, int bytes) {
  edit->setValidator(new TFieldBytesValidator(bytes, edit));
  NoteWhenFull(edit, bytes);
}

std::vector<ColumnSpec> FaxTableColumns() {
  return {
      {"DATESENT", "Date Sent", 0, false, ColumnKind::Field},
      {"TIMESENT", "Time Sent", 0, false, ColumnKind::Field},
      {"PHONE", "Fax#", 15, false, ColumnKind::Field},
      {"RECIPIENT", "Recipient", 20, false, ColumnKind::Field},
      {"SUBJECT", "Subject", 20, false, ColumnKind::Field},
      {"LASTRESULT", "Last Attempt", 20, false, ColumnKind::Field},
      {"FAXDOC", "", 0, true, ColumnKind::Field},
      {"FAXCOVER", "", 0, true, ColumnKind::Field},
      {"NOTES", "Notes", 25, false, ColumnKind::Field},
      {"CODES", "Codes", 15, false, ColumnKind::Field},
      {"ARCHIVED", "Archived", 0, true, ColumnKind::Field},
      {"calcFaxFile", "Fax File", 50, false, ColumnKind::CalcFaxFile},
      {"ISDELETED", "", 3, true, ColumnKind::IsDeleted},
      {"ISARCHIVED", "", 3, true, ColumnKind::IsArchived},
  };
}

std::vector<ColumnSpec> RecTableColumns() {
  return {
      {"DATEREC", "Date Rec'd", 0, false, ColumnKind::Field},
      {"TIMEREC", "Time Rec'd", 0, false, ColumnKind::Field},
      {"FROM", "From", 0, false, ColumnKind::Field},
      {"PAGES", "Pages", 0, false, ColumnKind::Field},
      {"FAXFILE", "Fax File", 0, true, ColumnKind::Field},
      {"NOTES", "Notes", 60, false, ColumnKind::Field},
      {"ARCHIVED", "", 0, true, ColumnKind::Field},
      {"calcFaxfile", "Fax File", 50, false, ColumnKind::CalcRecFaxFile},
      {"ISDELETED", "", 3, true, ColumnKind::IsDeleted},
      {"ISARCHIVED", "", 3, true, ColumnKind::IsArchived},
  };
}

std::vector<ColumnSpec> PhoneTableColumns() {
  return {{"NAME", "Name", 31, false, ColumnKind::Field}, {"PHONE", "Fax #", 0, false, ColumnKind::Field}};
}

TRecordModel::TRecordModel(xb::Table& table, std::vector<ColumnSpec> columns, QObject* parent)
    : QAbstractTableModel(parent), table_(table), columns_(std::move(columns)) {
  Reload();
}

TRecordModel::Source TRecordModel::CurrentSource() const {
  if (!table_.isOpen()) return {};
  return {true, table_.changeStamp(), table_.recCount(), table_.order(), table_.filter(), xb::env().deleted};
}

namespace {
// Tables up to this size are listed in one pass; larger ones in steps.
constexpr uint32_t kListAtOnce = 4000;
// A step of the stepwise listing takes about this long; the first one lists a
// screenful of rows and no more, so that the list shows at once.
constexpr int kStepMs = 4;
constexpr size_t kFirstRows = 128;
// The steps after the first wait this long after a read of the list, so that
// the window paints its first screenful before the rest is listed.
constexpr int kFirstStepDelayMs = 150;
}  // namespace

void TRecordModel::ResolveFields() {
  auto index = [this](const QString& name) { return table_.isOpen() ? table_.fieldIndex(ToField(name)) : -1; };
  columnField_.clear();
  for (const ColumnSpec& c : columns_) columnField_.push_back(c.kind == ColumnKind::Field ? index(c.field) : -1);
  archivedField_ = index(QStringLiteral("ARCHIVED"));
  faxDocField_ = index(QStringLiteral("FAXDOC"));
  faxFileField_ = index(QStringLiteral("FAXFILE"));
}

void TRecordModel::Reload() {
  beginResetModel();
  source_ = CurrentSource();
  recnos_.clear();
  complete_ = true;
  if (source_.open && source_.count <= kListAtOnce)
    recnos_ = table_.visibleRecNos();
  else if (source_.open)
    complete_ = false;
  cachedRow_ = -1;
  paths_.clear();
  ResolveFields();
  endResetModel();
  if (!complete_) ListMore(0);
}

bool TRecordModel::ReloadIfChanged() {
  if (CurrentSource() == source_) return false;
  Reload();
  return true;
}

void TRecordModel::ListMore(int budgetMs) {
  if (complete_) return;
  if (CurrentSource() != source_) {  // the table changed under the listing: start again
    Reload();
    return;
  }
  // A handle of its own walks the order, so the table's current record stays.
  xb::Table cursor;
  std::vector<uint32_t> more;
  bool atEnd = true;
  if (cursor.open(table_.path(), xb::OpenMode::ReadOnly) == 0 && cursor.setOrder(source_.order) == 0 &&
      cursor.setFilter(source_.filter) == 0) {
    const int rc = recnos_.empty() ? cursor.goTop() : cursor.go(recnos_.back());
    if (rc == 0 && !recnos_.empty()) cursor.skip(1);
    QElapsedTimer clock;
    clock.start();
    while (!cursor.eof()) {
      more.push_back(cursor.recNo());
      if (recnos_.size() + more.size() >= kFirstRows && more.size() % 32 == 0 && clock.elapsed() >= budgetMs) {
        atEnd = false;
        break;
      }
      cursor.skip(1);
    }
  } else {
    // The table cannot be walked apart from its handle: list it in one pass.
    const std::vector<uint32_t> all = table_.visibleRecNos();
    more.assign(all.begin() + static_cast<std::ptrdiff_t>(std::min(all.size(), recnos_.size())), all.end());
  }
  cursor.close();
  if (!more.empty()) {
    const int first = static_cast<int>(recnos_.size());
    beginInsertRows({}, first, first + static_cast<int>(more.size()) - 1);
    recnos_.insert(recnos_.end(), more.begin(), more.end());
    endInsertRows();
  }
  complete_ = atEnd;
  if (!complete_ && !stepQueued_) {
    stepQueued_ = true;
    QTimer::singleShot(budgetMs == 0 ? kFirstStepDelayMs : 0, this, [this] {
      stepQueued_ = false;
      ListMore(kStepMs);
    });
  }
}

void TRecordModel::Complete() {
  if (complete_) return;
  if (CurrentSource() != source_) Reload();
  if (complete_) return;
  // One pass over the table is quicker than walking the rest record by record.
  const std::vector<uint32_t> all = table_.visibleRecNos();
  if (all.size() >= recnos_.size() && std::equal(recnos_.begin(), recnos_.end(), all.begin())) {
    if (all.size() > recnos_.size()) {
      beginInsertRows({}, static_cast<int>(recnos_.size()), static_cast<int>(all.size()) - 1);
      recnos_ = all;
      endInsertRows();
    }
  } else {
    beginResetModel();
    recnos_ = all;
    cachedRow_ = -1;
    paths_.clear();
    endResetModel();
  }
  complete_ = true;
}

bool TRecordModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && !complete_;
}

void TRecordModel::fetchMore(const QModelIndex& parent) {
  if (!parent.isValid()) ListMore(kStepMs);
}

int TRecordModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(recnos_.size());
}
int TRecordModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

int TRecordModel::ColumnOf(const QString& field) const {
  for (size_t i = 0; i < columns_.size(); ++i)
    if (columns_[i].field.compare(field, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
  return -1;
}

uint32_t TRecordModel::RecNoAt(int row) const {
  return row >= 0 && row < static_cast<int>(recnos_.size()) ? recnos_[row] : 0;
}

int TRecordModel::RowOf(uint32_t recno) {
  for (size_t i = 0; i < recnos_.size(); ++i)
    if (recnos_[i] == recno) return static_cast<int>(i);
  if (complete_) return -1;
  const size_t listed = recnos_.size();
  Complete();
  for (size_t i = listed; i < recnos_.size(); ++i)
    if (recnos_[i] == recno) return static_cast<int>(i);
  return -1;
}

const std::vector<uint8_t>* TRecordModel::Record(int row) const {
  if (row < 0 || row >= static_cast<int>(recnos_.size())) return nullptr;
  if (row != cachedRow_) {
    if (table_.readRecord(recnos_[row], cache_) != 0) return nullptr;
    cachedRow_ = row;
  }
  return &cache_;
}

QString TRecordModel::FieldText(const std::vector<uint8_t>& rec, int i, bool display) const {
  if (i < 0 || i >= table_.fieldCount()) return {};
  const xb::FieldDef& f = table_.field(i);
  if (f.offset + f.width > static_cast<int>(rec.size())) return {};
  QString text = FromField(xb::fieldText(f, rec.data()));
  if (f.type == 'D' && display) {
    const QDate d = QDate::fromString(text, QStringLiteral("yyyyMMdd"));
    return d.isValid() ? d.toString(UserShortDateFormat()) : QString();
  }
  if (f.type == 'L')
    return (text == QLatin1String("T") || text == QLatin1String("t") || text == QLatin1String("Y") ||
            text == QLatin1String("y"))
               ? QStringLiteral("True")
               : QStringLiteral("False");
  while (text.endsWith(QLatin1Char(' '))) text.chop(1);
  if (f.type == 'N') text = text.trimmed();
  return text;
}

bool TRecordModel::IsArchivedRow(int row) const {
  const auto* rec = Record(row);
  return rec && FieldText(*rec, archivedField_, false) == QLatin1String("True");
}

QString TRecordModel::CellText(int row, int column) const {
  const auto* rec = Record(row);
  if (!rec || column < 0 || column >= static_cast<int>(columns_.size())) return {};
  const ColumnSpec& c = columns_[column];
  switch (c.kind) {
    case ColumnKind::Field:
      return FieldText(*rec, columnField_[static_cast<size_t>(column)], true);
    case ColumnKind::CalcFaxFile: {
      const QString doc = FieldText(*rec, faxDocField_, false).trimmed();
      if (doc.isEmpty()) return QString::fromLatin1(records::kCoverOnly);
      return FilePathText(row, SendFolder(), doc);
    }
    case ColumnKind::CalcRecFaxFile:
      return FilePathText(row, ReceiveFolder(), FieldText(*rec, faxFileField_, false).trimmed());
    case ColumnKind::IsDeleted:
      return (*rec)[0] == '*' ? QStringLiteral("Yes") : QStringLiteral("No ");
    case ColumnKind::IsArchived:
      return IsArchivedRow(row) ? QStringLiteral("Yes") : QStringLiteral("No ");
  }
  return {};
}

QString TRecordModel::FilePathText(int row, const std::string& folder, const QString& name) const {
  // Resolving looks at the folder, so each row's path is found once per read
  // of the list (and the cache is kept small).
  const uint32_t recno = RecNoAt(row);
  if (auto it = paths_.find(recno); it != paths_.end()) return it.value();
  if (paths_.size() > 4096) paths_.clear();
  const std::string file = FileInFolder(folder, ToField(name));
  // A name that is no plain file name is shown as stored, never looked up.
  const QString text = file.empty() ? QString::fromStdString(folder) + name : QString::fromStdString(file);
  paths_.insert(recno, text);
  return text;
}

QVariant TRecordModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole) return CellText(index.row(), index.column());
  if (role == Qt::ForegroundRole && IsArchivedRow(index.row())) return QColor(Qt::red);
  return {};
}

QVariant TRecordModel::headerData(int section, Qt::Orientation o, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (o == Qt::Horizontal && section >= 0 && section < static_cast<int>(columns_.size()))
    return columns_[section].label;
  return {};
}

void TArchivedDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  const auto* model = qobject_cast<const TRecordModel*>(index.model());
  if (model && model->IsArchivedRow(index.row())) {
    option->palette.setColor(QPalette::Text, Qt::red);
    option->palette.setColor(QPalette::HighlightedText, Qt::white);
  }
}

TRecordGrid::TRecordGrid(QWidget* parent) : QTableView(parent) {
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setItemDelegate(new TArchivedDelegate(this));
  horizontalHeader()->setSectionsMovable(true);
  horizontalHeader()->setHighlightSections(false);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setFixedWidth(14);  // the row indicator column
  setShowGrid(true);
  setWordWrap(false);
  connect(this, &QAbstractItemView::doubleClicked, this, &TRecordGrid::RecordChosen);
}

void TRecordGrid::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    if (HasCurrent()) emit RecordChosen();
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

void TRecordGrid::SetRecordModel(TRecordModel* model) {
  model_ = model;
  setModel(model);
  const int charWidth = fontMetrics().horizontalAdvance(QLatin1Char('0'));
  for (int i = 0; i < static_cast<int>(model->columns().size()); ++i) {
    const ColumnSpec& c = model->columns()[i];
    setColumnHidden(i, c.hidden);
    int chars = c.widthChars;
    if (chars == 0) {
      const int f = model->table().fieldIndex(c.field.toStdString());
      chars = f >= 0 ? model->table().field(f).width + (model->table().field(f).type == 'D' ? 3 : 0) : 10;
      chars = std::max<int>(chars, static_cast<int>(c.label.size()));
    }
    // Never narrower than the column's heading, which would be cut off.
    const int heading = horizontalHeader()->fontMetrics().horizontalAdvance(c.label) + 12;
    setColumnWidth(i, std::max(chars * charWidth + 8, heading));
  }
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { OnRowChanged(current); });
}

bool TRecordGrid::HasCurrent() const {
  if (!model_) return false;  // a grid whose table never opened
  const xb::Table& t = model_->table();
  return t.isOpen() && t.recNo() != t.recCount() + 1;
}

void TRecordGrid::Refresh() {
  if (!model_) return;
  syncing_ = true;
  model_->ReloadIfChanged();
  syncing_ = false;
  SyncToTable();
}

void TRecordGrid::SyncToTable() {
  if (!model_) return;
  syncing_ = true;
  const int row = HasCurrent() ? model_->RowOf(model_->table().recNo()) : -1;
  if (row >= 0) {
    int column = currentIndex().isValid() ? currentIndex().column() : 0;
    while (column < model_->columnCount() - 1 && isColumnHidden(column)) ++column;
    setCurrentIndex(model_->index(row, column));
    scrollTo(model_->index(row, column));
  } else {
    clearSelection();
    selectionModel()->setCurrentIndex({}, QItemSelectionModel::Clear);
  }
  syncing_ = false;
}

void TRecordGrid::SaveLayout(const QString& base) const {
  if (!model_) return;
  const QHeaderView* h = horizontalHeader();
  QFile order(base + QStringLiteral(".gco"));
  if (order.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
    QTextStream out(&order);
    for (int v = 0; v < h->count(); ++v) {
      const ColumnSpec& c = model_->columns()[h->logicalIndex(v)];
      if (c.kind != ColumnKind::CalcFaxFile) out << c.field << "\n";
    }
  }
  QFile widths(base + QStringLiteral(".gcs"));
  if (widths.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
    QTextStream out(&widths);
    out << verticalHeader()->width() << "\n";
    for (int v = 0; v < h->count(); ++v)
      if (!h->isSectionHidden(h->logicalIndex(v))) out << h->sectionSize(h->logicalIndex(v)) << "\n";
  }
}

void TRecordGrid::LoadLayout(const QString& base) {
  if (!model_) return;
  QHeaderView* h = horizontalHeader();
  QFile order(base + QStringLiteral(".gco"));
  if (order.open(QIODevice::ReadOnly | QIODevice::Text)) {
    int position = 0;
    while (!order.atEnd() && position < h->count()) {
      const QString name = QString::fromLatin1(order.readLine()).trimmed();
      const int logical = model_->ColumnOf(name);
      if (logical >= 0) h->moveSection(h->visualIndex(logical), position);
      ++position;
    }
  }
  QFile widths(base + QStringLiteral(".gcs"));
  if (widths.open(QIODevice::ReadOnly | QIODevice::Text)) {
    std::vector<int> shown;
    for (int v = 0; v < h->count(); ++v)
      if (!h->isSectionHidden(h->logicalIndex(v))) shown.push_back(h->logicalIndex(v));
    for (int line = 0; !widths.atEnd() && line <= static_cast<int>(shown.size()); ++line) {
      bool ok = false;
      const int width = QString::fromLatin1(widths.readLine()).trimmed().toInt(&ok);
      if (!ok || width < 0 || width > 10000) continue;
      if (line == 0)
        verticalHeader()->setFixedWidth(width);
      else
        h->resizeSection(shown[line - 1], width);
    }
  }
}

void TRecordGrid::OnRowChanged(const QModelIndex& current) {
  if (syncing_ || !current.isValid()) return;
  const uint32_t recno = model_->RecNoAt(current.row());
  if (recno != 0 && recno != model_->table().recNo()) model_->table().go(recno);
  emit CurrentRecordChanged();
}

}  // namespace qn
