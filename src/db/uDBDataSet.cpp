#include "db/uDBDataSet.h"

#include <algorithm>
#include <exception>

#include "db/uDBBatchInsert.h"
#include "db/uDBConnection.h"
#include "db/uDBStatement.h"
#include "util/uAparar.h"

namespace tamrix::db {

using diagnostics::EDatabaseError;

namespace {

const TDBValue kNull{};

}  // namespace

// ---- TDBField ----

const std::string& TDBField::FieldName() const {
  return Column().name;
}
TDBFieldType TDBField::DataType() const {
  return Column().fieldType;
}
const TDBColumn& TDBField::Column() const {
  return owner_->columns_.at(static_cast<std::size_t>(index_));
}
const TDBValue& TDBField::Value() const {
  return owner_->CurrentValue(index_);
}
std::string TDBField::AsString() const {
  return ValueToText(Value(), DataType());
}

std::int32_t TDBField::AsInteger() const {
  return static_cast<std::int32_t>(AsLargeInt());
}

std::int64_t TDBField::AsLargeInt() const {
  const TDBValue v = ConvertValue(Value(), TDBFieldType::ftLargeint, FieldName());
  return IsNullValue(v) ? 0 : std::get<std::int64_t>(v);
}

double TDBField::AsFloat() const {
  const TDBValue v = ConvertValue(Value(), TDBFieldType::ftFloat, FieldName());
  return IsNullValue(v) ? 0.0 : std::get<double>(v);
}

TDBTimeStamp TDBField::AsDateTime() const {
  const TDBValue v = ConvertValue(Value(), TDBFieldType::ftDateTime, FieldName());
  return IsNullValue(v) ? TDBTimeStamp{} : std::get<TDBTimeStamp>(v);
}

bool TDBField::AsBoolean() const {
  const TDBValue v = ConvertValue(Value(), TDBFieldType::ftBoolean, FieldName());
  return IsNullValue(v) ? false : std::get<bool>(v);
}

void TDBField::Set(TDBValue value) {
  owner_->SetFieldValue(index_, std::move(value));
}
void TDBField::SetAsString(std::string value) {
  Set(std::move(value));
}
void TDBField::SetAsInteger(std::int32_t value) {
  Set(static_cast<std::int64_t>(value));
}
void TDBField::SetAsSmallInt(std::int64_t value) {
  Set(static_cast<std::int64_t>(static_cast<std::int16_t>(static_cast<std::uint16_t>(value))));
}
void TDBField::SetAsLargeInt(std::int64_t value) {
  Set(value);
}
void TDBField::SetAsFloat(double value) {
  Set(value);
}
void TDBField::SetAsDateTime(const TDBTimeStamp& value) {
  Set(value);
}
void TDBField::SetAsBoolean(bool value) {
  Set(value);
}
void TDBField::Clear() {
  Set(std::monostate{});
}

// ---- TDBDataSet ----

TDBDataSet::TDBDataSet() = default;

TDBDataSet::~TDBDataSet() {
  Close();
  if (connection_ != nullptr) connection_->Detach(this);
}

std::string TDBDataSet::Describe() const {
  return name_.empty() ? ClassName() : name_;
}

TDBConnection& TDBDataSet::RequireConnection(const char* action) const {
  if (connection_ == nullptr) {
    throw EDatabaseError(std::string("Não foi possível ") + action + " " + Describe() +
                         ": nenhuma conexão com o banco de dados foi definida.");
  }
  if (!connection_->Connected() && !connection_->ReopenIfLost()) {
    throw EDatabaseError(std::string("Não foi possível ") + action + " " + Describe() +
                         ": a conexão com o banco de dados não está aberta.");
  }
  return *connection_;
}

void TDBDataSet::SetConnection(TDBConnection* connection) {
  if (connection == connection_) return;
  Close();
  if (connection_ != nullptr) connection_->Detach(this);
  connection_ = connection;
  if (connection_ != nullptr) connection_->Attach(this);
  ConnectionChanged();
}

void TDBDataSet::Open() {
  if (Active()) return;
  TDBConnection& c = RequireConnection("abrir");
  auto lock = c.Lock();
  RequireConnection("abrir");  // it may have closed while we waited
  auto st = std::make_unique<odbc::TStatement>(c, timeout_);
  Execute(*st);
  if (!st->SeekResultSet()) {
    throw EDatabaseError("O comando de " + Describe() + " não retornou um conjunto de dados.");
  }
  columns_ = st->DescribeColumns();
  fields_.clear();
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    fields_.push_back(std::make_unique<TDBField>(TDBField::TKey{}, *this, static_cast<int>(i)));
  }
  stmt_ = std::move(st);
  statementLost_ = false;
  rows_.clear();
  holding_ = false;
  position_ = 0;
  streamed_ = 0;
  state_ = TDBDataSetState::dsBrowse;
  for (auto& ix : indexes_) ix.built = false;
  try {
    if (fetchAllOnOpen_ || cachedUpdates_ || currentIndex_ >= 0) {
      HoldAll();
      if (TIndex* ix = CurrentIndex()) BuildIndex(*ix);
      position_ = 0;
      eof_ = rows_.empty();
    } else {
      TRow row;
      eof_ = !FetchOne(row.values);
      if (!eof_) {
        rows_.push_back(std::move(row));
        streamed_ = 1;
      }
    }
  } catch (...) {
    Close();
    throw;
  }
}

