#include "Commands.h"

#include <fmt/format.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <system_error>
#include <thread>

#include "Catalogue.h"
#include "Clock.h"
#include "CommErr.h"
#include "Failure.h"
#include "Monitor.h"
#include "Profile.h"
#include "ReaderConfig.h"
#include "Replies.h"
#include "Steps.h"

namespace cli {

namespace {

// How long the Test page's poll waits between reads, and how long send waits
// for the replies to its commands.
constexpr uint32_t kPollMs = 100;
constexpr uint32_t kReplyWaitMs = 500;
// Larger than any image can be (65535 blocks): a file that is not one, such
// as a device that never ends, is refused rather than read for ever.
constexpr size_t kMaxFileBytes = size_t{64} << 20;

using Json = nlohmann::ordered_json;

// The upgrade's progress on the command line: a live line on a terminal,
// otherwise a line when the blocks begin and when they are all acknowledged.
class CommandProgress {
public:
    explicit CommandProgress(Output& out) : out(out) {}

    void operator()(const session::UpgradeEvent& event) {
        using Kind = session::UpgradeEvent::Kind;
        switch (event.kind) {
            case Kind::BlocksBegin:
                started = std::chrono::steady_clock::now();
                if (!out.Live()) out.Message(Say("upgrade: sending {} blocks", event.steps));
                break;
            case Kind::BlockAcknowledged:
                if (event.step == event.steps && !out.Live()) {
                    out.Message(Tr("upgrade: blocks acknowledged, the reader restarts"));
                }
                Show(Say("block {} of {}", std::min(event.step + 1, event.steps), event.steps),
                     event.Percent());
                break;
            case Kind::Closing:
                Show(Tr("reader restarting"), event.Percent());
                break;
            case Kind::TransferEnded:
                break;
        }
    }

private:
    void Show(const std::string& phase, int percent) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const std::string left =
            percent > 0 ? Say("{:.0f} s left", elapsed * (100 - percent) / percent) : "";
        out.Progress(fmt::format("{:<18} {:3d} %   {}", phase, percent, left));
    }

    Output& out;
    std::chrono::steady_clock::time_point started;
};

uint8_t SlotsToBits(const std::string& slots) {
    uint8_t bits = 0;
    for (size_t i = 0; i < slots.size() && i < 8; ++i) {
        if (slots[i] == '1') bits = static_cast<uint8_t>(bits | (1u << i));
    }
    return bits;
}

// What crossed the line, as the Test page logs it: its lines, each with the
// time; with --json one object with the bytes and the lines.
void PrintTraffic(Output& out, const char* direction, const uint8_t* bytes, size_t count,
                  const std::vector<std::string>& lines) {
    const std::string time = IsoTimeNow(true);
    if (out.Json()) {
        out.Line(JsonLine({{"time", time},
                           {"direction", direction},
                           {"bytes", HexBytes(bytes, count)},
                           {"lines", lines}}));
        return;
    }
    for (const std::string& line : lines) out.Line(time + "  " + line);
}

// The words of the Test page's log: in the run's language on a terminal or in
// a file; as the window's own in JSON, which is the same in every language.
monitor::LogWords Words(const Output& out) {
    if (out.Json()) return {};
    return {Tr("Sent: "), Tr("Received: "), Tr(" - echo of the sent command")};
}

void PrintChunk(Output& out, const uint8_t* bytes, size_t count) {
    PrintTraffic(out, "received", bytes, count, monitor::ChunkToLines(bytes, count, Words(out)));
}

// The identified reader as identify --json shows it.
Json ReaderObject(const Context& context) {
    const protocol::Identity reader = context.reader.Reader();
    const int n = context.reader.Port();
    return {{"port", n},
            {"device", DeviceOf(n, context.setup)},
            {"type", reader.typeCode},
            {"model", ModelName(context.reader)},
            {"serial", reader.serialNumber},
            {"firmware", reader.firmwareVersion}};
}

// As the Test page logs them, each reply that send knows told in words beside
// its bytes; with --json one object per frame, with its meaning.
void PrintReplies(Output& out, const uint8_t* bytes, size_t count) {
    if (monitor::IsTextChunk(bytes, count)) return PrintChunk(out, bytes, count);
    const std::string time = IsoTimeNow(true);
    for (const auto& [at, length] : monitor::BinaryPieces(bytes, count)) {
        const std::string line = monitor::BinaryLine(bytes + at, length, Words(out));
        const std::string meaning = DescribeReply(bytes + at, length, !out.Json());
        if (!out.Json()) {
            out.Line(time + "  " + line + (meaning.empty() ? "" : "  = " + meaning));
            continue;
        }
        Json object = {{"time", time},
                       {"direction", "received"},
                       {"bytes", HexBytes(bytes + at, length)},
                       {"lines", {line}}};
        if (!meaning.empty()) object["meaning"] = meaning;
        out.Line(JsonLine(object));
    }
}

}  // namespace

