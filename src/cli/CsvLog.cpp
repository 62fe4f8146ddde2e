#include "CsvLog.h"

#include <fmt/format.h>

#include "Failure.h"

namespace cli {

namespace {

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

}  // namespace

CsvLog::CsvLog(const std::string& path, const std::vector<std::string>& header)
    : file(std::fopen(path.c_str(), "ab")) {
    if (file == nullptr) throw Failure(kExitUsage, fmt::format("cannot write the log {}", path));
    std::fseek(file, 0, SEEK_END);
    if (std::ftell(file) == 0) WriteLocked(header);
}

CsvLog::~CsvLog() { std::fclose(file); }

void CsvLog::Write(const std::vector<std::string>& fields) {
    const std::lock_guard lock(mutex);
    WriteLocked(fields);
}

void CsvLog::WriteLocked(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) line += (i > 0 ? "," : "") + CsvField(fields[i]);
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), file);
    std::fflush(file);
}

}  // namespace cli
