#include "CsvLog.h"

#include <fmt/format.h>

#include <cerrno>
#include <system_error>

#include "Catalogue.h"
#include "Failure.h"

namespace cli {

namespace {

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string CsvRow(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) line += (i > 0 ? "," : "") + CsvField(fields[i]);
    return line + "\r\n";
}

}  // namespace

CsvLog::CsvLog(const std::string& path, const std::vector<std::string>& header)
    : path(path), file(std::fopen(path.c_str(), "a+b")) {
    if (file == nullptr) {
        throw Failure(
            kExitUsage, "bad_log",
            Say("cannot write the log {}: {}", path, std::generic_category().message(errno)));
    }
    // Rows appended under another header would sit in the wrong columns.
    const std::string expected = CsvRow(header);
    std::string first(expected.size() + 1, '\0');
    std::rewind(file);
    if (std::fgets(first.data(), static_cast<int>(first.size()), file) == nullptr) first[0] = 0;
    first.resize(first.find_first_of(std::string("\r\n\0", 3)));
    if (!first.empty() && first + "\r\n" != expected) {
        std::fclose(file);
        throw Failure(
            kExitUsage, "bad_log",
            Say("the log {} has other columns ({}); give a new file with --log", path, first));
    }
    std::fseek(file, 0, SEEK_END);
    if (!first.empty()) return;
    try {
        WriteLocked(header);
    } catch (const Failure&) {
        std::fclose(file);
        throw;
    }
}

CsvLog::~CsvLog() { std::fclose(file); }

void CsvLog::Write(const std::vector<std::string>& fields) {
    const std::lock_guard lock(mutex);
    WriteLocked(fields);
}

void CsvLog::WriteLocked(const std::vector<std::string>& fields) {
    const std::string line = CsvRow(fields);
    const bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
    if (std::fflush(file) == 0 && written) return;
    const int error = errno;
    // The next row may find room again.
    std::clearerr(file);
    throw Failure(kExitUsage, "bad_log",
                  Say("cannot write the log {}: {}", path, std::generic_category().message(error)));
}

}  // namespace cli
