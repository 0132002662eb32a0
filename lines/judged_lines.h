// Which printed lines a stalled console may lose. A run is judged by its result, failure,
// marker, latency, phase, BENCH_* and link lines: those are never dropped. Only lines that
// repeat with every frame or status change may be, when a time-critical thread finds the
// output queue full. (Until the table of printed lines carries each line's role, this list
// is the one place that says it; a line not on it is kept.)
#pragma once

namespace corva::lines {

// `format` is a printed line's format (LineFormat::format()).
bool droppable(const char* format);

}  // namespace corva::lines
