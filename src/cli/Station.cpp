#include "Station.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "Catalogue.h"
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

const std::vector<std::string> kLogHeader = {
    "time",           "port",   "device", "model", "type_code", "serial", "firmware_before",
    "firmware_after", "record", "result", "error"};

using Json = nlohmann::ordered_json;

// A port's line on the board: what it is doing now, and the result of the last
// reader, which stays until the next reader arrives there.
struct PortView {
    std::string activity =
        Later("watching");  // watching, in use, upgrade, writing, remove, stopped
    std::string detail;     // the reader being provisioned and how far, or the port's holder
    std::string reader;     // the reader whose result is shown
    std::string result;     // "OK", "FAILED: why"; empty before the first reader
    bool ok = false;
};

// "COM5-COM9,COM12,/dev/ttyUSB0": the ports in the order given, runs of
// neighbouring numbers joined; a device given by its path by its path.
std::string PortRanges(const std::vector<int>& ports, const PortSetup& setup) {
    const auto numbered = [&setup](int n) { return setup.devices.count(n) == 0; };
    std::string text;
    for (size_t i = 0; i < ports.size();) {
        size_t j = i;
        while (numbered(ports[i]) && j + 1 < ports.size() && ports[j + 1] == ports[j] + 1 &&
               numbered(ports[j + 1])) {
            ++j;
        }
        text += (text.empty() ? "" : ",") + PortNameOf(ports[i], setup);
        if (j > i) text += fmt::format("-COM{}", ports[j]);
        i = j + 1;
    }
    return text;
}

// The header, from the widest that fits the terminal: the title, then the
// record, then the ports are left out, so that the counts always show.
std::string FitHeader(const std::string& ports, const std::string& record,
                      const std::string& counts, int columns) {
    for (const std::string& header :
         {Say("zantor station  {}  record {}  {}", ports, record, counts),
          Say("{}  record {}  {}", ports, record, counts), ports + "  " + counts}) {
        if (FittingBytes(header, columns - 1) == header.size()) return header;
    }
    return counts;
}

// What every worker shares: the stop request, the screen, the events and the log.
class Shared {
public:
    Shared(Output& out, const std::vector<int>& ports, const PortSetup& setup, CsvLog* log)
        : out(out), ports(ports), setup(setup), views(ports.size()), log(log) {}

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

    void Show(int port, const std::function<void(PortView&)>& change) {
        const std::lock_guard lock(mutex);
        change(views[Index(port)]);
        changed = true;
    }
    // An event of a port: a line off a terminal, an object with --json.
    void Event(int port, const char* name, const std::string& text, const Json& fields = {}) {
        if (out.Json()) {
            Json event = {{"time", IsoTimeNow(false)}, {"event", name}, {"port", port}};
            for (const auto& [key, value] : fields.items()) event[key] = value;
            out.Line(JsonLine(event));
        } else if (!out.Live()) {
            out.Line(fmt::format("{} {} {}", IsoTimeNow(false), PortNameOf(port, setup), text));
        }
    }
    // The board: the header and one line per port, redrawn when something
    // changed or the terminal was resized. When the ports do not fit the
    // terminal's height, those with nothing to show share one line.
    void Draw(const std::string& range, const std::string& record, const std::string& counts) {
        if (!out.Live()) return;
        const TerminalSize size = out.Size();
        std::vector<BoardLine> lines;
        {
            const std::lock_guard lock(mutex);
            const std::string header = FitHeader(range, record, counts, size.columns);
            if (!changed && header == lastHeader && size == lastSize) return;
            changed = false;
            lastHeader = header;
            lastSize = size;
            lines.push_back({header});
            // "COM12  remove   ZANTOR-40 00313  FAILED: ...": the columns close up
            // on a narrow terminal, so that at 40 columns the result still shows.
            size_t labelWidth = 0;
            for (const int port : ports) {
                labelWidth = std::max(labelWidth, PortNameOf(port, setup).size() + 2);
            }
            const size_t activityWidth = size.columns < 50 ? 9 : 10;
            const size_t room = static_cast<size_t>(std::max(size.rows - 2, 1));
            std::vector<int> idle;
            for (size_t i = 0; i < views.size(); ++i) {
                const int port = ports[i];
                const PortView& view = views[i];
                if (views.size() > room && view.detail.empty() && view.result.empty()) {
                    idle.push_back(port);
                } else {
                    lines.push_back(Line(PortNameOf(port, setup), view, labelWidth, activityWidth));
                }
            }
            if (!idle.empty()) {
                lines.push_back({fmt::format("{}  {}", PortRanges(idle, setup),
                                             Tr(views[Index(idle[0])].activity.c_str()))});
            }
            if (lines.size() > room + 1) {
                const size_t hidden = lines.size() - room;
                lines.resize(room);
                lines.push_back({Say("and {} more lines", hidden)});
            }
        }
        out.Board(lines);
    }

