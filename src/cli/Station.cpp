#include "Station.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "Clock.h"
#include "CommErr.h"
#include "Commands.h"
#include "CsvLog.h"
#include "Failure.h"
#include "Profile.h"
#include "Protocol.h"
#include "ReaderSession.h"
#include "Steps.h"

namespace cli {

namespace {

// How often an empty port is looked at, and how often a provisioned reader is
// asked whether it is still there.
constexpr auto kWatchInterval = std::chrono::milliseconds(1000);
constexpr auto kGoneInterval = std::chrono::milliseconds(1000);
constexpr int kSilentChecks = 3;
constexpr auto kScreenInterval = std::chrono::milliseconds(100);

// The result shown on the reader itself, held until it is unplugged (time 0):
// green and one short beep, or red and a long one.
constexpr uint8_t kShowForGood = 0;
constexpr uint8_t kShortBeep = 0x03;
constexpr uint8_t kLongBeep = 0xFF;

const std::vector<std::string> kLogHeader = {
    "time",           "port",   "device", "type", "serial", "firmware_before",
    "firmware_after", "record", "result", "error"};

// What every worker shares: the stop request, the screen and the log.
class Shared {
public:
    Shared(Output& out, const std::vector<int>& ports, CsvLog* log)
        : out(out), ports(ports), states(ports.size()), log(log) {}

    void Stop() {
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_all();
    }
    bool Stopping() {
        const std::lock_guard lock(mutex);
        return stopping;
    }
    // Waits for the interval or a stop request; true when stopping.
    bool Pause(std::chrono::milliseconds interval) {
        std::unique_lock lock(mutex);
        return wake.wait_for(lock, interval, [this] { return stopping; });
    }

    void SetState(int port, const std::string& state) {
        const std::lock_guard lock(mutex);
        const auto at = std::find(ports.begin(), ports.end(), port) - ports.begin();
        states[static_cast<size_t>(at)] = state;
        changed = true;
    }
    void Event(int port, const std::string& text) {
        if (!out.Live()) out.Line(fmt::format("{} COM{} {}", IsoTimeNow(false), port, text));
    }
    // The board: one line per port, redrawn when something changed.
    void Draw(const std::string& header) {
        std::vector<std::string> lines;
        {
            const std::lock_guard lock(mutex);
            if (!changed && header == lastHeader) return;
            changed = false;
            lastHeader = header;
            lines.push_back(header);
            for (size_t i = 0; i < states.size(); ++i) {
                lines.push_back(fmt::format("COM{:<3} {}", ports[i], states[i]));
            }
        }
        out.Board(lines);
    }

    void Record(const std::vector<std::string>& row, ExitCode code) {
        if (log != nullptr) log->Write(row);
        const std::lock_guard lock(mutex);
        ++readers;
        if (code != kExitDone) {
            ++failed;
            if (worst == kExitDone) worst = code;
        }
    }
    int Readers() {
        const std::lock_guard lock(mutex);
        return readers;
    }
    int Failed() {
        const std::lock_guard lock(mutex);
        return failed;
    }
    ExitCode Worst() {
        const std::lock_guard lock(mutex);
        return worst;
    }

private:
    Output& out;
    const std::vector<int>& ports;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::vector<std::string> states;
    bool changed = true;
    std::string lastHeader;
    CsvLog* log;
    int readers = 0;
    int failed = 0;
    ExitCode worst = kExitDone;
};

// The upgrade's phase on the port's line of the board.
session::UpgradeEvents BoardProgress(Shared& shared, int port, const std::string& reader) {
    return [&shared, port, reader](const session::UpgradeEvent& event) {
        using Kind = session::UpgradeEvent::Kind;
        if (event.kind == Kind::BlockAcknowledged) {
            shared.SetState(port, fmt::format("{}  upgrade: block {} of {} {:3d} %", reader,
                                              std::min(event.step + 1, event.steps), event.steps,
                                              event.step * 60 / event.steps));
        } else if (event.kind == Kind::Closing) {
            shared.SetState(port, fmt::format("{}  upgrade: reader restarting {:3d} %", reader,
                                              60 + event.step * 40 / event.steps));
        }
    };
}

// One port: looks for a reader, provisions it, waits until it has gone.
class Worker {
public:
    Worker(Shared& shared, const PortSetup& setup, const StationOptions& options,
           const ReaderConfig& record, int port)
        : shared(shared),
          setup(setup),
          options(options),
          record(record),
          port(port),
          services(MakeSerialServices(setup)),
          reader(*services, session::AfterUpgrade::SamePort),
          link(reader.Link()) {}