Context::Context(Output& out, const PortSetup& setup)
    : out(out),
      setup(setup),
      services(MakeSerialServices(setup)),
      reader(*services, session::FindAgain::SamePort) {}

void Context::Connect(int port) {
    if (reader.Connect(port)) return;
    if (port != 0) {
        const std::string device = DeviceOf(port, setup);
        const std::string name = PortNameOf(port, setup);
        throw Failure(kExitNoReader, Say("No reader connected. (no reader answers on {}{})", name,
                                         device.empty() || device == name ? "" : ", " + device));
    }
    throw Failure(kExitNoReader, Say("No reader connected. (no reader on COM{}..COM{})",
                                     protocol::kFirstPort, protocol::kLastPort));
}

std::string ModelName(const session::ReaderSession& reader) {
    return fmt::format("ZANTOR-{}", reader.Model());
}

std::string ReadFileOrFail(const std::string& path, const char* what) {
    const auto refuse = [&](const std::string& reason) {
        throw Failure(kExitBadInput, "bad_file",
                      Say("cannot read the {} {}: {}", Tr(what), path, reason));
    };
    std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr) refuse(std::generic_category().message(errno));
    std::string text;
    std::array<char, 65536> buffer{};
    size_t count = 0;
    while (text.size() <= kMaxFileBytes &&
           (count = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        text.append(buffer.data(), count);
    }
    // A directory opens, and its first read fails (EISDIR).
    const int error = std::ferror(file) != 0 ? errno : 0;
    if (file != stdin) std::fclose(file);
    if (error != 0) refuse(std::generic_category().message(error));
    if (text.size() > kMaxFileBytes) refuse(Say("larger than {} MiB", kMaxFileBytes >> 20));
    return text;
}

int RunPorts(Output& out, const PortSetup& setup, bool json, bool probe) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    const std::vector<PortInfo> ports = ListPorts(setup);
    if (ports.empty()) {
        out.Message(fmt::format("zantor: {}", Say("no serial ports: {}", PortsLookedAt(setup))));
    }
    for (PortInfo port : ports) {
        // Identification is the one way to know a reader; only free ports get it.
        std::optional<Context> context;
        bool found = false;
        if (probe && port.state == PortInfo::State::Free) {
            context.emplace(out, setup);
            try {
                found = context->reader.Connect(port.number);
            } catch (const CommErr& error) {
                // Taken meanwhile, or held in a way that shows only on opening
                // (the exclusive flag); or refused, or gone, since it was looked at.
                port.state = error.kind() == CommErr::Kind::PortHeld ? PortInfo::State::Held
                             : error.kind() == CommErr::Kind::NotPermitted
                                 ? PortInfo::State::NotPermitted
                                 : PortInfo::State::Missing;
                port.holderPid = error.holder().pid;
                port.holderProgram = error.holder().program;
                port.holderHow = error.holder().how;
            }
        }
        static const char* const kStates[] = {Later("free"), Later("held"), Later("not permitted"),
                                              Later("missing")};
        nlohmann::ordered_json entry = {{"port", port.number},
                                        {"device", port.device},
                                        {"from", port.fromFolder ? "port folder" : "system"},
                                        {"state", kStates[static_cast<int>(port.state)]}};
        if (!port.byId.empty()) entry["by_id"] = port.byId;
        std::string state = Tr(kStates[static_cast<int>(port.state)]);
        if (port.state == PortInfo::State::Held) {
            entry["holder"] = {
                {"pid", port.holderPid}, {"program", port.holderProgram}, {"how", port.holderHow}};
            if (!port.holderProgram.empty() || port.holderPid != 0) {
                state +=
                    Say(" by {}", HolderOf({port.holderPid, port.holderProgram, port.holderHow}));
            } else if (!port.holderHow.empty()) {
                state += fmt::format(" ({})", Tr(port.holderHow.c_str()));
            }
        }
        if (port.state == PortInfo::State::NotPermitted) {
            entry["fix"] = "sudo usermod -aG dialout $USER, then log in again";
            state += Tr(": join the dialout group (sudo usermod -aG dialout $USER, log in again)");
        }
        if (found) {
            const protocol::Identity reader = context->reader.Reader();
            const std::string model = ModelName(context->reader);
            entry["reader"] = {{"type", reader.typeCode},
                               {"model", model},
                               {"serial", reader.serialNumber},
                               {"firmware", reader.firmwareVersion}};
            state += Say(", {} serial {:05d} firmware {}", model, reader.serialNumber,
                         reader.firmwareVersion);
        } else if (context && port.state == PortInfo::State::Free) {
            entry["reader"] = nullptr;
            state += Tr(", no reader answers");
        }
        list.push_back(entry);
        if (!json) {
            out.Line(fmt::format("COM{:<3} {:<14} {:<12} {}{}", port.number, port.device,
                                 port.fromFolder ? Tr("port folder") : Tr("system"), state,
                                 port.byId.empty() ? "" : "  " + port.byId));
        }
    }
    if (json) out.Line(list.dump(2));
    return kExitDone;
}

