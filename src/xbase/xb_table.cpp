// xb::Table: opening, structure, record values and editing.
#include "xb_table.h"

#include <fcntl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "xb_table_impl.h"
#include "xb_text.h"

namespace xb {

namespace {

const FieldDef kNoField{};

// 'text' for messages, built by appending: GCC 12 sees a false overlap in
// "'" + std::string(...) in optimised builds.
std::string quoted(std::string_view text) {
  std::string s(1, '\'');
  s.append(text);
  s += '\'';
  return s;
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

TableShared& Table::Impl::s() const {
  if (!sh) failWith(xbNotOpen, "table is not open");
  return *sh;
}

Expr Table::Impl::compile(std::string_view text) const {
  Expr e;
  std::string err;
  int rc = Expr::compile(text, s().dbf.fields(), e, err);
  if (rc != 0) failWith(-rc, err);
  return e;
}

Table::Table() : d_(std::make_unique<Impl>()) {}
Table::~Table() {
  close();
}

int Table::create(const std::string& path, const std::vector<FieldDef>& fields, std::string* error) {
  std::string err;
  int rc = DbfFile::create(path, fields, err);
  if (error) *error = err;
  return rc;
}

int Table::open(const std::string& path, OpenMode mode) {
  close();
  return guarded(*d_, false, [&] {
    d_->sh = acquireShared(path, mode);
    d_->path = path;
    d_->mode = mode;
    d_->order = 0;
    d_->filter = Expr();
    if (!d_->filterText.empty()) {
      try {
        d_->filter = d_->compile(d_->filterText);
      } catch (const Failure&) {
        d_->filterText.clear();  // a filter that no longer fits the table is dropped
      }
    }
    d_->buf.assign(d_->sh->dbf.recordLength(), ' ');
    d_->positionNatural(1, 1);
    d_->bof = false;
    return 0;
  });
}

void Table::close() {
  if (!d_->sh) return;
  guarded(*d_, true, [&] {
    d_->postPending();
    return 0;
  });
  if (d_->locked) unlock();
  guarded(*d_, true, [&] {
    d_->sh->flushIndex();
    return 0;
  });
  d_->sh.reset();
  d_->recno = 0;
  d_->bof = d_->eof = true;
  d_->modified = false;
  d_->pos = CdxPos{};
  d_->lastExprText.clear();
  d_->lastExpr = Expr();
}

bool Table::isOpen() const {
  return d_->sh != nullptr;
}
const std::string& Table::path() const {
  return d_->path;
}
std::string Table::indexPath() const {
  return d_->sh ? findIndexPath(d_->path) : std::string();
}
OpenMode Table::mode() const {
  return d_->mode;
}

int Table::fieldCount() const {
  return d_->sh ? static_cast<int>(d_->sh->dbf.fields().size()) : 0;
}

const FieldDef& Table::field(int index) const {
  if (!d_->sh || index < 0 || index >= fieldCount()) return kNoField;
  return d_->sh->dbf.fields()[static_cast<size_t>(index)];
}

const std::vector<FieldDef>& Table::fields() const {
  static const std::vector<FieldDef> none;
  return d_->sh ? d_->sh->dbf.fields() : none;
}

int Table::fieldIndex(std::string_view name) const {
  if (!d_->sh) return -1;
  std::string want = upper(name);
  while (!want.empty() && want.back() == ' ') want.pop_back();
  const auto& f = d_->sh->dbf.fields();
  for (size_t i = 0; i < f.size(); ++i)
    if (f[i].name == want) return static_cast<int>(i);
  return -1;
}

int Table::recordSize() const {
  return d_->sh ? static_cast<int>(d_->sh->dbf.recordLength()) : 0;
}

// ---- values ----------------------------------------------------------------------

const std::vector<uint8_t>& Table::recordBuffer() const {
  Impl& d = *d_;
  // Another handle's posted change shows at once unless this one is editing.
  if (d.sh && d.recno && !d.modified && d.seenChange != d.sh->changeStamp) {
    if (d.recno <= d.sh->dbf.recordCount() && d.sh->dbf.readRecord(d.recno, d.buf.data()) == 0)
      d.seenChange = d.sh->changeStamp;
  }
  return d.buf;
}

std::string Table::getString(int index) const {
  const FieldDef& f = field(index);
  if (f.name.empty()) return "";
  return fieldText(f, recordBuffer().data());
}

std::string Table::getString(std::string_view name) const {
  return getString(fieldIndex(name));
}

std::string Table::getTrimString(std::string_view name) const {
  std::string s = getString(name);
  size_t end = s.find_last_not_of(' ');
  s.resize(end == std::string::npos ? 0 : end + 1);
  return s;
}

std::string Table::getDate(std::string_view name) const {
  int i = fieldIndex(name);
  if (i < 0 || field(i).type != 'D') return std::string(8, ' ');
  int32_t j = julianFromDtos(getString(i));
  return dtosFromJulian(j);
}

std::string Table::getDateString(std::string_view name) const {
  int32_t j = julianFromDtos(getDate(name));
  return j ? dtoc(j, env().century) : std::string();
}

Value Table::getValue(std::string_view name) const {
  int i = fieldIndex(name);
  if (i < 0) return Value::character("");
  return fieldValue(field(i), recordBuffer().data());
}

bool Table::getLogical(std::string_view name) const {
  Value v = getValue(name);
  return v.type == Type::Logical && v.b;
}

double Table::getNumber(std::string_view name) const {
  Value v = getValue(name);
  return v.type == Type::Numeric ? v.n : 0;
}

bool Table::modified() const {
  return d_->modified;
}

static void storeField(std::vector<uint8_t>& buf, const FieldDef& f, std::string_view text) {
  size_t w = static_cast<size_t>(f.width);
  size_t n = std::min(text.size(), w);
  std::memcpy(buf.data() + f.offset, text.data(), n);
  std::memset(buf.data() + f.offset + n, ' ', w - n);
}

template <class F>
static int editField(Table::Impl& d, int index, F&& fill) {
  return guarded(d, true, [&] {
    if (d.mode == OpenMode::ReadOnly) failWith(xbReadOnly, d.path + " is open read-only");
    if (!d.recno) failWith(xbNoRecord, "no current record to change");
    const auto& fields = d.s().dbf.fields();
    if (index < 0 || static_cast<size_t>(index) >= fields.size()) failWith(xbNoSuchField, "no such field");
    fill(fields[static_cast<size_t>(index)]);
    d.modified = true;
    return 0;
  });
}

int Table::setString(std::string_view name, std::string_view value) {
  int i = fieldIndex(name);
  if (i >= 0 && field(i).type == 'D') return setDate(name, value);
  if (i >= 0 && field(i).type == 'L') {
    char c = value.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
    if (c == '.' && value.size() > 1) c = static_cast<char>(std::toupper(static_cast<unsigned char>(value[1])));
    return setLogical(name, c == 'T' || c == 'Y');
  }
  if (i >= 0 && field(i).type == 'N') {
    std::string v(value);
    char* end = nullptr;
    double n = std::strtod(v.c_str(), &end);
    bool blank = v.find_first_not_of(' ') == std::string::npos;
    if (!blank && (end == v.c_str() || !std::isfinite(n))) {
      d_->code = xbBadArgument;
      d_->error = quoted(v) + " is not a number";
      return -xbBadArgument;
    }
    return setNumber(name, blank ? 0 : n);
  }
  // Character fields hold UTF-8: other bytes are taken as Windows-1252, and a
  // value too long for the field loses whole characters only.
  return editField(*d_, i, [&](const FieldDef& f) {
    std::string text = isUtf8(value) ? std::string(value) : textFromBytes(value);
    text.resize(fitText(text, static_cast<size_t>(f.width)));
    storeField(d_->buf, f, text);
  });
}

int Table::setDate(std::string_view name, std::string_view text) {
  int32_t j = 0;
  bool blank = text.find_first_not_of(' ') == std::string_view::npos;
  if (!blank) {
    j = julianFromDtos(text);
    if (!j) j = ctod(text);
    if (!j) {
      d_->code = xbBadArgument;
      d_->error = quoted(text) + " is not a date (CCYYMMDD or mm/dd/yyyy)";
      return -xbBadArgument;
    }
  }
  return setDate(name, j);
}

int Table::setDate(std::string_view name, int32_t julian) {
  return editField(*d_, fieldIndex(name), [&](const FieldDef& f) {
    if (f.type != 'D') failWith(xbTypeMismatch, f.name + " is not a date field");
    storeField(d_->buf, f, dtosFromJulian(julian));
  });
}

int Table::setLogical(std::string_view name, bool value) {
  return editField(*d_, fieldIndex(name), [&](const FieldDef& f) {
    if (f.type != 'L') failWith(xbTypeMismatch, f.name + " is not a logical field");
    storeField(d_->buf, f, value ? "T" : "F");
  });
}

int Table::setNumber(std::string_view name, double value) {
  return editField(*d_, fieldIndex(name), [&](const FieldDef& f) {
    if (f.type != 'N') failWith(xbTypeMismatch, f.name + " is not a numeric field");
    char text[64];
    std::snprintf(text, sizeof text, "%*.*f", f.width, f.decimals, value);
    if (!std::isfinite(value) || static_cast<int>(std::strlen(text)) > f.width)
      failWith(xbBadArgument, "value does not fit field " + f.name);
    storeField(d_->buf, f, text);
  });
}

int Table::setValue(std::string_view name, const Value& v) {
  switch (v.type) {
    case Type::Char:
      return setString(name, v.s);
    case Type::Numeric:
      return setNumber(name, v.n);
    case Type::Date:
      return setDate(name, v.date);
    case Type::Logical:
      return setLogical(name, v.b);
  }
  return -xbBadArgument;
}

// ---- editing ---------------------------------------------------------------------

void Table::Impl::settleInsert() {
  if (!pendingInsert) return;
  TableShared& t = s();
  pendingInsert = false;
  --t.pendingInserts;
  // The record went to the file blank; a rebuild in between may have indexed
  // that blank state, so it is taken out before the real keys go in.
  std::vector<uint8_t> blank(t.dbf.recordLength(), ' ');
  std::vector<uint8_t> now(t.dbf.recordLength());
  int rc = t.dbf.readRecord(recno, now.data());
  if (rc != 0) failWith(-rc, path + ": cannot read record " + std::to_string(recno));
  t.removeKeys(recno, blank.data());
  t.updateRecord(recno, nullptr, now.data());
}

void Table::Impl::postPending() {
  if (!recno) {
    modified = false;
    return;
  }
  TableShared& t = s();
  if (modified) {
    modified = false;
    std::vector<uint8_t> old;
    if (seenChange == t.changeStamp && !orig.empty()) {
      old = orig;  // nothing changed the file since this record was read
    } else {
      old.resize(t.dbf.recordLength());
      int rc = t.dbf.readRecord(recno, old.data());
      if (rc != 0) failWith(-rc, path + ": cannot read record " + std::to_string(recno));
    }
    if (old != buf) {
      int rc = t.dbf.writeRecord(recno, buf.data());
      if (rc != 0) failWith(-rc, path + ": cannot write record " + std::to_string(recno));
      if (!pendingInsert) t.updateRecord(recno, old.data(), buf.data());
    }
  }
  settleInsert();
  orig = buf;
  seenChange = t.changeStamp;
  pos = CdxPos{};
  if (ordered()) {
    posKey.resize(static_cast<size_t>(t.cdx.tags()[tagIndex()].keyLen));
    t.makeKey(tagIndex(), buf.data(), posKey.data());
  }
}

int Table::post() {
  return guarded(*d_, true, [&] {
    d_->postPending();
    return 0;
  });
}

void Table::cancel() {
  if (!d_->modified) return;
  d_->modified = false;
  d_->buf = d_->orig;
}

int Table::appendBlank() {
  return guarded(*d_, true, [&] {
    Impl& d = *d_;
    if (d.mode == OpenMode::ReadOnly) failWith(xbReadOnly, d.path + " is open read-only");
    d.postPending();
    TableShared& t = d.s();
    std::vector<uint8_t> rec(t.dbf.recordLength(), ' ');
    uint32_t recno = 0;
    int rc = t.dbf.appendRecord(rec.data(), recno);
    if (rc != 0) failWith(-rc, d.path + ": cannot append a record");
    ++t.changeStamp;
    // The keys go into the tags at the post (or the next move): one index
    // update per new record instead of two.
    d.load(recno);
    d.pendingInsert = true;
    ++t.pendingInserts;
    if (t.cdx.isOpen()) t.cdxDirty = true;
    d.bof = d.eof = false;
    return 0;
  });
}

static int markDeleted(Table::Impl& d, char mark) {
  return guarded(d, true, [&] {
    if (d.mode == OpenMode::ReadOnly) failWith(xbReadOnly, d.path + " is open read-only");
    if (!d.recno) failWith(xbNoRecord, "no current record");
    d.buf[0] = static_cast<uint8_t>(mark);
    d.modified = true;
    d.postPending();
    return 0;
  });
}

int Table::deleteRecord() {
  return markDeleted(*d_, '*');
}
int Table::recall() {
  return markDeleted(*d_, ' ');
}
bool Table::isDeleted() const {
  return d_->recno && recordBuffer()[0] == '*';
}

int Table::commit() {
  return guarded(*d_, true, [&] {
    d_->postPending();
    d_->s().flushIndex();
    d_->s().sync();
    return 0;
  });
}

// ---- filter and expressions ----------------------------------------------------------

int Table::setFilter(std::string_view expression) {
  return guarded(*d_, false, [&] {
    Impl& d = *d_;
    bool blank = expression.find_first_not_of(' ') == std::string_view::npos;
    if (blank) {
      d.filter = Expr();
      d.filterText.clear();
    } else if (d.sh) {
      Expr e = d.compile(expression);
      if (e.type() != Type::Logical) failWith(xbTypeMismatch, "a filter must be a logical expression");
      d.filter = std::move(e);
      d.filterText = std::string(expression);
    } else {
      d.filterText = std::string(expression);  // checked when the table is opened
    }
    if (d.sh) {
      d.postPending();
      if (!d.recno || !d.visibleRecord(recordBuffer().data())) {
        if (d.ordered()) {
          auto& cdx = d.s().cdx;
          d.positionTag(cdx.tags()[d.tagIndex()].descending ? cdx.last(d.tagIndex()) : cdx.first(d.tagIndex()), 1);
        } else {
          d.positionNatural(1, 1);
        }
      }
    }
    return 0;
  });
}

const std::string& Table::filter() const {
  return d_->filterText;
}

int Table::evaluate(std::string_view expression, Value& result) {
  return guarded(*d_, true, [&] {
    Impl& d = *d_;
    if (!d.lastExpr.valid() || d.lastExprText != expression) {
      d.lastExpr = d.compile(expression);
      d.lastExprText = std::string(expression);
    }
    result = d.lastExpr.eval(recordBuffer().data());
    return 0;
  });
}

int Table::evalLogical(std::string_view expression, bool& result) {
  Value v;
  int rc = evaluate(expression, v);
  if (rc != 0) return rc;
  if (v.type != Type::Logical) {
    d_->code = xbTypeMismatch;
    d_->error = quoted(expression) + " is not a logical expression";
    return -xbTypeMismatch;
  }
  result = v.b;
  return 0;
}

// ---- locks ---------------------------------------------------------------------------

int Table::rlock() {
  return guarded(*d_, true, [&] {
    Impl& d = *d_;
    if (!d.recno) failWith(xbNoRecord, "no current record to lock");
    if (d.s().exclusive()) {
      d.locked = true;
      return 0;
    }
    struct flock fl {};
    fl.l_type = d.s().dbf.writable() ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0x40000000 + static_cast<off_t>(d.recno);
    fl.l_len = 1;
#ifdef F_OFD_SETLK
    int cmd = F_OFD_SETLK;
#else
    int cmd = F_SETLK;
#endif
    if (::fcntl(d.s().dbf.fd(), cmd, &fl) != 0) failWith(xbInUse, "record is locked by another program");
    d.locked = true;
    return 0;
  });
}

int Table::unlock() {
  Impl& d = *d_;
  if (!d.locked || !d.sh) return 0;
  d.locked = false;
  if (d.sh->exclusive()) return 0;
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0x40000000;
  fl.l_len = 0x3FFFFF00;
#ifdef F_OFD_SETLK
  ::fcntl(d.sh->dbf.fd(), F_OFD_SETLK, &fl);
#else
  ::fcntl(d.sh->dbf.fd(), F_SETLK, &fl);
#endif
  return 0;
}

uint64_t Table::changeStamp() const {
  return d_->sh ? d_->sh->changeStamp : 0;
}
const std::string& Table::lastError() const {
  return d_->error;
}
int Table::lastCode() const {
  return d_->code;
}

}  // namespace xb
