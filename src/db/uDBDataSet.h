// The common base of TDBQuery and TDBStoredProc: a cursor over the rows of one result, its
// fields and column descriptions, local indexes with key search, and cached updates.
//
// Rows are read from the driver one at a time as the cursor moves ("streaming"); only the
// current row is kept. The data set holds every row when asked: FetchAll, SetFetchAll(true),
// RecordCount, a current index, or cached updates. Going back (First) is possible only when
// the rows are held or the cursor has not moved past the first row.
//
// Threads: a data set is used by one thread at a time; its calls into the driver run under
// its connection's lock.
#ifndef TAMRIX_DB_UDBDATASET_H
#define TAMRIX_DB_UDBDATASET_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/uDBField.h"
#include "db/uDBTypes.h"
#include "diagnostics/uExcecoes.h"

namespace tamrix::db {

class TDBConnection;
namespace odbc {
class TStatement;
}

enum class TDBDataSetState { dsInactive, dsBrowse, dsInsert };

// Kind of change a cached update applies.
enum class TDBUpdateRequest { arInsert };

// What to do with a row whose update failed: eaFail counts it as an error (the default),
// eaSkip leaves it pending without counting it, eaApplied treats it as applied.
enum class TDBErrorAction { eaFail, eaSkip, eaApplied };

class TDBDataSet;
// Called when a cached row fails to apply. `row` is the row's 1-based position among the
// data set's rows; `action` starts as eaFail.
using TDBUpdateErrorEvent =
    std::function<void(TDBDataSet& sender, const diagnostics::EDatabaseError& error, int row,
                       TDBUpdateRequest request, TDBErrorAction& action)>;

class TDBDataSet {
 public:
  TDBDataSet();
  virtual ~TDBDataSet();
  TDBDataSet(const TDBDataSet&) = delete;
  TDBDataSet& operator=(const TDBDataSet&) = delete;

  // Component name, used in messages and as the data set's key in result containers.
  void SetName(std::string name) { name_ = std::move(name); }
  const std::string& Name() const { return name_; }

  // The connection the data set runs on (not owned). Changing it closes an open data set.
  // A connection that is destroyed first leaves the data set without connection.
  void SetConnection(TDBConnection* connection);
  TDBConnection* Connection() const { return connection_; }

  // Seconds each statement of the data set may run before it is cancelled (0: no limit);
  // negative, the default, takes the connection's QueryTimeout. A statement past it raises
  // EDBEngineException with the limit in its text, its transaction rolled back.
  void SetTimeout(int seconds) { timeout_ = seconds; }
  int Timeout() const { return timeout_; }

  // Runs the statement and positions on the first row. Raises EDatabaseError without a
  // connection or with a closed one, EDBEngineException for what the database refuses.
  void Open();
  // Releases the cursor and the rows; does nothing when closed.
  void Close();
  bool Active() const { return state_ != TDBDataSetState::dsInactive; }
  TDBDataSetState State() const { return state_; }

  // Navigation. After the last row Next sets Eof and stays on that row.
  bool Eof() const { return eof_; }
  bool IsEmpty() const;
  void First();
  void Next();
  // 1-based number of the current row (0 when there is none).
  std::int64_t RecNo() const;
  // Number of rows; reads every remaining row from the driver first.
  std::int64_t RecordCount();
  // Reads every remaining row from the driver and keeps them all.
  void FetchAll();
  // When true, Open reads and keeps every row.
  void SetFetchAll(bool fetchAll) { fetchAllOnOpen_ = fetchAll; }

  // Fields of the current result, by position or name (names compare without case).
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TDBField& Fields(int index);
  TDBField* FindField(std::string_view name);
  // Raises EDatabaseError "Campo ... não encontrado." when absent.
  TDBField& FieldByName(std::string_view name);
  // The result's column descriptions as the driver gave them.
  const std::vector<TDBColumn>& Columns() const { return columns_; }

  // Local indexes over held rows. AddIndex takes field names separated by ";". Making an
  // index current (SetIndexName) reads all rows, orders the cursor by the key and moves to
  // the first row; an empty name returns to the natural order.
  void ClearIndexes();
  void AddIndex(std::string name, std::string_view fields);
  void SetIndexName(std::string_view name);
  const std::string& IndexName() const;
  // Searches the current index for the row whose key fields have these text forms (exact
  // comparison). Found: that row becomes current and the result is true. Not found: the
  // current row stays. Raises EDatabaseError without a current index.
  bool FindKey(const std::vector<std::string>& keyValues);