    void Run() {
        while (!shared.Stopping()) {
            if (!Arrived()) {
                if (options.once || shared.Pause(kWatchInterval)) break;
                continue;
            }
            // After the first Ctrl-C no new reader is taken.
            if (shared.Stopping()) break;
            Provision();
            if (options.once) break;
            WaitUntilGone();
        }
        reader.Close();
        shared.SetState(port, "stopped");
    }

private:
    // Whether a reader answers on the port now. A port that another program
    // holds is shown as in use, with the holder, until it is given back.
    bool Arrived() {
        try {
            shared.SetState(port, last.empty() ? "watching" : "watching   last: " + last);
            return reader.Connect(port);
        } catch (const CommErr& error) {
            shared.SetState(port, error.what());
            return false;
        }
    }

    void Provision() {
        const std::string name = fmt::format("{} {:05d}", ModelName(link), link.serialNumber);
        const uint16_t before = link.firmwareVersion;
        std::vector<std::string> row = {IsoTimeNow(false),
                                        fmt::format("COM{}", port),
                                        DeviceOf(port, setup),
                                        ModelName(link),
                                        fmt::format("{:05d}", link.serialNumber),
                                        std::to_string(before)};
        shared.Event(port, fmt::format("{} firmware {}: identified", name, before));
        ExitCode code = kExitDone;
        std::string error;
        try {
            const std::optional<upgrade::Offer> due =
                options.upgrade ? reader.UpgradeDue(CandidateImage(link, std::nullopt))
                                : std::nullopt;
            if (due) {
                CheckImage(due->image, link);
                shared.Event(port, fmt::format("{}: upgrading to firmware {}", name,
                                               upgrade::Version(due->image)));
                UpgradeAndVerify(reader, due->image, BoardProgress(shared, port, name));
            }
            shared.SetState(port, name + "  writing the configuration");
            WriteAndVerify(reader, record);
        } catch (const Failure& failure) {
            code = failure.code;
            error = failure.what();
        } catch (const CommErr& failure) {
            code = ExitCodeOf(failure);
            error = MessageOf(failure);
            reader.Close();
        }
        row.push_back(std::to_string(link.firmwareVersion));
        row.push_back(HexBytes(record.data(), record.size()));
        row.push_back(code == kExitDone ? "ok" : "failed");
        row.push_back(error);
        shared.Record(row, code);
        ShowOnReader(code == kExitDone);
        const std::string result = code == kExitDone ? "OK" : fmt::format("FAILED: {}", error);
        shared.Event(port, fmt::format("{}: {}", name, result));
        last = fmt::format("{}  {}", name, result);
        shared.SetState(port, last + (options.once ? "" : "  (remove the reader)"));
    }

    void ShowOnReader(bool success) {
        if (link.OpenPortNumber() == 0) return;
        link.SendRaw(protocol::BuildLFrame(success, !success, kShowForGood,
                                           success ? kShortBeep : kLongBeep));
        // The reader's acknowledgement shows that the frame has arrived before
        // the port may be closed, which discards whatever is still queued.
        uint8_t status = 0;
        link.ReceiveFrame(protocol::ReplyTo(protocol::kLeds), 1, &status, 0);
    }

