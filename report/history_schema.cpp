#include "report/history_schema.h"

#include <iterator>

namespace corva::report {
namespace {

// Add a migration at the end for every change; never edit one that has shipped.
constexpr Migration kMigrations[] = {
    {1, R"sql(
CREATE TABLE runs (
  id INTEGER PRIMARY KEY,
  content_key TEXT NOT NULL UNIQUE,
  machine TEXT NOT NULL,
  program_version TEXT,
  imported_by TEXT NOT NULL,
  imported_at TEXT NOT NULL,
  started TEXT,
  mode TEXT NOT NULL,
  cycles INTEGER NOT NULL,
  active_s REAL,
  hold_s REAL,
  telemetry_ms INTEGER,
  driver_version TEXT NOT NULL,
  driver_branch TEXT NOT NULL,
  firmware TEXT NOT NULL,
  display_mode TEXT NOT NULL,
  outcome TEXT NOT NULL,
  exit_code INTEGER,
  frames INTEGER,
  present_errors INTEGER,
  wait_timeouts INTEGER,
  free_run_events INTEGER,
  display_lost INTEGER,
  failures INTEGER NOT NULL,
  log_path TEXT NOT NULL,
  log_run INTEGER NOT NULL,
  trace_path TEXT
);
CREATE INDEX runs_series ON runs (driver_version, driver_branch, mode, started, id);
CREATE TABLE cycles (
  run_id INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
  seq INTEGER NOT NULL,
  cycle INTEGER NOT NULL,
  outcome TEXT NOT NULL,
  condition_failed INTEGER NOT NULL DEFAULT 0,
  wake_latency_ms REAL,
  wake_react_ms REAL,
  wake_mode_set_ms REAL,
  wake_power_on_ms REAL,
  wake_first_vblank_ms REAL,
  displays_on_mid_ms REAL,
  displays_on_lo_ms REAL,
  displays_on_hi_ms REAL,
  panel_wake_ms REAL,
  park_ms REAL,
  doze_ms REAL,
  displays_off_ms REAL,
  PRIMARY KEY (run_id, seq)
) WITHOUT ROWID;
CREATE TABLE conditions (
  run_id INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  figure TEXT,
  limit_value TEXT,
  verdict TEXT NOT NULL
);
CREATE INDEX conditions_run ON conditions (run_id);
)sql"},
};

}  // namespace

const Migration* historyMigrations(size_t& count) {
    count = std::size(kMigrations);
    return kMigrations;
}

}  // namespace corva::report
