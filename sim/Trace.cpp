#include "Trace.h"

#include <cstdio>

void Trace::Line(int64_t at, const std::string& text) const {
    // One write per line, so that a reader of the pipe never sees half a line.
    std::printf("%8.3f %s\n", static_cast<double>(at - origin) / 1e9, text.c_str());
    std::fflush(stdout);
}

void Trace::Bytes(int64_t at, const char* tag, const uint8_t* bytes, size_t size) const {
    if (!enabled) return;
    std::string text = tag;
    char digits[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(digits, sizeof digits, " %02X", bytes[i]);
        text += digits;
    }
    Line(at, text);
}

void Trace::Note(int64_t at, const std::string& text) const {
    if (enabled) Line(at, "-- " + text);
}
