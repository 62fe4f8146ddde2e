#include "Failure.h"

#include <array>
#include <utility>

#include "Catalogue.h"
#include "CommErr.h"
#include "Platform.h"
#include "Protocol.h"

namespace cli {

namespace {

// The kind that an exit code stands for when a failure names none.
constexpr std::array<std::pair<ExitCode, const char*>, 6> kKindOfCode = {{
    {kExitUsage, "usage"},
    {kExitNoReader, "no_reader"},
    {kExitVerify, "verify_failed"},
    {kExitBadInput, "bad_input"},
    {kExitPortInUse, "port_in_use"},
    {kExitNoAccess, "no_access"},
}};

const char* KindOfCode(ExitCode code) {
    for (const auto& [known, kind] : kKindOfCode) {
        if (known == code) return kind;
    }
    return "comm";
}

// "the configuration write ('C')", in the run's language.
std::string CommandText(const CommErr& error) {
    const uint8_t command = error.command();
    return Say("the {} ('{}')", Tr(protocol::CommandName(command)), static_cast<char>(command));
}

// What happened, in words, from what the error carries.
std::string Detail(const CommErr& error) {
    const std::string command = CommandText(error);
    switch (error.kind()) {
        case CommErr::Kind::NoReply:
            return Say(error.attempts() == 1
                           ? Later("the reader did not answer {} after {} attempt")
                           : Later("the reader did not answer {} after {} attempts"),
                       command, error.attempts());
        case CommErr::Kind::InvalidFrame:
            return Say(error.attempts() == 1
                           ? Later("no valid reply to {} after {} attempt: what came back was "
                                   "not a whole frame")
                           : Later("no valid reply to {} after {} attempts: what came back was "
                                   "not a whole frame"),
                       command, error.attempts());
        case CommErr::Kind::Refused:
            return Say("the reader refused {} with status {}", command, error.status());
        case CommErr::Kind::UnexpectedReply:
            return Say("the reader answered {} with {} bytes instead of {}", command,
                       error.payload(), error.expected());
        case CommErr::Kind::PortClosed:
            return Say("the port was lost or closed during {}", command);
        case CommErr::Kind::ShortWrite:
            return Say("{} could not be written whole; the port was closed", command);
        case CommErr::Kind::RequestTooLong:
            return Say("{} with {} bytes of payload does not fit a frame; nothing was sent",
                       command, error.payload());
        case CommErr::Kind::PortHeld:
        case CommErr::Kind::NotPermitted:
        case CommErr::Kind::DeviceGone:
            break;
    }
    return "";
}

}  // namespace

Failure::Failure(ExitCode code, const std::string& message)
    : std::runtime_error(message), code(code), kind(KindOfCode(code)) {}

ExitCode ExitCodeOf(const CommErr& error) {
    switch (error.kind()) {
        case CommErr::Kind::PortHeld:
            return kExitPortInUse;
        case CommErr::Kind::NotPermitted:
        case CommErr::Kind::DeviceGone:
            return kExitNoAccess;
        default:
            return kExitComm;
    }
}

const char* KindOf(const CommErr& error) {
    switch (error.kind()) {
        case CommErr::Kind::NoReply:
            return "no_reply";
        case CommErr::Kind::InvalidFrame:
            return "invalid_frame";
        case CommErr::Kind::Refused:
            return "refused";
        case CommErr::Kind::UnexpectedReply:
            return "unexpected_reply";
        case CommErr::Kind::PortClosed:
            return "port_lost";
        case CommErr::Kind::ShortWrite:
            return "short_write";
        case CommErr::Kind::RequestTooLong:
            return "request_too_long";
        case CommErr::Kind::PortHeld:
            return "port_in_use";
        case CommErr::Kind::NotPermitted:
            return "no_access";
        case CommErr::Kind::DeviceGone:
            return "device_gone";
    }
    return "comm";
}

// DescribeHolder says "another program" through Tr.
[[maybe_unused]] constexpr const char* kHolderWords[] = {Later("another program")};

std::string HolderOf(const PortHolder& holder) { return DescribeHolder(holder, Tr); }

std::string MessageOf(const CommErr& error) {
    switch (error.kind()) {
        case CommErr::Kind::PortHeld:
            return Say("{} is in use by {}", error.portLabel(), HolderOf(error.holder()));
        case CommErr::Kind::NotPermitted: {
            const std::string mend = AccessMend(error.device());
            return Say("{} cannot be opened: permission denied", error.portLabel()) +
                   (mend.empty() ? "" : "; " + mend);
        }
        case CommErr::Kind::DeviceGone:
            return Say("{} cannot be opened: the device has gone", error.portLabel()) + "; " +
                   Tr("plug it in again (zantor ports lists the ports there are)");
        default:
            break;
    }
    std::string detail = Detail(error);
    if (error.block() != 0) {
        detail += Say(", at block {} of {}", error.block(), error.blocks());
    }
    return Say("Communication error. ({})", detail);
}

}  // namespace cli