void TDBDataSet::Close() {
  if (stmt_) {
    if (connection_ != nullptr) {
      auto lock = connection_->Lock();
      stmt_.reset();
    } else {
      stmt_.reset();
    }
  }
  rows_.clear();
  spare_ = TRow{};
  fields_.clear();
  columns_.clear();
  editRow_ = TRow{};
  state_ = TDBDataSetState::dsInactive;
  eof_ = true;
  position_ = 0;
  streamed_ = 0;
  holding_ = false;
  statementLost_ = false;
  for (auto& ix : indexes_) ix.built = false;
}

void TDBDataSet::ReleaseStatement() {
  if (stmt_) {
    stmt_.reset();
    statementLost_ = true;
  }
}

void TDBDataSet::ConnectionGone() {
  ReleaseStatement();
  connection_ = nullptr;
  ConnectionChanged();
}

bool TDBDataSet::FetchOne(std::vector<TDBValue>& row) {
  if (!stmt_) {
    if (statementLost_) {
      throw EDatabaseError("A conexão com o banco de dados foi fechada antes de " + Describe() +
                           " ler todas as suas linhas.");
    }
    return false;
  }
  auto lock = connection_->Lock();
  if (!stmt_) return FetchOne(row);
  if (stmt_->Fetch(columns_, row)) return true;
  stmt_.reset();
  return false;
}

void TDBDataSet::HoldAll() {
  if (holding_) return;
  if (streamed_ > 1) {
    throw EDatabaseError("Não é possível voltar ao início de " + Describe() +
                         ": as linhas já lidas não foram guardadas (use FetchAll ao abrir).");
  }
  TRow row;
  while (FetchOne(row.values)) {
    rows_.push_back(std::move(row));
    row = TRow{};
  }
  holding_ = true;
  position_ = 0;
}

void TDBDataSet::FetchAll() {
  if (!Active()) return;
  HoldAll();  // the current row stays current, and so does Eof
}

std::int64_t TDBDataSet::RecordCount() {
  if (!Active()) return 0;
  FetchAll();
  return static_cast<std::int64_t>(rows_.size());
}

bool TDBDataSet::IsEmpty() const {
  return !Active() || (rows_.empty() && state_ != TDBDataSetState::dsInsert);
}

std::int64_t TDBDataSet::RecNo() const {
  if (rows_.empty()) return 0;
  return holding_ ? static_cast<std::int64_t>(position_) + 1 : streamed_;
}

void TDBDataSet::First() {
  if (!Active()) throw EDatabaseError("Operação não permitida: " + Describe() + " está fechado.");
  if (state_ == TDBDataSetState::dsInsert) Post();
  if (!holding_) {
    if (streamed_ > 1) HoldAll();  // raises: the rows already read are gone
    eof_ = rows_.empty();
    return;
  }
  position_ = 0;
  eof_ = rows_.empty();
}

void TDBDataSet::Next() {
  if (!Active()) throw EDatabaseError("Operação não permitida: " + Describe() + " está fechado.");
  if (state_ == TDBDataSetState::dsInsert) Post();
  if (holding_) {
    if (position_ + 1 < rows_.size()) {
      ++position_;
      eof_ = false;
    } else {
      eof_ = true;
    }
    return;
  }
  if (eof_) return;
  // The row before last lends its buffers to the next one.
  if (FetchOne(spare_.values)) {
    if (rows_.size() != 1) rows_.resize(1);
    std::swap(rows_[0].values, spare_.values);
    ++streamed_;
  } else {
    eof_ = true;
  }
}

