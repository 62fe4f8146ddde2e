#include "Options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>

#include "UpgradeSession.h"

namespace {

constexpr char kAbout[] =
    R"(A stand-in for a ZANTOR card reader on a pseudo-terminal. It registers as COM N
by a link com<N> -> /dev/pts/K in the port folder, answers the reader's commands
as a reader on a 19200 baud 8-N-1 line would, and presents cards. It never opens
a real serial port.
)";

// What the options of a group do together, shown after them.
constexpr char kPortNotes[] = R"(
When the pseudo-terminal is configured (raw, 8-N-1) and linked, the emulator
prints one line on standard output and flushes it, e.g.
  zantor_sim: COM3 -> /dev/pts/5 (ZANTOR-40, serial 313, firmware 7)
A lock on com<N>.pid beside the link (holding the emulator's process id) keeps a
second emulator from taking the same number while this one runs; a link without
a running owner (dangling, stale, a /dev/null fence) is replaced, anything that
is not a link is left alone. The emulator keeps its own descriptor of the
pseudo-terminal open, so a program may close and reopen the port at will.
What the reader sends while no program has the port open is lost, as on a line
nobody listens to, and what a program leaves unread when it closes the port is
discarded, so the next program starts clean. The link and com<N>.pid are
removed on SIGINT, SIGTERM or SIGHUP, at the end of standard input, and when
--vanish-after fires. Exit status: 0 after a normal end, 1 when the port could
not be registered or the pseudo-terminal failed, 2 for a usage error.
)";

constexpr char kIdentityNotes[] = R"(  Numbers are decimal or 0x-prefixed hexadecimal, 0 to 65535.

Commands answered. A request is a frame: total length (16-bit LE), command,
payload, CRC-16/MODBUS (LE). A frame with a bad CRC, an unknown command or a
payload of the wrong size is ignored, as by a real reader; so are bytes that
form no frame. Replies carry the command with bit 7 set:
  'M'  no payload  -> 0xCD: type code, serial number, firmware (16-bit LE each)
  'c'  no payload  -> 0xE3: the 8 configuration bytes
  'C'  12 bytes    -> 0xC3 status 0 when bytes 8-11 are the CRC-32/MPEG-2 of
                      bytes 0-7 (LE); the 8 bytes become the configuration.
                      Status 1 otherwise, configuration unchanged
  'Z'  16 bytes    -> 0xDA status 0 for a header of the reader's own type code
                      (bytes 0-1, most significant first): an upgrade to the
                      version in bytes 2-3 with the block count N in bytes 4-5
  'Y'  522 bytes   -> 0xD9 status 0 for block index (bytes 0-1) 0, 1, ... N-1,
                      each in turn
  'y'  8 bytes     -> 0xF9 status 0 once all N blocks have come
  'z'  no payload  -> 0xFA status 0 once the record has come ('y'); the firmware
                      version becomes the version of the header
  An upgrade command out of place (a block before the header, out of order or
  past N, a record before the last block, 'z' before 'y') is answered with
  status 1 and drops the upgrade: only a new 'Z' starts again, and the version
  stays. The command just taken may come again unchanged (its reply was lost)
  and is answered 0 again.
  'T'  no payload  -> 0xD4 with one byte: 1 while a card is in the field (for
                      one second after it was presented), else 0
  'L'  3 bytes     -> 0xCC status 0 (LEDs, time and buzzer only in the trace)
)";

constexpr char kCardNotes[] =
    R"(  A line "c" on standard input presents the card, "c HEX" presents that number
  once, "q" ends the emulator.
  What is sent follows the current configuration, byte 0 bits 0-1 (mode):
  0 binary: the frame 0xC1 with the card number as payload, e.g.
            0A 00 C1 01 23 45 67 89 <CRC-16 LE>
  1 ASCII, after the options in byte 4:
     bits 0-2  number size: 0 the card's own length, 1 to 5 for 4 to 8 bytes
               (6 and 7 as 8); the number keeps its low-order bytes, or gets
               leading zero bytes
     bits 5,4  0,x: hexadecimal, two upper-case digits per byte
               1,0: decimal whole number, zero-padded to the digits of the
                    largest number of that size (4 bytes: 10 digits, 5: 13,
                    6: 15, 7: 17, 8: 20)
               1,1: decimal per byte, three digits per byte
     bit 6     CR LF after the number
     bit 7     STX first and ETX last
     The default configuration (byte 4 = 60) sends "0004886718345" CR LF.
  2 Wiegand and 3 (invalid): nothing on the serial line.
)";

