// The log file named by TOVIRA_LOG (see AcquisitionLog.h).

#include "camera/AcquisitionLog.h"

#include "camera/ErrorText.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace tovira {

namespace {

struct LogFile {
    std::mutex lock;
    FILE* file = nullptr;
    LogLevel level = LogLevel::Drops;

    LogFile() {
        char path[MAX_PATH];
        const DWORD length = GetEnvironmentVariableA("TOVIRA_LOG", path, sizeof path);
        if (length == 0 || length >= sizeof path) return;
        char levelText[32];
        const DWORD levelLength = GetEnvironmentVariableA("TOVIRA_LOG_LEVEL", levelText, sizeof levelText);
        level = ParseLogLevel(levelLength > 0 && levelLength < sizeof levelText ? levelText : nullptr);
        file = std::fopen(path, "a");
    }
    ~LogFile() {
        if (file) std::fclose(file);
    }
};

// Opened on first use, so the environment of the moment the first event happens counts.
LogFile& Log() {
    static LogFile log;
    return log;
}

}  // namespace

LogLevel ParseLogLevel(const char* text) {
    if (!text) return LogLevel::Drops;
    if (!std::strcmp(text, "1") || !_stricmp(text, "errors") || !_stricmp(text, "error")) return LogLevel::Errors;
    if (!std::strcmp(text, "2") || !_stricmp(text, "states") || !_stricmp(text, "state")) return LogLevel::States;
    return LogLevel::Drops;
}

bool LogWants(LogLevel level) {
    LogFile& log = Log();
    return log.file != nullptr && static_cast<int>(level) <= static_cast<int>(log.level);
}

void LogLine(LogLevel level, const void* instance, const char* format, ...) {
    if (!LogWants(level)) return;
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    SYSTEMTIME now;
    GetLocalTime(&now);
    static const char* const kLevelNames[] = {"", "error", "state", "drop"};
    LogFile& log = Log();
    std::lock_guard<std::mutex> guard(log.lock);
    std::fprintf(log.file, "%04u-%02u-%02u %02u:%02u:%02u.%03u %-5s camera %p thread %lu: %s\n", now.wYear,
                 now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                 kLevelNames[static_cast<int>(level)], instance, GetCurrentThreadId(), text);
    // Each line is on disk at once: the log is most wanted when the process does not end well.
    std::fflush(log.file);
}

}  // namespace tovira

namespace tovira {

void LogRecordedError(const void* instance, int code) {
    if (code == 0) return;
    LogLine(LogLevel::Errors, instance, "error %d (%s)", code, ErrorName(code));
}

}  // namespace tovira