  // Cached updates: rows appended in memory and applied later (TDBQuery::ApplyUpdates).
  // Switching them on makes the data set hold its rows.
  void SetCachedUpdates(bool cached);
  bool CachedUpdates() const { return cachedUpdates_; }
  // Starts a new row at the end (insert state); its fields start unassigned.
  void Append();
  // Stores the new row in the cache; it becomes the current row.
  void Post();
  // Drops the row being inserted.
  void Cancel();
  // Rows appended and not yet applied.
  int UpdatesPending() const;
  // Forgets the change log (applied or not); the rows stay.
  void CommitUpdates();
  // Removes every row not yet applied.
  void CancelUpdates();
  void SetOnUpdateError(TDBUpdateErrorEvent handler) { onUpdateError_ = std::move(handler); }

 protected:
  // Runs the statement on `stmt`, the connection being open and locked.
  virtual void Execute(odbc::TStatement& stmt) = 0;
  // The table cached rows are inserted into (empty: the data set cannot apply updates).
  virtual std::string UpdateTableName() const { return {}; }
  // Called after SetConnection gave the data set another connection.
  virtual void ConnectionChanged() {}
  // Class name for messages when the data set has no name.
  virtual const char* ClassName() const = 0;
  // Name for messages: the component name, or the class name.
  std::string Describe() const;
  // Checks that a connection is set and open; returns it.
  TDBConnection& RequireConnection(const char* action) const;

  // Applies the pending cached rows in order, as parameterised INSERTs of up to `batchRows`
  // rows each (0: as many as the engine allows); stops when the errors exceed maxErrors
  // (negative: no limit). Returns the number of errors. A refused batch is sent again one
  // row at a time, so the update-error handler sees the failing row and its own error.
  int ApplyCachedRows(int maxErrors, std::size_t batchRows = 0);

 private:
  friend class TDBField;
  friend class TDBConnection;

  struct TRow {
    std::vector<TDBValue> values;
    std::vector<bool> assigned;  // set by a field setter (cached rows)
    bool pending = false;        // appended and not yet applied
  };
  struct TIndex {
    std::string name;
    std::vector<std::string> fieldNames;
    std::vector<std::size_t> fields;  // resolved when built
    std::vector<std::size_t> order;   // row numbers in key order
    bool built = false;
  };

  const TDBValue& CurrentValue(int field) const;
  void SetFieldValue(int field, TDBValue value);
  bool HoldsRows() const { return holding_; }
  bool FetchOne(std::vector<TDBValue>& row);  // next driver row; false at the end
  void HoldAll();
  void BuildIndex(TIndex& index);
  std::vector<std::string> KeyOf(const TIndex& index, std::size_t row) const;
  std::size_t RowAt(std::size_t position) const;
  std::size_t PositionOf(std::size_t row);
  TIndex* CurrentIndex();
  // One INSERT of the rows at these positions (they assign the same columns), on the open,
  // locked connection. Raises what the database refuses.
  void InsertRows(TDBConnection& c, const std::string& table, const std::size_t* rows,
                  std::size_t count);
  void ReleaseStatement();  // the connection is closing
  void ConnectionGone();    // the connection is being destroyed

  std::string name_;
  TDBConnection* connection_ = nullptr;
  TDBDataSetState state_ = TDBDataSetState::dsInactive;
  std::vector<TDBColumn> columns_;
  std::vector<std::unique_ptr<TDBField>> fields_;
  std::unique_ptr<odbc::TStatement> stmt_;  // open while rows remain in the driver
  bool statementLost_ = false;              // the connection closed before the last row
  std::vector<TRow> rows_;                  // held rows, or just the current one
  TRow spare_;                              // streaming: the buffers of the next row
  bool holding_ = false;
  bool fetchAllOnOpen_ = false;
  std::size_t position_ = 0;   // current position (held rows)
  std::int64_t streamed_ = 0;  // rows read so far (streaming)
  bool eof_ = true;
  TRow editRow_;  // the row being inserted
  std::vector<TIndex> indexes_;
  int currentIndex_ = -1;
  bool cachedUpdates_ = false;
  int timeout_ = -1;  // seconds; negative: the connection's
  TDBUpdateErrorEvent onUpdateError_;
};

}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBDATASET_H
