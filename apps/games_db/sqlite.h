// A thin RAII layer over SQLite's C API: a connection, prepared statements
// and a write transaction, every failure an exception with SQLite's code.
// Our own rather than a wrapper library: the store needs a dozen calls, and
// it needs the result codes (busy, read-only, not a database) to say in one
// sentence what went wrong, which a wrapper's exception types would hide.
#pragma once

#include <cstdint>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace ai_players::app::sql {

struct SqlError : std::runtime_error {
  SqlError(const std::string& what, int code) : std::runtime_error(what), code(code) {}
  int code;  // SQLite's primary result code
};

class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& operator=(Statement&&) = delete;

  // Parameters count from 1, as in SQL's "?".
  Statement& bind(int index, std::int64_t value);
  Statement& bind(int index, const std::string& value);
  Statement& bind(int index, const std::optional<std::string>& value);  // none: NULL
  Statement& bind(int index, const std::optional<std::int64_t>& value);

  // The next row; false when there is none left.
  bool step();
  // Runs a statement that returns no rows; it can then be bound and run again.
  void run();
  // Rewinds it, keeping its values, to be run again.
  void reset();

  bool is_null(int column) const;
  std::int64_t integer(int column) const;
  std::string text(int column) const;  // "" for NULL

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class Connection {
 public:
  // Opens (creating it when asked) the database at path; waits up to
  // busy_timeout for another writer before a statement fails as busy.
  Connection(const std::string& path, bool create, std::chrono::milliseconds busy_timeout);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs statements that return no rows.
  void exec(std::string_view sql);
  Statement prepare(std::string_view sql) { return Statement(db_, sql); }
  // A statement's single integer answer ("PRAGMA user_version").
  std::int64_t integer(std::string_view sql);
  std::int64_t last_insert_id() const;
  int changes() const;

 private:
  sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE: the write lock at once, so that a busy database fails
// here, not halfway through. Rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(Connection& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit();

 private:
  Connection& db_;
  bool done_ = false;
};

}  // namespace ai_players::app::sql