    // Counts the reader and logs its row. A row the log does not take fails
    // the reader's result with the reason, so that nobody takes it for logged.
    void Record(const std::vector<std::string>& row, ExitCode& code, const char*& kind,
                std::string& error) {
        if (log != nullptr) {
            try {
                log->Write(row);
            } catch (const Failure& failure) {
                code = failure.code;
                kind = failure.kind;
                error = failure.what();
            }
        }
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
    size_t Index(int port) const {
        return static_cast<size_t>(std::find(ports.begin(), ports.end(), port) - ports.begin());
    }

    static BoardLine Line(const std::string& name, const PortView& view, size_t labelWidth,
                          size_t activityWidth) {
        BoardLine line;
        line.text =
            fmt::format("{:<{}}{:<{}}", name, labelWidth, Tr(view.activity.c_str()), activityWidth);
        if (!view.detail.empty()) {
            line.text += view.detail;
        } else if (!view.result.empty()) {
            line.text += view.reader + "  ";
            line.markFrom = line.text.size();
            line.markSize = std::string(Tr(view.ok ? "OK" : "FAILED")).size();
            line.good = view.ok;
            line.text += view.result;
        }
        return line;
    }

    Output& out;
    const std::vector<int>& ports;
    const PortSetup& setup;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::vector<PortView> views;
    bool changed = true;
    std::string lastHeader;
    TerminalSize lastSize;
    CsvLog* log;
    int readers = 0;
    int failed = 0;
    ExitCode worst = kExitDone;
};

// The upgrade's phase on the port's line of the board.
session::UpgradeEvents BoardProgress(Shared& shared, int port, const std::string& reader) {
    return [&shared, port, reader](const session::UpgradeEvent& event) {
        using Kind = session::UpgradeEvent::Kind;
        std::string detail;
        if (event.kind == Kind::BlockAcknowledged) {
            detail = fmt::format("{}  {:3d} %  block {} of {}", reader, event.Percent(),
                                 std::min(event.step + 1, event.steps), event.steps);
        } else if (event.kind == Kind::Closing) {
            detail = fmt::format("{}  {:3d} %  restarting", reader, event.Percent());
        } else {
            return;
        }
        shared.Show(port, [&](PortView& view) {
            view.activity = Later("upgrade");
            view.detail = detail;
        });
    };
}

// One port: looks for a reader, provisions it, waits until it has gone.
class Worker {
public:
    Worker(Shared& shared, const PortSetup& setup, const StationOptions& options,
           const ReaderConfig& record, const std::optional<upgrade::Image>& image, int port)
        : shared(shared),
          setup(setup),
          options(options),
          record(record),
          image(image),
          port(port),
          services(MakeSerialServices(setup)),
          reader(*services, session::FindAgain::SamePort) {}

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
        shared.Show(port, [](PortView& view) {
            view.activity = Later("stopped");
            view.detail.clear();
        });
    }

private:
    // Whether a reader answers on the port now. A port that another program
    // holds is shown as in use, with the holder, until it is given back; one
    // that may not be opened, or whose device has gone, as such. The event
    // says so once, when the port is first found so.
    bool Arrived() {
        try {
            shared.Show(port, [](PortView& view) {
                view.activity = Later("watching");
                view.detail.clear();
            });
            const bool found = reader.Connect(port);
            refusedBefore.reset();
            return found;
        } catch (const CommErr& error) {
            const bool held = error.kind() == CommErr::Kind::PortHeld;
            // The line names the port already.
            const std::string message = held ? "" : MessageOf(error);
            const std::string name = PortNameOf(port, setup) + " ";
            const std::string text =
                message.rfind(name, 0) == 0 ? message.substr(name.size()) : message;
            if (error.kind() != refusedBefore) {
                if (held) {
                    const PortHolder& holder = error.holder();
                    shared.Event(
                        port, "in_use", Say("in use by {}", HolderOf(error.holder())),
                        {{"device", DeviceOf(port, setup)},
                         {"program", holder.program.empty() ? Json() : Json(holder.program)},
                         {"pid", holder.pid != 0 ? Json(holder.pid) : Json()},
                         {"how", holder.how}});
                } else {
                    shared.Event(port, KindOf(error), text,
                                 {{"device", error.device()}, {"message", message}});
                }
            }
            refusedBefore = error.kind();
            shared.Show(port, [&](PortView& view) {
                view.activity = held                                          ? Later("in use")
                                : error.kind() == CommErr::Kind::NotPermitted ? Later("no access")
                                                                              : Later("gone");
                view.detail = held ? HolderOf(error.holder()) : text;
            });
            return false;
        }
    }