    // The reader is asked, on its own port, whether it is still there. A port
    // that has lost its device, or another serial number (swapped meanwhile),
    // means at once that it has gone; silence only when it lasts, because a
    // reply that comes late on a busy machine is no removal.
    void WaitUntilGone() {
        const uint16_t serial = link.serialNumber;
        const uint16_t type = link.typeCode;
        int silent = 0;
        while (!shared.Pause(kGoneInterval)) {
            if (!link.SelectPort(port)) break;
            if (!link.Identify()) {
                link.ClosePort();
                if (++silent < kSilentChecks) continue;
                break;
            }
            if (link.serialNumber != serial || link.typeCode != type) break;
            silent = 0;
            std::array<uint8_t, Zantor50::kPollSize> unread{};
            link.PollBytes(unread.data());
        }
        link.ClosePort();
        if (!shared.Stopping()) shared.Event(port, "reader removed");
    }

    Shared& shared;
    const PortSetup& setup;
    const StationOptions& options;
    const ReaderConfig& record;
    int port;
    std::unique_ptr<SerialServices> services;
    session::ReaderSession reader;
    Zantor50& link;
    std::string last;  // the result of the last reader, shown while watching
};

// "COM1-COM6" or "COM3-COM6,COM9": runs of neighbouring numbers as ranges.
std::string PortsText(const std::vector<int>& ports) {
    std::string text;
    for (size_t i = 0; i < ports.size();) {
        size_t end = i + 1;
        while (end < ports.size() && ports[end] == ports[end - 1] + 1) ++end;
        text += fmt::format("{}COM{}", text.empty() ? "" : ",", ports[i]);
        if (end - i > 1) text += fmt::format("-COM{}", ports[end - 1]);
        i = end;
    }
    return text;
}

}  // namespace

int RunStation(Output& out, const PortSetup& setup, const StationOptions& options) {
    const ReaderConfig record = config::SettingsToRecord(
        SettingsFromProfile(ReadFileOrFail(options.profilePath, "profile")));
    std::unique_ptr<CsvLog> log;
    if (!options.logPath.empty()) log = std::make_unique<CsvLog>(options.logPath, kLogHeader);

    Shared shared(out, options.ports, log.get());
    const std::string watched = PortsText(options.ports);
    // Told from here rather than from the handler, so that the board is redrawn
    // below the message.
    CatchInterrupts(nullptr);
    std::vector<std::unique_ptr<Worker>> workers;
    std::vector<std::thread> threads;
    std::atomic<int> running{0};
    for (const int port : options.ports) {
        workers.push_back(std::make_unique<Worker>(shared, setup, options, record, port));
        ++running;
        threads.emplace_back([&running, worker = workers.back().get()] {
            worker->Run();
            --running;
        });
    }
    if (!out.Live()) {
        out.Line(fmt::format("{} watching {}, record {}", IsoTimeNow(false), watched,
                             HexBytes(record.data(), record.size())));
    }
    while (running > 0) {
        if (Interrupts() > 0 && !shared.Stopping()) {
            shared.Stop();
            out.Message(
                "zantor: stopping; readers being upgraded or written are finished first (Ctrl-C "
                "again to stop at once)");
        }
        shared.Draw(fmt::format("zantor station  {}  record {}  readers {}  failed {}{}", watched,
                                HexBytes(record.data(), record.size()), shared.Readers(),
                                shared.Failed(), shared.Stopping() ? "  stopping" : ""));
        std::this_thread::sleep_for(kScreenInterval);
    }
    for (std::thread& thread : threads) thread.join();
    shared.Draw(fmt::format("zantor station  {}  stopped", watched));
    const std::string summary =
        fmt::format("{} readers, {} failed", shared.Readers(), shared.Failed());
    out.Message(summary);
    if (options.once && shared.Readers() == 0) {
        throw Failure(kExitNoReader, "no reader found on the watched ports");
    }
    return shared.Worst();
}

}  // namespace cli
