// The history's tables, as a list of migrations: migration N takes user_version N-1 to N.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corva::report {

// PRAGMA application_id of a history ("TSRY"): tells it from other SQLite files.
constexpr int32_t kHistoryApplicationId = 0x54535259;

struct Migration {
    int version;  // user_version after it
    const char* sql;
};

const Migration* historyMigrations(size_t& count);

}  // namespace corva::report
