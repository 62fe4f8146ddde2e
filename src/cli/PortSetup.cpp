#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>

#include "Catalogue.h"
#include "CommErr.h"
#include "Failure.h"
#include "Platform.h"
#include "Protocol.h"

namespace cli {

namespace {

bool IsDevicePath(const std::string& text) { return !text.empty() && text.front() == '/'; }

}  // namespace

PortSetup PortSetupFromEnvironment() {
    const char* folder = std::getenv("ZANTOR_PORT_FOLDER");
    if (folder == nullptr) return {};
    if (*folder == '\0') {
        throw Failure(kExitUsage, Tr("ZANTOR_PORT_FOLDER is set but empty: name a port folder"));
    }
    return {folder, false, {}};
}

int ComNumber(const std::string& text) {
    const auto upper = [](char c) { return std::toupper(static_cast<unsigned char>(c)); };
    const bool prefixed =
        text.size() > 3 && upper(text[0]) == 'C' && upper(text[1]) == 'O' && upper(text[2]) == 'M';
    const char* first = text.data() + (prefixed ? 3 : 0);
    const char* last = text.data() + text.size();
    int n = 0;
    const auto [end, error] = std::from_chars(first, last, n);
    const bool whole = error == std::errc() && end == last && first != last;
    return whole && n >= protocol::kFirstPort && n <= protocol::kLastPort ? n : 0;
}

int PortOf(const std::string& text, PortSetup& setup) {
    if (IsDevicePath(text)) return PortForDevice(text, setup);
    if (const int n = ComNumber(text)) return n;
    throw Failure(kExitUsage,
                  Say("--port: {} is neither a COM number ({}-{}, COMn) nor a device path", text,
                      protocol::kFirstPort, protocol::kLastPort));
}

std::string PortLabelOf(int n, const PortSetup& setup) {
    return PortLabel(n, DeviceOf(n, setup), setup.devices.count(n) != 0);
}

std::string PortNameOf(int n, const PortSetup& setup) {
    const auto named = setup.devices.find(n);
    return named != setup.devices.end() ? named->second : fmt::format("COM{}", n);
}

std::vector<int> PortsOf(const std::string& text, PortSetup& setup) {
    std::vector<int> ports;
    const auto add = [&ports](int n) {
        if (std::find(ports.begin(), ports.end(), n) == ports.end()) ports.push_back(n);
    };
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        at = comma + 1;
        if (IsDevicePath(item)) {
            add(PortForDevice(item, setup));
            continue;
        }
        const size_t dash = item.find('-');
        const int first = ComNumber(item.substr(0, dash));
        const int last = dash == std::string::npos ? first : ComNumber(item.substr(dash + 1));
        if (first == 0 || last < first) {
            throw Failure(
                kExitUsage,
                Say("--ports: {} is not a COM number ({}-{}), a range of them (3-6) or "
                    "a device path",
                    item.empty() ? "\"\"" : item, protocol::kFirstPort, protocol::kLastPort));
        }
        for (int n = first; n <= last; ++n) add(n);
    }
    return ports;
}

}  // namespace cli
