// Taking another history's runs in: keyed by content, so merging twice adds nothing.
#include <sqlite3.h>

#include "report/history_import.h"

namespace corva::report {
namespace {

// The table's columns but the ones named: the copy follows the schema as it is.
std::string columnsOf(sqlite3* db, const char* table, const std::string& leaveOut) {
    Statement info(db, (std::string("SELECT name FROM pragma_table_info('") + table + "', 'main')").c_str());
    std::string columns;
    while (info.ok() && info.step() == SQLITE_ROW) {
        const std::string name = info.text(0);
        if (name == leaveOut) continue;
        columns += (columns.empty() ? "" : ", ") + name;
    }
    return columns;
}

std::string prefixed(const std::string& columns, const std::string& prefix) {
    std::string out = prefix;
    for (const char c : columns) {
        out += c;
        if (c == ' ') out += prefix;
    }
    return out;
}

int64_t single(sqlite3* db, const char* sql) {
    Statement s(db, sql);
    return s.ok() && s.step() == SQLITE_ROW ? s.integer(0) : -1;
}

}  // namespace

HistoryStatus mergeHistory(History& history, const std::string& otherPath, ImportCount& count,
                           std::string& error) {
    {
        History other;
        if (const HistoryStatus s = other.open(otherPath, HistoryAccess::ReadOnly); s != HistoryStatus::Ok) {
            error = other.error();
            return s;
        }
    }
    sqlite3* db = history.db();
    Statement attach(db, "ATTACH ?1 AS other");
    if (!attach.ok() || !attach.bind(1, otherPath).run()) {
        const HistoryStatus s = history.fail("cannot read the other history");
        error = history.error();
        return s;
    }
    HistoryStatus status = HistoryStatus::Ok;
    {
        Transaction transaction(history);
        status = transaction.status();
        const int64_t before = single(db, "SELECT coalesce(max(id), 0) FROM main.runs");
        const int64_t known = single(
            db, "SELECT count(*) FROM other.runs WHERE content_key IN (SELECT content_key FROM main.runs)");
        const std::string runs = columnsOf(db, "runs", "id");
        const std::string copyRuns = "INSERT INTO main.runs (" + runs + ") SELECT " + runs +
                                     " FROM other.runs WHERE content_key NOT IN "
                                     "(SELECT content_key FROM main.runs) ORDER BY started, id";
        if (status == HistoryStatus::Ok) status = history.exec(copyRuns.c_str());
        const int64_t added = sqlite3_changes(db);
        // Each run's rows follow it to its new id.
        for (const char* table : {"cycles", "conditions"}) {
            if (status != HistoryStatus::Ok) break;
            const std::string columns = columnsOf(db, table, "run_id");
            const std::string copy = std::string("INSERT INTO main.") + table + " (run_id, " + columns +
                                     ") SELECT m.id, " + prefixed(columns, "t.") + " FROM other." + table +
                                     " t JOIN other.runs o ON o.id = t.run_id JOIN main.runs m ON "
                                     "m.content_key = o.content_key WHERE m.id > " +
                                     std::to_string(before);
            status = history.exec(copy.c_str());
        }
        if (status == HistoryStatus::Ok) status = transaction.commit();
        if (status == HistoryStatus::Ok) {
            count.added += size_t(added);
            count.known += size_t(known);
        }
    }
    if (status != HistoryStatus::Ok) error = history.error();
    history.exec("DETACH other");
    return status;
}

}  // namespace corva::report
