#include "report/history_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "report/history_schema.h"

namespace corva::report {
namespace {

namespace fs = std::filesystem;

constexpr char kSqliteMagic[] = "SQLite format 3";  // and its NUL: the first 16 bytes
constexpr size_t kSqliteHeaderBytes = 100;

enum class FileKind { Missing, Empty, Sqlite, Other, TooShort, NotAFile };

// Looks at the file with plain reads, so a file that is not a history is never handed to
// SQLite (which may write to what it opens).
FileKind kindOf(const std::string& path) {
    const fs::path p(std::u8string(path.begin(), path.end()));
    std::error_code error;
    const fs::file_status status = fs::status(p, error);
    if (!fs::exists(status)) return FileKind::Missing;
    if (!fs::is_regular_file(status)) return FileKind::NotAFile;
    const uintmax_t size = fs::file_size(p, error);
    if (error) return FileKind::NotAFile;
    if (size == 0) return FileKind::Empty;
    char head[sizeof kSqliteMagic] = {};
    std::ifstream file(p, std::ios::binary);
    if (!file.read(head, sizeof head)) return FileKind::Other;
    if (!std::equal(head, head + sizeof head, kSqliteMagic)) return FileKind::Other;
    return size < kSqliteHeaderBytes ? FileKind::TooShort : FileKind::Sqlite;
}

int latestVersion() {
    size_t count = 0;
    const Migration* migrations = historyMigrations(count);
    return migrations[count - 1].version;
}

}  // namespace

int historySchemaVersion() {
    return latestVersion();
}

History::~History() {
    if (db_ != nullptr) sqlite3_close_v2(db_);
}

HistoryStatus History::fail(const char* doing) {
    const int code = db_ != nullptr ? sqlite3_errcode(db_) & 0xff : SQLITE_CANTOPEN;
    const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    switch (code) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            error_ = "the history stayed locked by another program (" + message + "); nothing was changed";
            return HistoryStatus::Locked;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            error_ = "the history is damaged (" + message + "); it was left as it is";
            return HistoryStatus::Corrupt;
        default:
            error_ = std::string(doing) + ": " + message;
            return HistoryStatus::Failed;
    }
}

HistoryStatus History::exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK ? HistoryStatus::Ok
                                                                          : fail("cannot change the history");
}

HistoryStatus History::open(const std::string& path, HistoryAccess access, int busyTimeoutMs) {
    path_ = path;
    switch (kindOf(path)) {
        case FileKind::Missing:
        case FileKind::Empty:
            if (access == HistoryAccess::ReadOnly) {
                error_ = "no history here (no such file, or an empty one)";
                return HistoryStatus::NotAHistory;
            }
            break;
        case FileKind::NotAFile:
            error_ = "not a regular file: not a tessaray history";
            return HistoryStatus::NotAHistory;
        case FileKind::Other:
            error_ = "not a tessaray history (not an SQLite database); it was left as it is";
            return HistoryStatus::NotAHistory;
        case FileKind::TooShort:
            error_ = "the history is damaged (shorter than its header); it was left as it is";
            return HistoryStatus::Corrupt;
        case FileKind::Sqlite:
            break;
    }
    const int flags =
        access == HistoryAccess::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK)
        return fail("cannot open the history");
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    busyTimeoutMs_ = busyTimeoutMs;
    return check(access);
}

