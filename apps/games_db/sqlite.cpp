#include "games_db/sqlite.h"

#include <sqlite3.h>


namespace ai_players::app::sql {
namespace {

[[noreturn]] void fail(sqlite3* db, int code) {
  throw SqlError(db ? sqlite3_errmsg(db) : sqlite3_errstr(code), code & 0xff);
}

void check(sqlite3* db, int code) {
  if (code != SQLITE_OK) fail(db, code);
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  check(db_, sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr));
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement::Statement(Statement&& other) noexcept : db_(other.db_), stmt_(other.stmt_) { other.stmt_ = nullptr; }

Statement& Statement::bind(int index, std::int64_t value) {
  check(db_, sqlite3_bind_int64(stmt_, index, value));
  return *this;
}

Statement& Statement::bind(int index, const std::string& value) {
  check(db_, sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT));
  return *this;
}

Statement& Statement::bind(int index, const std::optional<std::string>& value) {
  if (value) return bind(index, *value);
  check(db_, sqlite3_bind_null(stmt_, index));
  return *this;
}

Statement& Statement::bind(int index, const std::optional<std::int64_t>& value) {
  if (value) return bind(index, *value);
  check(db_, sqlite3_bind_null(stmt_, index));
  return *this;
}

bool Statement::step() {
  const int code = sqlite3_step(stmt_);
  if (code == SQLITE_ROW) return true;
  if (code != SQLITE_DONE) fail(db_, code);
  return false;
}

void Statement::run() {
  while (step()) {
  }
  reset();
}

void Statement::reset() { sqlite3_reset(stmt_); }

bool Statement::is_null(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

std::int64_t Statement::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::text(int column) const {
  const auto* p = sqlite3_column_text(stmt_, column);
  return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
           : std::string();
}

Connection::Connection(const std::string& path, bool create, std::chrono::milliseconds busy_timeout) {
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  const int code = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (code != SQLITE_OK) {
    const SqlError error(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code), code & 0xff);
    sqlite3_close_v2(db_);
    throw error;
  }
  sqlite3_extended_result_codes(db_, 0);
  sqlite3_busy_timeout(db_, static_cast<int>(busy_timeout.count()));
}

Connection::~Connection() { sqlite3_close_v2(db_); }

void Connection::exec(std::string_view sql) {
  check(db_, sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, nullptr));
}

std::int64_t Connection::integer(std::string_view sql) {
  Statement s = prepare(sql);
  return s.step() ? s.integer(0) : 0;
}

std::int64_t Connection::last_insert_id() const { return sqlite3_last_insert_rowid(db_); }

int Connection::changes() const { return sqlite3_changes(db_); }

Transaction::Transaction(Connection& db) : db_(db) { db_.exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
  if (done_) return;
  try {
    db_.exec("ROLLBACK");
  } catch (const SqlError&) {
    // SQLite rolls back on its own after some errors; nothing is left to undo then.
  }
}

void Transaction::commit() {
  db_.exec("COMMIT");
  done_ = true;
}

}  // namespace ai_players::app::sql