int RunIdentify(Context& context, int port, bool json) {
    context.Connect(port);
    const protocol::Identity reader = context.reader.Reader();
    if (json) {
        context.out.Line(ReaderObject(context).dump(2));
    } else {
        context.out.Line(Say("{}: {} (type {}), serial {:05d}, firmware {}",
                             PortLabelOf(context.reader.Port(), context.setup),
                             ModelName(context.reader), reader.typeCode, reader.serialNumber,
                             reader.firmwareVersion));
    }
    return kExitDone;
}

int RunConfigGet(Context& context, int port, bool json) {
    context.Connect(port);
    const ReaderConfig record = context.reader.Read();
    if (config::HasInvalidMode(record)) {
        context.out.Message(
            Tr("The reader holds an invalid configuration. (output mode 2 or 3; shown as the "
               "window shows it)"));
    }
    config::Settings settings;
    config::RecordToSettings(record, settings);
    if (json) {
        // The named fields alone: an edited field then goes back as it is, and
        // the record is never a second, stale statement of the same settings.
        Json profile = ProfileFromSettings(settings);
        profile.erase("record");
        context.out.Line(profile.dump(2));
        return kExitDone;
    }
    std::string text = DescribeSettings(settings);
    text += fmt::format("{:<22}{}", Tr("record:"), HexBytes(record.data(), record.size()));
    const ReaderConfig written = config::SettingsToRecord(settings);
    if (written != record) {
        text += fmt::format("\n{:<22}{}", Tr("written back as:"), HexBytes(written.data(), 8));
    }
    context.out.Line(text);
    return kExitDone;
}

int RunConfigSet(Context& context, int port, bool dryRun, const std::string& profilePath) {
    const config::Settings settings =
        SettingsFromProfile(ReadFileOrFail(profilePath, Later("profile")));
    const ReaderConfig record = config::SettingsToRecord(settings);
    const std::string recordText = HexBytes(record.data(), record.size());
    if (dryRun) {
        const std::vector<uint8_t> frame = Zantor50::WriteConfigFrame(record);
        const std::string frameText = HexBytes(frame.data(), frame.size());
        context.out.Line(context.out.Json()
                             ? Json{{"record", recordText}, {"frame", frameText}}.dump(2)
                             : frameText);
        return kExitDone;
    }
    context.Connect(port);
    WriteAndVerify(context.reader, record);
    const int n = context.reader.Port();
    context.out.Line(
        context.out.Json()
            ? Json{{"port", n}, {"device", DeviceOf(n, context.setup)}, {"record", recordText}}
                  .dump(2)
            : Say("{}: wrote and read back {}", PortNameOf(n, context.setup), recordText));
    return kExitDone;
}

