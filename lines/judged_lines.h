// Which printed lines a stalled console may lose: those the table of printed lines marks
// droppable (Facts::droppable), the lines that repeat with every frame or status change. A run
// is judged by every other line (its result, failures, markers, latencies, phases, BENCH_* and
// link lines): those are never dropped, also when a time-critical thread finds the output
// queue full.
#pragma once

namespace corva::lines {

// `format` is a printed line's format (LineFormat::format()).
bool droppable(const char* format);

}  // namespace corva::lines
