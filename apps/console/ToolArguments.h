#pragma once
// tovira_tool's command line, parsed and checked before the SDK is touched: every number is read whole
// ("abc", "12x" and "" are errors, not 0) and checked against its range, so a typing mistake never
// reaches the camera as a zero.

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

// File types of Tovira_SaveImage, by number (the index) and name.
inline const char* const kToolFileTypeNames[] = {"BMP", "raw", "JPEG-100", "JPEG-70", "JPEG-20", "PNG", "TIFF"};
constexpr int kToolFileTypeCount = 7;

inline const char* ToolFileTypeName(int type) {
    return type >= 0 && type < kToolFileTypeCount ? kToolFileTypeNames[type] : "unknown";
}

// A whole decimal or 0x-hexadecimal integer within [low, high].
inline bool ParseToolInteger(const char* text, long low, long high, long* out) {
    if (!text || !*text || std::strchr(" \t+", *text)) return false;
    errno = 0;
    char* end = nullptr;
    // Decimal, or hexadecimal after 0x; a leading 0 does not mean octal.
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (hex && !std::isxdigit(static_cast<unsigned char>(text[2]))) return false;
    const long value = std::strtol(hex ? text + 2 : text, &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    *out = value;
    return true;
}

// Seconds: a whole decimal number above 0 and at most an hour.
inline bool ParseToolSeconds(const char* text, double* out) {
    if (!text || !*text || std::strchr(" \t+", *text)) return false;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !(value > 0 && value <= 3600)) return false;
    *out = value;
    return true;
}

// A file type by number (0..6) or by name, in any letter case ("tiff", "JPEG-70").
inline bool ParseToolFileType(const char* text, int* out) {
    long number = 0;
    if (ParseToolInteger(text, 0, kToolFileTypeCount - 1, &number)) {
        *out = static_cast<int>(number);
        return true;
    }
    for (int type = 0; text && type < kToolFileTypeCount; ++type) {
        const char* name = kToolFileTypeNames[type];
        size_t i = 0;
        while (name[i] && text[i] && (name[i] | 0x20) == (text[i] | 0x20)) ++i;
        if (!name[i] && !text[i]) {
            *out = type;
            return true;
        }
    }
    return false;
}

inline bool IsToolColourMode(long bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 48 || bits == 64;
}

struct ToolCommand {
    enum Kind { kInvalid, kHelp, kList, kStream, kSnapshot, kRecord, kRegisterRead, kRegisterWrite, kDemo };
    Kind kind = kInvalid;
    double seconds = 0;
    int bits = 24;
    int fileType = 0;
    int milliseconds = 0;
    int reg = 0, value = 0;
    std::string path;
    std::string error;  // why the line was refused (kind kInvalid)
};

inline ToolCommand ParseToolCommand(int argc, char** argv) {
    ToolCommand c;
    const auto refuse = [&c](const std::string& why) {
        c.kind = ToolCommand::kInvalid;
        c.error = why;
        return c;
    };
    if (argc < 2) return refuse("no command given");
    const std::string command = argv[1];
    const int extra = argc - 2;  // arguments after the command
    char** a = argv + 2;
    long number = 0;
    if (command == "help" || command == "--help" || command == "-h" || command == "/?") {
        c.kind = ToolCommand::kHelp;
        return c;
    }
    if (command == "list") {
        if (extra != 0) return refuse("list takes no arguments");
        c.kind = ToolCommand::kList;
        return c;
    }
    if (command == "stream") {
        if (extra < 1 || extra > 2) return refuse("stream needs <seconds> [bits]");
        if (!ParseToolSeconds(a[0], &c.seconds)) return refuse("seconds must be a number above 0 and at most 3600: " + std::string(a[0]));
        if (extra == 2) {
            if (!ParseToolInteger(a[1], 0, 64, &number) || !IsToolColourMode(number))
                return refuse("bits must be 8, 16, 24, 32, 48 or 64: " + std::string(a[1]));
            c.bits = static_cast<int>(number);
        }
        c.kind = ToolCommand::kStream;
        return c;
    }
    if (command == "snapshot") {
        if (extra != 3) return refuse("snapshot needs <bits> <file type> <file>");
        if (!ParseToolInteger(a[0], 0, 64, &number) || !IsToolColourMode(number))
            return refuse("bits must be 8, 16, 24, 32, 48 or 64: " + std::string(a[0]));
        c.bits = static_cast<int>(number);
        if (!ParseToolFileType(a[1], &c.fileType)) return refuse("unknown file type: " + std::string(a[1]));
        if (!*a[2]) return refuse("the file name is empty");
        c.path = a[2];
        c.kind = ToolCommand::kSnapshot;
        return c;
    }
    if (command == "record") {
        if (extra != 2) return refuse("record needs <milliseconds> <file.avi>");
        if (!ParseToolInteger(a[0], 1, 3600000, &number))
            return refuse("milliseconds must be a whole number from 1 to 3600000: " + std::string(a[0]));
        c.milliseconds = static_cast<int>(number);
        if (!*a[1]) return refuse("the file name is empty");
        c.path = a[1];
        c.kind = ToolCommand::kRecord;
        return c;
    }
    if (command == "reg") {
        const bool read = extra == 2 && std::strcmp(a[0], "read") == 0;
        const bool write = extra == 3 && std::strcmp(a[0], "write") == 0;
        if (!read && !write) return refuse("reg needs read <register> or write <register> <value>");
        if (!ParseToolInteger(a[1], 0, 0xFFFF, &number))
            return refuse("the register must be a number from 0 to 0xFFFF: " + std::string(a[1]));
        c.reg = static_cast<int>(number);
        if (write) {
            if (!ParseToolInteger(a[2], 0, 0xFFFF, &number))
                return refuse("the value must be a number from 0 to 0xFFFF: " + std::string(a[2]));
            c.value = static_cast<int>(number);
        }
        c.kind = read ? ToolCommand::kRegisterRead : ToolCommand::kRegisterWrite;
        return c;
    }
    if (command == "demo") {
        if (extra > 1) return refuse("demo takes at most a folder");
        c.path = extra == 1 ? a[0] : "out";
        if (c.path.empty()) return refuse("the folder name is empty");
        c.kind = ToolCommand::kDemo;
        return c;
    }
    return refuse("unknown command: " + command);
}

// A file's size from both 32-bit halves that Windows reports it in.
inline uint64_t ToolFileSize(uint32_t high, uint32_t low) { return static_cast<uint64_t>(high) << 32 | low; }

// Frames per second between the first and the last frame that arrived: start-up time (preparing the
// camera, the first exposure) is not in it. 0 when fewer than two frames came.
inline double ToolDeliveredRate(int frames, uint32_t firstFrameMs, uint32_t lastFrameMs) {
    const uint32_t span = lastFrameMs - firstFrameMs;
    return frames >= 2 && span > 0 ? (frames - 1) * 1000.0 / span : 0.0;
}

// Frames per second between two frame records, from the library's time stamps (when each frame's transfer
// completed), not from when their messages were handled: a first message handled late (the first frame
// takes longer to process) would otherwise shorten the span and raise the rate. `frames` is the count
// between them (delivered, or frame ids for the sensor's own rate); 0 without a span.
inline double ToolStampedRate(unsigned long long frames, long long firstUs, long long lastUs) {
    return lastUs > firstUs ? static_cast<double>(frames) * 1e6 / static_cast<double>(lastUs - firstUs) : 0.0;
}