TDBField& TDBDataSet::Fields(int index) {
  if (index < 0 || index >= FieldCount()) {
    throw EDatabaseError("Campo de índice " + std::to_string(index) + " não existe em " +
                         Describe() + ".");
  }
  return *fields_[static_cast<std::size_t>(index)];
}

TDBField* TDBDataSet::FindField(std::string_view name) {
  for (auto& f : fields_) {
    if (SameName(f->FieldName(), name)) return f.get();
  }
  return nullptr;
}

TDBField& TDBDataSet::FieldByName(std::string_view name) {
  TDBField* f = FindField(name);
  if (f == nullptr) {
    throw EDatabaseError("Campo '" + std::string(name) + "' não encontrado em " + Describe() + ".");
  }
  return *f;
}

const TDBValue& TDBDataSet::CurrentValue(int field) const {
  const auto i = static_cast<std::size_t>(field);
  if (state_ == TDBDataSetState::dsInsert) return editRow_.values.at(i);
  if (rows_.empty()) return kNull;
  return rows_[RowAt(position_)].values.at(i);
}

void TDBDataSet::SetFieldValue(int field, TDBValue value) {
  if (state_ != TDBDataSetState::dsInsert) {
    throw EDatabaseError(Describe() + " não está em modo de inclusão: chame Append antes.");
  }
  const auto i = static_cast<std::size_t>(field);
  const TDBColumn& c = columns_.at(i);
  editRow_.values.at(i) = ConvertValue(value, c.fieldType, c.name);
  editRow_.assigned.at(i) = true;
}

// ---- indexes ----

std::size_t TDBDataSet::RowAt(std::size_t position) const {
  if (currentIndex_ >= 0) {
    const TIndex& ix = indexes_[static_cast<std::size_t>(currentIndex_)];
    if (ix.built && position < ix.order.size()) return ix.order[position];
  }
  return position;
}

TDBDataSet::TIndex* TDBDataSet::CurrentIndex() {
  return currentIndex_ < 0 ? nullptr : &indexes_[static_cast<std::size_t>(currentIndex_)];
}

std::vector<std::string> TDBDataSet::KeyOf(const TIndex& index, std::size_t row) const {
  std::vector<std::string> key;
  key.reserve(index.fields.size());
  for (std::size_t f : index.fields) {
    key.push_back(ValueToText(rows_[row].values[f], columns_[f].fieldType));
  }
  return key;
}

