#include "Failure.h"

#include "CommErr.h"
#include "Platform.h"

namespace cli {

namespace {

const char* KindOfCode(ExitCode code) {
    switch (code) {
        case kExitUsage:
            return "usage";
        case kExitNoReader:
            return "no_reader";
        case kExitVerify:
            return "verify_failed";
        case kExitBadInput:
            return "bad_input";
        case kExitPortInUse:
            return "port_in_use";
        case kExitNoAccess:
            return "no_access";
        default:
            return "comm";
    }
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

std::string MessageOf(const CommErr& error) {
    switch (error.kind()) {
        case CommErr::Kind::PortHeld:
            return error.what();
        case CommErr::Kind::NotPermitted: {
            const std::string mend = AccessMend(error.device());
            return error.what() + (mend.empty() ? "" : "; " + mend);
        }
        case CommErr::Kind::DeviceGone:
            return std::string(error.what()) +
                   "; plug it in again (zantor ports lists the ports there are)";
        default:
            break;
    }
    return std::string("Błąd komunikacji. (") + error.what() + ")";
}

}  // namespace cli