constexpr char kLineNotes[] =
    R"(  With pacing every byte takes 10 bit times (about 0.52 ms) in both directions:
  a request counts as received when its last byte could have arrived on the
  line, and output leaves at the line rate, scheduled on a monotonic clock.
)";

// The usage line, the description, then each group's options followed by its notes.
class HelpLayout : public CLI::Formatter {
public:
    std::map<std::string, std::string> notes;

    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
        std::string help = "Usage: zantor_sim --port N [options]\n\n" + app->get_description();
        for (const std::string& group : app->get_groups()) {
            help += "\n" + group + ":\n";
            for (const CLI::Option* option : app->get_options(
                     [&group](const CLI::Option* o) { return o->get_group() == group; })) {
                help += make_option(option, false);
            }
            help += notes.at(group);
        }
        return help;
    }
    std::string make_option_name(const CLI::Option* option, bool) const override {
        return option->get_name();
    }
    std::string make_option_opts(const CLI::Option* option) const override {
        return option->get_type_size() == 0 ? "" : " " + option->get_type_name();
    }
};

// Decimal or 0x-prefixed hexadecimal; CLI11's own reading takes a leading 0 for octal.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    return error == std::errc() && stop == end && value <= max;
}

// Checks a number and hands it on in decimal, which CLI11 then reads into the field.
CLI::Validator Number(uint64_t min, uint64_t max) {
    const auto check = [min, max](std::string& text) {
        uint64_t value = 0;
        if (!ParseNumber(text, max, value) || value < min) {
            return "'" + text + "' is not a number from " + std::to_string(min) + " to " +
                   std::to_string(max);
        }
        text = std::to_string(value);
        return std::string();
    };
    return CLI::Validator(check, "");
}

bool ParseHexBytes(std::string_view text, std::vector<uint8_t>& bytes) {
    std::string digits;
    for (char ch : text) {
        if (ch == ' ' || ch == '\t') continue;
        if (!std::isxdigit(static_cast<unsigned char>(ch))) return false;
        digits += ch;
    }
    if (digits.empty() || digits.size() % 2 != 0) return false;
    bytes.clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return true;
}

// "C=VALUE", C a command letter, once per use: a value for one command.
template <typename Value>
CLI::Option* AddPerCommand(CLI::App& app, const std::string& name, std::map<uint8_t, Value>& map,
                           uint64_t max, const std::string& help) {
    const auto apply = [&map, name, max](const std::vector<std::string>& items) {
        for (const std::string& item : items) {
            uint64_t value = 0;
            if (item.size() < 3 || item[1] != '=' ||
                !std::isalpha(static_cast<unsigned char>(item[0])) ||
                !ParseNumber(std::string_view(item).substr(2), max, value)) {
                throw CLI::ValidationError(name, "'" + item + "' is not C=N with C a command " +
                                                     "letter and N 0 to " + std::to_string(max));
            }
            map[static_cast<uint8_t>(item[0])] = static_cast<Value>(value);
        }
    };
    return app.add_option_function<std::vector<std::string>>(name, apply, help)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
}

void LoadImage(const std::string& path, std::vector<uint8_t>& image) {
    // A folder opens as a stream too, and only its first read fails.
    std::error_code ignored;
    std::ifstream file(path, std::ios::binary);
    const bool readable = file.is_open() && std::filesystem::is_regular_file(path, ignored);
    if (readable) image.assign(std::istreambuf_iterator<char>(file), {});
    if (!readable || file.bad()) {
        throw CLI::ValidationError("--image", "cannot read the image '" + path + "'");
    }
    if (!IsImageLayout(image)) {
        throw CLI::ValidationError("--image", "'" + path + "' is not an upgrade image");
    }
}

}  // namespace