void TDBDataSet::BuildIndex(TIndex& index) {
  index.fields.clear();
  for (const std::string& n : index.fieldNames) {
    index.fields.push_back(static_cast<std::size_t>(FieldByName(n).Index()));
  }
  std::vector<std::vector<std::string>> keys(rows_.size());
  for (std::size_t r = 0; r < rows_.size(); ++r) keys[r] = KeyOf(index, r);
  index.order.resize(rows_.size());
  for (std::size_t r = 0; r < rows_.size(); ++r) index.order[r] = r;
  std::stable_sort(index.order.begin(), index.order.end(),
                   [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
  index.built = true;
}

std::size_t TDBDataSet::PositionOf(std::size_t row) {
  TIndex* ix = CurrentIndex();
  if (ix == nullptr) return row;
  if (!ix->built) BuildIndex(*ix);
  const auto it = std::find(ix->order.begin(), ix->order.end(), row);
  return static_cast<std::size_t>(it - ix->order.begin());
}

void TDBDataSet::ClearIndexes() {
  const std::size_t row = rows_.empty() ? 0 : RowAt(position_);
  indexes_.clear();
  currentIndex_ = -1;
  position_ = row;
}

void TDBDataSet::AddIndex(std::string name, std::string_view fields) {
  TIndex ix;
  ix.name = std::move(name);
  std::size_t start = 0;
  while (start <= fields.size()) {
    const std::size_t semi = fields.find(';', start);
    const std::string part = util::Aparar(fields.substr(start, semi - start));
    if (!part.empty()) ix.fieldNames.push_back(part);
    if (semi == std::string_view::npos) break;
    start = semi + 1;
  }
  for (std::size_t i = 0; i < indexes_.size(); ++i) {
    if (SameName(indexes_[i].name, ix.name)) {
      indexes_[i] = std::move(ix);
      return;
    }
  }
  indexes_.push_back(std::move(ix));
}

void TDBDataSet::SetIndexName(std::string_view name) {
  if (name.empty()) {
    const std::size_t row = rows_.empty() ? 0 : RowAt(position_);
    currentIndex_ = -1;
    position_ = row;
    return;
  }
  int found = -1;
  for (std::size_t i = 0; i < indexes_.size(); ++i) {
    if (SameName(indexes_[i].name, name)) found = static_cast<int>(i);
  }
  if (found < 0) {
    throw EDatabaseError("Índice '" + std::string(name) + "' não encontrado em " + Describe() +
                         ".");
  }
  currentIndex_ = found;
  if (Active()) {
    HoldAll();
    BuildIndex(indexes_[static_cast<std::size_t>(found)]);
    position_ = 0;
    eof_ = rows_.empty();
  }
}

const std::string& TDBDataSet::IndexName() const {
  static const std::string kNone;
  return currentIndex_ < 0 ? kNone : indexes_[static_cast<std::size_t>(currentIndex_)].name;
}

bool TDBDataSet::FindKey(const std::vector<std::string>& keyValues) {
  TIndex* ix = CurrentIndex();
  if (ix == nullptr) throw EDatabaseError("Nenhum índice ativo em " + Describe() + ".");
  if (!Active()) throw EDatabaseError("Operação não permitida: " + Describe() + " está fechado.");
  if (!ix->built) BuildIndex(*ix);
  const std::size_t n = std::min(keyValues.size(), ix->fields.size());
  auto compare = [&](std::size_t row) {  // <0: row key before the values, 0: equal, >0 after
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t f = ix->fields[k];
      const int c = ValueToText(rows_[row].values[f], columns_[f].fieldType).compare(keyValues[k]);
      if (c != 0) return c;
    }
    return 0;
  };
  std::size_t lo = 0, hi = ix->order.size();
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (compare(ix->order[mid]) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo < ix->order.size() && compare(ix->order[lo]) == 0) {
    position_ = lo;
    eof_ = false;
    return true;
  }
  return false;
}

// ---- cached updates ----

void TDBDataSet::SetCachedUpdates(bool cached) {
  cachedUpdates_ = cached;
  if (cached && Active()) HoldAll();
}

void TDBDataSet::Append() {
  if (!Active()) throw EDatabaseError("Operação não permitida: " + Describe() + " está fechado.");
  if (!cachedUpdates_) {
    throw EDatabaseError("Não é possível incluir linhas em " + Describe() +
                         ": as atualizações em cache estão desligadas.");
  }
  if (state_ == TDBDataSetState::dsInsert) Post();
  editRow_ = TRow{};
  editRow_.values.assign(columns_.size(), TDBValue{});
  editRow_.assigned.assign(columns_.size(), false);
  state_ = TDBDataSetState::dsInsert;
}

void TDBDataSet::Post() {
  if (state_ != TDBDataSetState::dsInsert) {
    throw EDatabaseError(Describe() + " não está em modo de inclusão.");
  }
  editRow_.pending = true;
  rows_.push_back(std::move(editRow_));
  editRow_ = TRow{};
  state_ = TDBDataSetState::dsBrowse;
  for (auto& ix : indexes_) ix.built = false;
  position_ = PositionOf(rows_.size() - 1);
  eof_ = false;
}

void TDBDataSet::Cancel() {
  if (state_ != TDBDataSetState::dsInsert) return;
  editRow_ = TRow{};
  state_ = TDBDataSetState::dsBrowse;
}

int TDBDataSet::UpdatesPending() const {
  return static_cast<int>(
      std::count_if(rows_.begin(), rows_.end(), [](const TRow& r) { return r.pending; }));
}

void TDBDataSet::CommitUpdates() {
  for (auto& r : rows_) r.pending = false;
}

void TDBDataSet::CancelUpdates() {
  if (state_ == TDBDataSetState::dsInsert) Cancel();
  std::erase_if(rows_, [](const TRow& r) { return r.pending; });
  for (auto& ix : indexes_) ix.built = false;
  position_ = rows_.empty() ? 0 : std::min(position_, rows_.size() - 1);
  eof_ = rows_.empty();
}

int TDBDataSet::ApplyCachedRows(int maxErrors, std::size_t batchRows) {
  if (!cachedUpdates_) {
    throw EDatabaseError("Não é possível aplicar atualizações de " + Describe() +
                         ": as atualizações em cache estão desligadas.");
  }
  if (state_ == TDBDataSetState::dsInsert) Post();
  const std::string table = UpdateTableName();
  if (table.empty()) {
    throw EDatabaseError("Não foi possível identificar a tabela de " + Describe() +
                         " para aplicar as atualizações.");
  }
  TDBConnection& c = RequireConnection("aplicar as atualizações de");
  auto lock = c.Lock();
  const TDBBatchLimits limits = BatchLimitsFor(c.Profile().Engine());
  int errors = 0;
  // Tells the handler; true when the apply must stop.
  auto failed = [&](std::size_t r, const EDatabaseError& e) {
    TDBErrorAction action = TDBErrorAction::eaFail;
    if (onUpdateError_)
      onUpdateError_(*this, e, static_cast<int>(r) + 1, TDBUpdateRequest::arInsert, action);
    if (action == TDBErrorAction::eaApplied) {
      rows_[r].pending = false;
    } else if (action == TDBErrorAction::eaFail) {
      ++errors;
      if (maxErrors >= 0 && errors > maxErrors) return true;
    }
    return false;
  };

  std::vector<std::size_t> batch;
  std::size_t r = 0;
  while (r < rows_.size()) {
    if (!rows_[r].pending) {
      ++r;
      continue;
    }
    // The next batch: pending rows in order that assign the same columns, so one statement
    // text fits them all.
    const std::vector<bool>& shape = rows_[r].assigned;
    const auto columns = static_cast<std::size_t>(std::count(shape.begin(), shape.end(), true));
    const std::size_t cap = BatchRows(limits, columns, batchRows);
    batch.assign(1, r);
    std::size_t next = r + 1;
    for (; next < rows_.size() && batch.size() < cap; ++next) {
      if (!rows_[next].pending) continue;
      if (rows_[next].assigned != shape) break;
      batch.push_back(next);
    }
    r = next;

    std::exception_ptr batchError;
    if (batch.size() > 1) {
      try {
        InsertRows(c, table, batch.data(), batch.size());
        for (std::size_t b : batch) rows_[b].pending = false;
        continue;
      } catch (const EDatabaseError&) {
        batchError = std::current_exception();
      }
    }
    // One row at a time: single rows, and a refused batch, so the handler gets the failing
    // row and its own error, and the rows before it are applied as they would be alone.
    bool rowFailed = false;
    for (std::size_t b : batch) {
      try {
        InsertRows(c, table, &b, 1);
        rows_[b].pending = false;
      } catch (const EDatabaseError& e) {
        rowFailed = true;
        if (failed(b, e)) return errors;
      }
    }
    // Every row passed alone although the batch was refused (the server may have dropped the
    // transaction, as it does with a deadlock): the batch's error still counts.
    if (batchError && !rowFailed) {
      try {
        std::rethrow_exception(batchError);
      } catch (const EDatabaseError& e) {
        if (failed(batch.front(), e)) return errors;
      }
    }
  }
  return errors;
}

void TDBDataSet::InsertRows(TDBConnection& c, const std::string& table, const std::size_t* rows,
                            std::size_t count) {
  const std::vector<bool>& shape = rows_[rows[0]].assigned;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < columns_.size(); ++i)
    if (shape[i]) names.push_back(columns_[i].name);
  std::vector<odbc::TBindSpec> specs;
  specs.reserve(names.size() * count);
  for (std::size_t k = 0; k < count; ++k) {
    TRow& row = rows_[rows[k]];
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (!shape[i]) continue;
      odbc::TBindSpec s;
      s.value = &row.values[i];
      s.type = columns_[i].fieldType;
      s.declaredSqlType = columns_[i].sqlType;
      s.declaredSize = columns_[i].size;
      s.declaredScale = static_cast<SQLSMALLINT>(columns_[i].scale);
      specs.push_back(s);
    }
  }
  RequireConnection("aplicar as atualizações de");
  odbc::TStatement st(c, timeout_);
  st.Bind(specs);
  st.Execute(BatchInsertSql(table, names, count));
  st.Drain();
}

}  // namespace tamrix::db