    void Provision() {
        const protocol::Identity identified = reader.Reader();
        const std::string model = ModelName(reader);
        const std::string name = fmt::format("{} {:05d}", model, identified.serialNumber);
        const uint16_t before = identified.firmwareVersion;
        const std::string device = DeviceOf(port, setup);
        shared.Show(port, [&](PortView& view) {
            view.activity = Later("writing");
            view.detail = name;
            view.reader = name;
            view.result.clear();
        });
        shared.Event(port, "identified", Say("{} firmware {}: identified", name, before),
                     {{"device", device},
                      {"type", identified.typeCode},
                      {"model", model},
                      {"serial", identified.serialNumber},
                      {"firmware", before}});
        ExitCode code = kExitDone;
        const char* kind = "";
        std::string error;
        const auto fail = [&](const CommErr& failure) {
            code = ExitCodeOf(failure);
            kind = KindOf(failure);
            error = MessageOf(failure);
            reader.Close();
        };
        try {
            if (options.upgrade || image) {
                const session::ImageVerdict verdict = JudgeImage(reader, image);
                if (verdict.kind == session::ImageVerdict::Kind::Due) {
                    shared.Event(
                        port, "upgrading",
                        Say("{}: upgrading to firmware {}", name, verdict.imageVersion),
                        {{"serial", identified.serialNumber}, {"image", verdict.imageVersion}});
                    UpgradeAndVerify(reader, verdict.offer->image,
                                     BoardProgress(shared, port, name));
                }
            }
            shared.Show(port, [&](PortView& view) {
                view.activity = Later("writing");
                view.detail = name;
            });
            WriteAndVerify(reader, record);
        } catch (const Failure& failure) {
            code = failure.code;
            kind = failure.kind;
            error = failure.what();
        } catch (const CommErr& failure) {
            fail(failure);
        }
        // The result on the reader itself; a reader that cannot be reached is
        // shown nothing. Without its acknowledgement no green light was seen,
        // so a success that the reader does not show fails with the reason.
        if (reader.Port() != 0) {
            try {
                reader.ShowResult(code == kExitDone);
            } catch (const CommErr& failure) {
                if (code == kExitDone) {
                    fail(failure);
                } else {
                    reader.Close();
                }
            }
        }
        // The row is the reader's when it is done with.
        const uint16_t after = reader.Reader().firmwareVersion;
        const std::string recordText = HexBytes(record.data(), record.size());
        const auto outcome = [&code] { return code == kExitDone ? "ok" : "failed"; };
        shared.Record(
            {IsoTimeNow(false), PortNameOf(port, setup), device, model,
             std::to_string(identified.typeCode), fmt::format("{:05d}", identified.serialNumber),
             std::to_string(before), std::to_string(after), recordText, outcome(), error},
            code, kind, error);
        const std::string result =
            code == kExitDone ? Tr("OK") : fmt::format("{}: {}", Tr("FAILED"), error);
        shared.Event(port, "result", fmt::format("{}: {}", name, result),
                     {{"device", device},
                      {"type", identified.typeCode},
                      {"model", model},
                      {"serial", identified.serialNumber},
                      {"firmware_before", before},
                      {"firmware_after", after},
                      {"record", recordText},
                      {"result", outcome()},
                      {"exit_code", static_cast<int>(code)},
                      {"kind", code == kExitDone ? Json(nullptr) : Json(kind)},
                      {"error", error}});
        shared.Show(port, [&](PortView& view) {
            view.activity = Later("remove");
            view.detail.clear();
            view.result = result;
            view.ok = code == kExitDone;
        });
    }

