// The run history: one SQLite file holding every imported run. Opening checks that the file
// is a history this program can read before anything is written to it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace corva::report {

// The schema this program writes (PRAGMA user_version); older histories are migrated.
int historySchemaVersion();

enum class HistoryAccess { ReadOnly, ReadWrite };

// What a history open or change ran into; all but Ok leave the file as it was.
enum class HistoryStatus { Ok, NotAHistory, Corrupt, Locked, NewerSchema, OlderSchema, Failed };

class History {
  public:
    History() = default;
    History(const History&) = delete;
    History& operator=(const History&) = delete;
    ~History();

    // A missing or empty file becomes a new history (ReadWrite only). On failure error()
    // says why in one sentence.
    HistoryStatus open(const std::string& path, HistoryAccess access, int busyTimeoutMs = 10000);
    sqlite3* db() const { return db_; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

    // Runs SQL without results; on failure keeps SQLite's message and says which status.
    HistoryStatus exec(const char* sql);
    HistoryStatus fail(const char* doing);  // the status and message of SQLite's last error

  private:
    HistoryStatus check(HistoryAccess access);
    HistoryStatus migrate();
    HistoryStatus execWaiting(const char* sql);
    sqlite3* db_ = nullptr;
    int busyTimeoutMs_ = 0;
    std::string path_;
    std::string error_;
};

// One prepared statement: bind by position from 1, step, read columns from 0.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql);
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();
    bool ok() const { return stmt_ != nullptr; }
    Statement& bind(int index, int64_t value);
    Statement& bind(int index, double value);
    Statement& bind(int index, std::optional<double> value);  // none: NULL
    Statement& bind(int index, std::string_view text);
    Statement& bindNull(int index);
    int step();  // SQLITE_ROW, SQLITE_DONE or an error
    bool run();  // step to done, then reset for the next binding
    void reset();
    bool isNull(int column) const;
    int64_t integer(int column) const;
    double real(int column) const;  // NULL reads as -1
    std::string text(int column) const;

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Commits when asked, rolls back otherwise (also when the process is torn down mid-run, by
// SQLite's own journal).
class Transaction {
  public:
    explicit Transaction(History& history);  // BEGIN IMMEDIATE: waits for other writers
    ~Transaction();
    HistoryStatus status() const { return status_; }
    HistoryStatus commit();

  private:
    History& history_;
    HistoryStatus status_;
    bool open_ = false;
};

}  // namespace corva::report