ParseOutcome ParseOptions(int argc, const char* const* argv, SimOptions& o, std::string& message) {
    CLI::App app{kAbout, "zantor_sim"};
    const auto layout = std::make_shared<HelpLayout>();
    layout->column_width(25);
    app.formatter(layout);
    // A repeated option counts as given last, except those that collect; a flag
    // is not turned off by a value (--trace=false).
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.option_defaults()->disable_flag_override();
    const auto group = [&app, &layout](const char* name, const char* notes) {
        app.option_defaults()->group(name);
        layout->notes[name] = notes;
    };
    const auto notEmpty = [](const std::string& text) {
        return text.empty() ? std::string("an empty value") : std::string();
    };

    group("Port", kPortNotes);
    app.add_option("--port", o.port, "COM number to register, 1 to 32 (required)")
        ->required()
        ->type_name("N")
        ->transform(Number(1, 32));
    app.add_option("--folder", o.folder,
                   "port folder (default /tmp/zantor_cfg-<uid>/, created\n"
                   "with mode 0700 when missing; it must be a directory of\n"
                   "this user without group or other permissions)")
        ->type_name("DIR")
        ->check(notEmpty);
    app.add_flag("--no-stdin{false}", o.readStdin,
                 "do not read standard input; needed in the background\n"
                 "of a shell, which stops a reader of the terminal.\n"
                 "Otherwise the end of standard input ends the emulator");

    group("Identity and configuration", kIdentityNotes);
    app.add_option("--type", o.typeCode,
                   "type code (default 1064); the model shown is\n"
                   "(N AND 0x3FF) mod 100, e.g. ZANTOR-40")
        ->type_name("N")
        ->transform(Number(0, 0xFFFF));
    app.add_option("--serial", o.serialNumber, "serial number (default 313)")
        ->type_name("N")
        ->transform(Number(0, 0xFFFF));
    app.add_option("--firmware", o.firmwareVersion, "firmware version (default 7)")
        ->type_name("N")
        ->transform(Number(0, 0xFFFF));
    app.add_option_function<std::string>(
           "--config",
           [&o](const std::string& text) {
               std::vector<uint8_t> bytes;
               if (!ParseHexBytes(text, bytes) || bytes.size() != o.config.size()) {
                   throw CLI::ValidationError("--config", "'" + text + "' is not 8 bytes in hex");
               }
               std::copy(bytes.begin(), bytes.end(), o.config.begin());
           },
           "8-byte configuration, 16 hex digits, spaces allowed\n"
           "(default \"01 C0 05 03 60 00 03 00\")")
        ->type_name("HEX");
    app.add_option_function<std::string>(
           "--image",
           [&o](const std::string& path) {
               o.imagePath = path;
               LoadImage(path, o.image);
           },
           "the upgrade image the reader expects: the header, every\n"
           "block and the per-serial record for --serial must be\n"
           "this file's, else the command is answered with status\n"
           "2 and the upgrade dropped (default: any bytes)")
        ->type_name("FILE");

    group("Cards", kCardNotes);
    app.add_option_function<std::string>(
           "--card",
           [&o](const std::string& text) {
               if (!ParseCardNumber(text, o.card)) {
                   throw CLI::ValidationError("--card",
                                              "'" + text + "' is not 1 to 8 bytes in hex");
               }
           },
           "card number, 1 to 8 bytes, most significant first,\n"
           "spaces allowed (default 01 23 45 67 89)")
        ->type_name("HEX");
    app.add_option("--card-every", o.cardEverySeconds,
                   "present the card periodically, 0.05 to 86400 s")
        ->type_name("SECONDS")
        ->check([](const std::string& text) {
            char* end = nullptr;
            const double seconds = std::strtod(text.c_str(), &end);
            // Written so that NaN fails too.
            return *end == '\0' && seconds >= 0.05 && seconds <= 86400
                       ? std::string()
                       : "'" + text + "' is not a number of seconds from 0.05 to 86400";
        });

    group("Line", kLineNotes);
    app.add_flag("--no-pacing{false}", o.pacing, "send and receive without the line's timing");
    app.add_option("--reply-delay", o.replyDelayMs,
                   "from a request's last byte to the start of its reply\n(default 2)")
        ->type_name("MS")
        ->transform(Number(0, 60000));
    AddPerCommand(app, "--reply-delay-for", o.replyDelayFor, 60000,
                  "the reply delay for command letter C (repeatable)")
        ->type_name("C=MS");

    group("Trace", "");
    app.add_flag("--trace", o.trace,
                 "print on standard output, flushed line by line, every\n"
                 "frame received and everything sent, in hex:\n"
                 "  \"   1.234 RX 05 00 4D A1 F4\"\n"
                 "  \"   1.239 TX 0B 00 CD 28 04 39 01 07 00 CD 88\"\n"
                 "The time is in seconds since the start, to the\n"
                 "millisecond: for RX when the frame's last byte\n"
                 "arrived, for TX when the first byte starts on the line.\n"
                 "Bytes that form no frame show as \"DROP xx ...\", other\n"
                 "events as \"-- text\". Flood bytes are not traced.");

    group("Faults", "");
    app.add_option("--vanish-after", o.vanishAfter,
                   "once N frames have been received and the last reply\n"
                   "has left, close the pseudo-terminal, remove the link\n"
                   "and exit with status 0")
        ->type_name("N")
        ->transform(Number(1, UINT32_MAX));
    app.add_option("--ignore-request", o.ignoreRequests,
                   "leave the K-th received frame (1-based) unanswered;\n"
                   "repeatable, or a comma-separated list")
        ->type_name("K")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false)
        ->delimiter(',')
        ->transform(Number(1, UINT32_MAX));
    AddPerCommand(app, "--status", o.statusFor, 255,
                  "answer command letter C with status S instead of its\n"
                  "own; a status other than 0 means the command had no\n"
                  "effect. For 'M', 'c' and 'T' the reply becomes a\n"
                  "one-byte frame with S (repeatable)")
        ->type_name("C=S");
    app.add_option("--interleave", o.interleave,
                   "send N card frames (0xC1, whatever the mode) before\neach reply")
        ->type_name("N")
        ->transform(Number(0, 100));
    app.add_option_function<std::string>(
           "--before-reply",
           [&o](const std::string& text) {
               if (!ParseHexBytes(text, o.beforeReply) || o.beforeReply.size() > 32) {
                   throw CLI::ValidationError("--before-reply",
                                              "'" + text + "' is not 1 to 32 bytes in hex");
               }
           },
           "send these bytes just before each reply, as noise\n"
           "on the line would (\"20 00\")")
        ->type_name("HEX");
    app.add_flag("--echo", o.echo,
                 "give back every request whole before its reply, as\n"
                 "a half-duplex line that echoes does");
    app.add_flag("--flood", o.flood,
                 "send random bytes continuously at the line rate (also\n"
                 "with --no-pacing) whenever nothing else is being sent");
    app.add_option("--flood-after", o.floodAfter,
                   "the same, from the moment the N-th frame has been\n"
                   "received (its reply still goes out whole first)")
        ->type_name("N")
        ->transform(Number(1, 1000000));
    // Wherever they stand, as soon as they are read.
    app.set_help_flag();
    app.add_flag_callback(
           "-h,--help", [] { throw CLI::CallForHelp(); }, "show this text")
        ->trigger_on_parse();
    app.set_version_flag("--version", std::string("zantor_sim ") + ZANTOR_VERSION,
                         "show the emulator's version")
        ->trigger_on_parse();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        message = app.help();
        return ParseOutcome::kHelp;
    } catch (const CLI::CallForVersion& version) {
        message = version.what() + std::string("\n");
        return ParseOutcome::kVersion;
    } catch (const CLI::ParseError& error) {
        message = error.what();
        return ParseOutcome::kError;
    }
    return ParseOutcome::kRun;
}

bool ParseCardNumber(const std::string& text, std::vector<uint8_t>& card) {
    std::vector<uint8_t> bytes;
    if (!ParseHexBytes(text, bytes) || bytes.size() > 8) return false;
    card = bytes;
    return true;
}