    // The reader is asked, on its own port, whether it is still there. A port
    // that has lost its device, or another serial number (swapped meanwhile),
    // means at once that it has gone; silence only when it lasts, because a
    // reply that comes late on a busy machine is no removal.
    void WaitUntilGone() {
        const protocol::Identity provisioned = reader.Reader();
        int silent = 0;
        while (!shared.Pause(kGoneInterval)) {
            const session::Presence presence = reader.LookAgain();
            if (presence == session::Presence::PortGone) break;
            if (presence == session::Presence::Silent) {
                reader.Close();
                if (++silent < kSilentChecks) continue;
                break;
            }
            const protocol::Identity now = reader.Reader();
            if (now.serialNumber != provisioned.serialNumber ||
                now.typeCode != provisioned.typeCode) {
                break;
            }
            silent = 0;
            // What it sent unasked (a card held to it) is nobody's here.
            std::array<uint8_t, Zantor50::kPollSize> unread{};
            reader.Raw().PollBytes(unread.data());
        }
        reader.Close();
        if (!shared.Stopping()) shared.Event(port, "removed", Tr("reader removed"));
    }

    Shared& shared;
    const PortSetup& setup;
    const StationOptions& options;
    const ReaderConfig& record;
    const std::optional<upgrade::Image>& image;
    int port;
    std::unique_ptr<SerialServices> services;
    session::ReaderSession reader;
    // How the last look found the port refused; none when it opened.
    std::optional<CommErr::Kind> refusedBefore;
};

}  // namespace

int RunStation(Output& out, const PortSetup& setup, const StationOptions& options) {
    // Everything given is read and checked before a port is looked at or the
    // log is touched.
    const ReaderConfig record = config::SettingsToRecord(
        SettingsFromProfile(ReadFileOrFail(options.profilePath, Later("profile"))));
    std::string imageFile;
    std::optional<upgrade::Image> image;
    if (!options.imagePath.empty()) {
        imageFile = ReadFileOrFail(options.imagePath, Later("image"));
        image =
            upgrade::Image(reinterpret_cast<const uint8_t*>(imageFile.data()), imageFile.size());
        CheckIntact(*image);
    }
    std::unique_ptr<CsvLog> log;
    if (!options.logPath.empty()) log = std::make_unique<CsvLog>(options.logPath, kLogHeader);

    Shared shared(out, options.ports, setup, log.get());
    // Told from here rather than from the handler, so that the board is redrawn
    // below the message.
    CatchInterrupts(nullptr);
    std::vector<std::unique_ptr<Worker>> workers;
    std::vector<std::thread> threads;
    std::atomic<int> running{0};
    for (const int port : options.ports) {
        workers.push_back(std::make_unique<Worker>(shared, setup, options, record, image, port));
        ++running;
        threads.emplace_back([&running, worker = workers.back().get()] {
            worker->Run();
            --running;
        });
    }
    const std::string recordText = HexBytes(record.data(), record.size());
    const std::string range = PortRanges(options.ports, setup);
    if (out.Json()) {
        out.Line(JsonLine({{"time", IsoTimeNow(false)},
                           {"event", "watching"},
                           {"ports", options.ports},
                           {"record", recordText}}));
    } else if (!out.Live()) {
        out.Line(Say("{} watching {}, record {}", IsoTimeNow(false), range, recordText));
    }
    const auto counts = [&](const char* state) {
        return Say("readers {}  failed {}{}", shared.Readers(), shared.Failed(), Tr(state));
    };
    while (running > 0) {
        if (Interrupts() > 0 && !shared.Stopping()) {
            shared.Stop();
            out.Message(
                fmt::format("zantor: {}", Tr("stopping; readers being upgraded or written are "
                                             "finished first (Ctrl-C again to stop at once)")));
        }
        shared.Draw(range, recordText, counts(shared.Stopping() ? Later("  stopping") : ""));
        std::this_thread::sleep_for(kScreenInterval);
    }
    for (std::thread& thread : threads) thread.join();
    shared.Draw(range, recordText, counts(Later("  stopped")));
    if (out.Json()) {
        out.Line(JsonLine({{"time", IsoTimeNow(false)},
                           {"event", "stopped"},
                           {"readers", shared.Readers()},
                           {"failed", shared.Failed()}}));
    }
    out.Message(Say("{} readers, {} failed", shared.Readers(), shared.Failed()));
    if (options.once && shared.Readers() == 0) {
        throw Failure(kExitNoReader, Say("No reader connected. (no reader on {})", range));
    }
    return shared.Worst();
}

}  // namespace cli
