// The library's log file, switched on by the environment: TOVIRA_LOG names the file (appended to),
// TOVIRA_LOG_LEVEL chooses what goes in: "errors" (failures recorded in an error history), "states"
// (also streams starting, cameras lost, recordings ending, callbacks registered) or "drops" (also every
// dropped frame; the default). One line per event, with local date and time to the millisecond.
#pragma once

namespace tovira {

enum class LogLevel { Errors = 1, States = 2, Drops = 3 };

// True when the log is on and takes lines of this level.
bool LogWants(LogLevel level);
// Appends one line (printf format, no line end needed). Safe from any thread.
void LogLine(LogLevel level, const void* instance, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// The level a TOVIRA_LOG_LEVEL value names (numbers 1..3 or the names above); Drops when unknown.
LogLevel ParseLogLevel(const char* text);

}  // namespace tovira

namespace tovira {

// The line for an error code recorded in an instance's history (code 0, which the auto iris records for
// every frame while it is off, is not a failure and writes nothing).
void LogRecordedError(const void* instance, int code);

}  // namespace tovira