// Turning a new file to WAL needs it whole, and SQLite refuses that at once, without its busy
// handler, while another import holds the file: the second of two imports that start on a new
// history at once lost all its runs. That one waits here, as long as the busy time-out.
HistoryStatus History::execWaiting(const char* sql) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(busyTimeoutMs_);
    while (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        if ((sqlite3_errcode(db_) & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() >= until)
            return fail("cannot change the history");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return HistoryStatus::Ok;
}

HistoryStatus History::check(HistoryAccess access) {
    int64_t applicationId = 0, version = 0, tables = 0;
    {
        Statement header(
            db_,
            "SELECT (SELECT application_id FROM pragma_application_id), "
            "(SELECT user_version FROM pragma_user_version), (SELECT count(*) FROM sqlite_schema)");
        if (!header.ok() || header.step() != SQLITE_ROW) return fail("cannot read the history");
        applicationId = header.integer(0);
        version = header.integer(1);
        tables = header.integer(2);
    }
    const bool fresh = applicationId == 0 && tables == 0 && version == 0;
    if (!fresh && applicationId != kHistoryApplicationId) {
        error_ = "an SQLite database, but not a tessaray history; it was left as it is";
        return HistoryStatus::NotAHistory;
    }
    if (version > latestVersion()) {
        error_ = "the history has schema version " + std::to_string(version) + ", newer than this " +
                 "tessaray-report's " + std::to_string(latestVersion()) +
                 ": use a newer tessaray-report; it was left as it is";
        return HistoryStatus::NewerSchema;
    }
    if (!fresh) {
        // A truncated or overwritten file passes the header: the pages themselves tell.
        std::string verdict;
        {
            Statement quick(db_, "PRAGMA quick_check(1)");  // the first fault: one line
            if (!quick.ok() || quick.step() != SQLITE_ROW) return fail("cannot read the history");
            verdict = quick.text(0);
        }
        const std::string banner = "*** in database main ***\n";
        if (verdict.rfind(banner, 0) == 0) verdict.erase(0, banner.size());
        std::replace(verdict.begin(), verdict.end(), '\n', ' ');
        if (verdict != "ok") {
            error_ = "the history is damaged (" + verdict + "); it was left as it is";
            return HistoryStatus::Corrupt;
        }
    }
    if (access == HistoryAccess::ReadOnly) {
        if (version == latestVersion()) return HistoryStatus::Ok;
        error_ = "the history has schema version " + std::to_string(version) +
                 ": add a run to it or merge it into a history first, which upgrades it";
        return HistoryStatus::OlderSchema;
    }
    // Readers never wait for a writer; writers wait for each other up to the busy time-out.
    if (HistoryStatus s =
            execWaiting("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON");
        s != HistoryStatus::Ok)
        return s;
    return version == latestVersion() ? HistoryStatus::Ok : migrate();  // no write lock when up to date
}

HistoryStatus History::migrate() {
    Transaction transaction(*this);
    if (transaction.status() != HistoryStatus::Ok) return transaction.status();
    int64_t version = 0;  // another import may have migrated it meanwhile
    {
        Statement current(db_, "PRAGMA user_version");
        if (!current.ok() || current.step() != SQLITE_ROW) return fail("cannot read the history");
        version = current.integer(0);
    }
    if (version == latestVersion()) return HistoryStatus::Ok;
    size_t count = 0;
    const Migration* migrations = historyMigrations(count);
    for (size_t i = 0; i < count; ++i)
        if (migrations[i].version > version)
            if (HistoryStatus s = exec(migrations[i].sql); s != HistoryStatus::Ok) return s;
    const std::string stamp = "PRAGMA application_id = " + std::to_string(kHistoryApplicationId) +
                              "; PRAGMA user_version = " + std::to_string(latestVersion());
    if (HistoryStatus s = exec(stamp.c_str()); s != HistoryStatus::Ok) return s;
    return transaction.commit();
}

Statement::Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int index, int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Statement& Statement::bind(int index, double value) {
    sqlite3_bind_double(stmt_, index, value);
    return *this;
}

Statement& Statement::bind(int index, std::optional<double> value) {
    return value ? bind(index, *value) : bindNull(index);
}

Statement& Statement::bind(int index, std::string_view text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bindNull(int index) {
    sqlite3_bind_null(stmt_, index);
    return *this;
}

int Statement::step() {
    return sqlite3_step(stmt_);
}

bool Statement::run() {
    const bool done = sqlite3_step(stmt_) == SQLITE_DONE;
    reset();
    return done;
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}
int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}
double Statement::real(int column) const {
    return isNull(column) ? -1.0 : sqlite3_column_double(stmt_, column);
}

std::string Statement::text(int column) const {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    return text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

Transaction::Transaction(History& history) : history_(history) {
    status_ = history_.exec("BEGIN IMMEDIATE");
    open_ = status_ == HistoryStatus::Ok;
}

Transaction::~Transaction() {
    if (open_) history_.exec("ROLLBACK");
}

HistoryStatus Transaction::commit() {
    if (!open_) return status_;
    open_ = false;
    const HistoryStatus s = history_.exec("COMMIT");
    if (s != HistoryStatus::Ok) history_.exec("ROLLBACK");
    return s;
}

}  // namespace corva::report