int RunUpgrade(Context& context, int port, const std::string& imagePath, bool yes) {
    // A given file is read and checked before any port is touched; whether it
    // is made for the reader's type can only be told once the reader is known.
    std::string file;
    std::optional<upgrade::Image> given;
    if (!imagePath.empty()) {
        file = ReadFileOrFail(imagePath, Later("image"));
        given = upgrade::Image(reinterpret_cast<const uint8_t*>(file.data()), file.size());
        CheckIntact(*given);
    }
    context.Connect(port);
    session::ReaderSession& reader = context.reader;
    const protocol::Identity before = reader.Reader();
    const std::string model = ModelName(reader);
    // With --json one object tells how it ended; the text says the same.
    Json result = ReaderObject(context);
    result.erase("firmware");
    result["firmware_before"] = before.firmwareVersion;
    const auto finish = [&](const char* outcome, std::optional<uint16_t> image,
                            const std::string& text) {
        result["firmware_after"] = reader.Reader().firmwareVersion;
        result["image"] = image ? Json(*image) : Json(nullptr);
        result["result"] = outcome;
        if (context.out.Json()) {
            context.out.Line(result.dump(2));
        } else if (!text.empty()) {
            context.out.Line(text);
        }
        return kExitDone;
    };
    const session::ImageVerdict verdict = JudgeImage(reader, given);
    const uint16_t version = verdict.imageVersion;
    switch (verdict.kind) {
        case session::ImageVerdict::Kind::NoImage:
            return finish(
                "no_image", std::nullopt,
                Say("{} (type {}): no upgrade image for this type", model, before.typeCode));
        case session::ImageVerdict::Kind::UpToDate:
            return finish("up_to_date", version,
                          Say("{} serial {:05d}: firmware {} is up to date (image {})", model,
                              before.serialNumber, before.firmwareVersion, version));
        case session::ImageVerdict::Kind::StandInOnly:
            return finish("stand_in", version,
                          Say("{} serial {:05d}: the image is a stand-in, sent only to an "
                              "emulator; give the real image with --image",
                              model, before.serialNumber));
        case session::ImageVerdict::Kind::WrongType:  // refused by JudgeImage
        case session::ImageVerdict::Kind::Due:
            break;
    }
    if (!yes) {
        if (!IsTerminal(stdin))
            throw Failure(kExitUsage, Tr("no terminal to ask: confirm with --yes"));
        context.out.Message(Say("Upgrade {} serial {:05d} on {} from firmware {} to {}? [y/N]",
                                model, before.serialNumber,
                                PortNameOf(reader.Port(), context.setup), before.firmwareVersion,
                                version));
        std::string answer;
        std::getline(std::cin, answer);
        // The answer is asked in the run's language; y and yes are taken in both.
        if (answer != "y" && answer != "Y" && answer != "yes" && answer != Tr("y") &&
            answer != Tr("yes")) {
            context.out.Message(Tr("not upgraded: nothing was sent"));
            return finish("declined", version, "");
        }
    }
    static const std::string interrupted = fmt::format(
        "zantor: {}\n", Tr("the upgrade finishes first (Ctrl-C again to stop at once)"));
    CatchInterrupts(interrupted.c_str());
    UpgradeAndVerify(reader, verdict.offer->image, CommandProgress(context.out));
    return finish("upgraded", version,
                  Say("{} serial {:05d}: firmware {} -> {}", model, before.serialNumber,
                      before.firmwareVersion, reader.Reader().firmwareVersion));
}

int RunMonitor(Context& context, int port, double durationS) {
    context.Connect(port);
    CatchInterrupts(nullptr);
    session::RawLine& line = context.reader.Raw();
    const uint64_t start = context.services->NowMs();
    const auto due = [&] {
        return durationS > 0 &&
               context.services->NowMs() - start >= static_cast<uint64_t>(durationS * 1000);
    };
    std::array<uint8_t, Zantor50::kPollSize> chunk{};
    while (Interrupts() == 0 && !due()) {
        const size_t count = line.PollBytes(chunk.data());
        if (count > 0) PrintChunk(context.out, chunk.data(), count);
        if (!line.IsOpen()) throw Failure(kExitComm, "port_lost", Tr("the reader has gone"));
        context.services->Sleep(kPollMs);
    }
    return kExitDone;
}

int RunSend(Context& context, int port, const std::vector<std::string>& commands,
            const LedBuzzer& l) {
    context.Connect(port);
    session::RawLine& line = context.reader.Raw();
    // The identification's reply is behind us; what arrives now answers the commands.
    for (const std::string& command : commands) {
        if (command == "T" || command == "M") {
            const uint8_t letter = command == "T" ? protocol::kCardInField : protocol::kIdentify;
            const protocol::FixedRequest request = protocol::RequestWithoutPayload(letter);
            PrintTraffic(context.out, "sent", request.data(), request.size(),
                         {monitor::SentLine(letter, Words(context.out))});
            if (letter == protocol::kCardInField) {
                line.SendCardInFieldRequest();
            } else {
                line.SendIdentifyRequest();
            }
        } else {
            const protocol::LFrame frame = protocol::BuildLFrame(
                l.led == "green" || l.led == "both", l.led == "red" || l.led == "both",
                static_cast<uint8_t>(l.time), SlotsToBits(l.buzzer));
            PrintTraffic(context.out, "sent", frame.data(), frame.size(),
                         {(context.out.Json() ? std::string("Rozkaz: ") : Tr("Command: ")) +
                          monitor::LFrameText(frame)});
            line.SendRaw(frame);
        }
        context.services->Sleep(kReplyWaitMs);
        // What the identification passed over comes first, as a chunk of its own.
        std::array<uint8_t, Zantor50::kPollSize> chunk{};
        for (size_t count = 0; (count = line.PollBytes(chunk.data())) > 0;) {
            PrintReplies(context.out, chunk.data(), count);
        }
    }
    return kExitDone;
}

int RunDoctor(Output& out, const PortSetup& setup) {
    const std::vector<Obstacle> obstacles = Obstacles(setup);
    if (obstacles.empty()) {
        out.Line(Tr("Nothing stands between this machine and a reader."));
        return kExitDone;
    }
    for (const Obstacle& obstacle : obstacles) {
        out.Line(fmt::format("- {}\n    {}", obstacle.what, obstacle.mend));
    }
    return kExitObstacles;
}

}  // namespace cli
