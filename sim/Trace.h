#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The emulator's trace on standard output, one flushed line per event, e.g.
//    "  12.345 RX 05 00 4D A1 F4"; times in seconds since origin (ns, monotonic).
class Trace {
public:
    Trace(bool enabled, int64_t origin) : enabled(enabled), origin(origin) {}

    void Bytes(int64_t at, const char* tag, const uint8_t* bytes, size_t size) const;
    void Note(int64_t at, const std::string& text) const;

private:
    void Line(int64_t at, const std::string& text) const;

    bool enabled;
    int64_t origin;
};
