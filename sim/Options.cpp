#include "Options.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string_view>

#include "UpgradeSession.h"

namespace {

const char kHelp[] =
    R"(Usage: zantor_sim --port N [options]

A stand-in for a ZANTOR card reader on a pseudo-terminal. It registers as COM N
by a link com<N> -> /dev/pts/K in the port folder, answers the reader's commands
as a reader on a 19200 baud 8-N-1 line would, and presents cards. It never opens
a real serial port.

Port:
  --port N               COM number to register, 1 to 32 (required)
  --folder DIR           port folder (default /tmp/zantor_cfg-<uid>/, created
                         with mode 0700 when missing; it must be a directory of
                         this user without group or other permissions)
  --no-stdin             do not read standard input; needed in the background
                         of a shell, which stops a reader of the terminal.
                         Otherwise the end of standard input ends the emulator

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

Identity and configuration:
  --type N               type code (default 1064); the model shown is
                         (N AND 0x3FF) mod 100, e.g. ZANTOR-40
  --serial N             serial number (default 313)
  --firmware N           firmware version (default 7)
  --config HEX           8-byte configuration, 16 hex digits, spaces allowed
                         (default "01 C0 05 03 60 00 03 00")
  --image FILE           the upgrade image the reader expects: the header, every
                         block and the per-serial record for --serial must be
                         this file's, else the command is answered with status
                         2 and the upgrade dropped (default: any bytes)
  Numbers are decimal or 0x-prefixed hexadecimal, 0 to 65535.

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

Cards:
  --card HEX             card number, 1 to 8 bytes, most significant first,
                         spaces allowed (default 01 23 45 67 89)
  --card-every SECONDS   present the card periodically, 0.05 to 86400 s
  A line "c" on standard input presents the card, "c HEX" presents that number
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

Line:
  --no-pacing            send and receive without the line's timing
  --reply-delay MS       from a request's last byte to the start of its reply
                         (default 2)
  --reply-delay-for C=MS the reply delay for command letter C (repeatable)
  With pacing every byte takes 10 bit times (about 0.52 ms) in both directions:
  a request counts as received when its last byte could have arrived on the
  line, and output leaves at the line rate, scheduled on a monotonic clock.

Trace:
  --trace                print on standard output, flushed line by line, every
                         frame received and everything sent, in hex:
                           "   1.234 RX 05 00 4D A1 F4"
                           "   1.239 TX 0B 00 CD 28 04 39 01 07 00 CD 88"
                         The time is in seconds since the start, to the
                         millisecond: for RX when the frame's last byte
                         arrived, for TX when the first byte starts on the line.
                         Bytes that form no frame show as "DROP xx ...", other
                         events as "-- text". Flood bytes are not traced.

Faults:
  --vanish-after N       once N frames have been received and the last reply
                         has left, close the pseudo-terminal, remove the link
                         and exit with status 0
  --ignore-request K     leave the K-th received frame (1-based) unanswered;
                         repeatable, or a comma-separated list
  --status C=S           answer command letter C with status S instead of its
                         own; a status other than 0 means the command had no
                         effect. For 'M', 'c' and 'T' the reply becomes a
                         one-byte frame with S (repeatable)
  --interleave N         send N card frames (0xC1, whatever the mode) before
                         each reply
  --flood                send random bytes continuously at the line rate (also
                         with --no-pacing) whenever nothing else is being sent
  --flood-after N        the same, from the moment the N-th frame has been
                         received (its reply still goes out whole first)
  --help                 show this text
)";

bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 20) return false;
    uint64_t result = 0;
    for (char ch : text) {
        int digit;
        if (ch >= '0' && ch <= '9') {
            digit = ch - '0';
        } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(ch))) {
            digit = std::tolower(static_cast<unsigned char>(ch)) - 'a' + 10;
        } else {
            return false;
        }
        if (result > (max - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) {
            return false;
        }
        result = result * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    value = result;
    return true;
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

// "C=VALUE" with C a command letter.
bool ParseCommandValue(std::string_view text, uint64_t max, uint8_t& command, uint64_t& value) {
    if (text.size() < 3 || text[1] != '=' || !std::isalpha(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    command = static_cast<uint8_t>(text[0]);
    return ParseUnsigned(text.substr(2), max, value);
}

bool ParseSeconds(const std::string& text, double& seconds) {
    if (text.empty()) return false;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value) || value < 0.05 || value > 86400) return false;
    seconds = value;
    return true;
}

struct OptionRule {
    const char* name;
    bool takesValue;
    // Returns false when the value is not acceptable.
    std::function<bool(SimOptions&, const std::string&)> apply;
};

bool SetU16(uint16_t& field, const std::string& value) {
    uint64_t number;
    if (!ParseUnsigned(value, 0xFFFF, number)) return false;
    field = static_cast<uint16_t>(number);
    return true;
}

const std::vector<OptionRule>& Rules() {
    static const std::vector<OptionRule> rules = {
        {"port", true,
         [](SimOptions& o, const std::string& v) {
             uint64_t n;
             if (!ParseUnsigned(v, 32, n) || n < 1) return false;
             o.port = static_cast<int>(n);
             return true;
         }},
        {"folder", true,
         [](SimOptions& o, const std::string& v) {
             o.folder = v;
             return !v.empty();
         }},
        {"no-stdin", false,
         [](SimOptions& o, const std::string&) {
             o.readStdin = false;
             return true;
         }},
        {"type", true, [](SimOptions& o, const std::string& v) { return SetU16(o.typeCode, v); }},
        {"serial", true,
         [](SimOptions& o, const std::string& v) { return SetU16(o.serialNumber, v); }},
        {"firmware", true,
         [](SimOptions& o, const std::string& v) { return SetU16(o.firmwareVersion, v); }},
        {"config", true,
         [](SimOptions& o, const std::string& v) {
             std::vector<uint8_t> bytes;
             if (!ParseHexBytes(v, bytes) || bytes.size() != o.config.size()) return false;
             std::copy(bytes.begin(), bytes.end(), o.config.begin());
             return true;
         }},
        {"image", true,
         [](SimOptions& o, const std::string& v) {
             o.imagePath = v;
             return !v.empty();
         }},
        {"card", true,
         [](SimOptions& o, const std::string& v) { return ParseCardNumber(v, o.card); }},
        {"card-every", true,
         [](SimOptions& o, const std::string& v) { return ParseSeconds(v, o.cardEverySeconds); }},
        {"no-pacing", false,
         [](SimOptions& o, const std::string&) {
             o.pacing = false;
             return true;
         }},
        {"reply-delay", true,
         [](SimOptions& o, const std::string& v) {
             uint64_t ms;
             if (!ParseUnsigned(v, 60000, ms)) return false;
             o.replyDelayMs = static_cast<uint32_t>(ms);
             return true;
         }},
        {"reply-delay-for", true,
         [](SimOptions& o, const std::string& v) {
             uint8_t command;
             uint64_t ms;
             if (!ParseCommandValue(v, 60000, command, ms)) return false;
             o.replyDelayFor[command] = static_cast<uint32_t>(ms);
             return true;
         }},
        {"trace", false,
         [](SimOptions& o, const std::string&) {
             o.trace = true;
             return true;
         }},
        {"vanish-after", true,
         [](SimOptions& o, const std::string& v) {
             return ParseUnsigned(v, UINT32_MAX, o.vanishAfter) && o.vanishAfter > 0;
         }},
        {"ignore-request", true,
         [](SimOptions& o, const std::string& v) {
             size_t start = 0;
             while (start <= v.size()) {
                 const size_t comma = std::min(v.find(',', start), v.size());
                 uint64_t k;
                 if (!ParseUnsigned(std::string_view(v).substr(start, comma - start), UINT32_MAX,
                                    k) ||
                     k == 0) {
                     return false;
                 }
                 o.ignoreRequests.insert(k);
                 start = comma + 1;
             }
             return true;
         }},
        {"status", true,
         [](SimOptions& o, const std::string& v) {
             uint8_t command;
             uint64_t status;
             if (!ParseCommandValue(v, 255, command, status)) return false;
             o.statusFor[command] = static_cast<uint8_t>(status);
             return true;
         }},
        {"interleave", true,
         [](SimOptions& o, const std::string& v) {
             uint64_t n;
             if (!ParseUnsigned(v, 100, n)) return false;
             o.interleave = static_cast<unsigned>(n);
             return true;
         }},
        {"flood", false,
         [](SimOptions& o, const std::string&) {
             o.flood = true;
             return true;
         }},
        {"flood-after", true,
         [](SimOptions& o, const std::string& v) {
             uint64_t n;
             if (!ParseUnsigned(v, 1000000, n) || n == 0) return false;
             o.floodAfter = static_cast<unsigned>(n);
             return true;
         }},
    };
    return rules;
}

}  // namespace

ParseOutcome ParseOptions(int argc, const char* const* argv, SimOptions& options,
                          std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return ParseOutcome::kHelp;
        if (arg.rfind("--", 0) != 0) {
            error = "unexpected argument '" + arg + "'";
            return ParseOutcome::kError;
        }
        std::string name = arg.substr(2);
        std::string value;
        bool hasValue = false;
        if (const size_t eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
        const OptionRule* rule = nullptr;
        for (const OptionRule& candidate : Rules()) {
            if (name == candidate.name) rule = &candidate;
        }
        if (rule == nullptr) {
            error = "unknown option '--" + name + "'";
            return ParseOutcome::kError;
        }
        if (rule->takesValue && !hasValue) {
            if (i + 1 >= argc) {
                error = "option '--" + name + "' needs a value";
                return ParseOutcome::kError;
            }
            value = argv[++i];
        } else if (!rule->takesValue && hasValue) {
            error = "option '--" + name + "' takes no value";
            return ParseOutcome::kError;
        }
        if (!rule->apply(options, value)) {
            error = "bad value '" + value + "' for '--" + name + "'";
            return ParseOutcome::kError;
        }
    }
    if (options.port == 0) {
        error = "--port N is required";
        return ParseOutcome::kError;
    }
    if (!options.imagePath.empty()) {
        // A folder opens as a stream too, and only its first read fails.
        std::error_code ignored;
        std::ifstream file(options.imagePath, std::ios::binary);
        const bool readable =
            file.is_open() && std::filesystem::is_regular_file(options.imagePath, ignored);
        if (readable) options.image.assign(std::istreambuf_iterator<char>(file), {});
        if (!readable || file.bad()) {
            error = "cannot read the image '" + options.imagePath + "'";
            return ParseOutcome::kError;
        }
        if (!IsImageLayout(options.image)) {
            error = "'" + options.imagePath + "' is not an upgrade image";
            return ParseOutcome::kError;
        }
    }
    return ParseOutcome::kRun;
}

const char* HelpText() { return kHelp; }

bool ParseCardNumber(const std::string& text, std::vector<uint8_t>& card) {
    std::vector<uint8_t> bytes;
    if (!ParseHexBytes(text, bytes) || bytes.size() > 8) return false;
    card = bytes;
    return true;
}
