#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace cli {

// An append-only CSV file whose every row reaches the file before Write
// returns, so that a crash or an interrupt loses no finished row. A row the
// system does not take (a full disk) throws Failure (bad_log), so that the
// caller can say so rather than lose it unseen.
class CsvLog {
public:
    // Opens path for appending and writes the header when the file is empty.
    // Throws Failure (usage) when it cannot, or when the file begins with
    // another header.
    CsvLog(const std::string& path, const std::vector<std::string>& header);
    ~CsvLog();
    CsvLog(const CsvLog&) = delete;
    CsvLog& operator=(const CsvLog&) = delete;

    void Write(const std::vector<std::string>& fields);

private:
    void WriteLocked(const std::vector<std::string>& fields);

    std::string path;
    std::FILE* file = nullptr;
    std::mutex mutex;
};

}  // namespace cli
