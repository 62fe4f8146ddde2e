#include "CommErr.h"

#include <utility>

#include "Protocol.h"

CommErr::CommErr(Kind kind, uint8_t command, Detail detail)
    : std::runtime_error(""), kind_(kind), command_(command), detail(std::move(detail)) {
    Describe();
}

CommErr CommErr::NoReply(uint8_t command, int attempts) {
    return {Kind::NoReply, command, {.attempts = attempts}};
}

CommErr CommErr::InvalidFrame(uint8_t command, int attempts) {
    return {Kind::InvalidFrame, command, {.attempts = attempts}};
}

CommErr CommErr::Refused(uint8_t command, uint8_t status) {
    return {Kind::Refused, command, {.status = status}};
}

CommErr CommErr::UnexpectedReply(uint8_t command, size_t payload, size_t expected) {
    return {Kind::UnexpectedReply, command, {.payload = payload, .expected = expected}};
}

CommErr CommErr::PortClosed(uint8_t command) { return {Kind::PortClosed, command, {}}; }

CommErr CommErr::ShortWrite(uint8_t command) { return {Kind::ShortWrite, command, {}}; }

CommErr CommErr::RequestTooLong(uint8_t command, size_t payload) {
    return {Kind::RequestTooLong, command, {.payload = payload}};
}

CommErr CommErr::NotOpened(int port, const OpenFailure& failure) {
    const Kind kind = failure.reason == OpenFailure::Reason::Held           ? Kind::PortHeld
                      : failure.reason == OpenFailure::Reason::NotPermitted ? Kind::NotPermitted
                                                                            : Kind::DeviceGone;
    return {kind,
            0,
            {.port = port,
             .device = failure.device,
             .holder = failure.holder,
             .byPath = failure.namedByPath}};
}

std::string PortLabel(int port, const std::string& device, bool byPath) {
    if (byPath && !device.empty()) return device;
    return "COM" + std::to_string(port) + (device.empty() ? "" : " (" + device + ")");
}

CommErr& CommErr::DuringBlock(int block, int blocks) {
    block_ = block;
    blocks_ = blocks;
    step_ = "block " + std::to_string(block) + " of " + std::to_string(blocks);
    Describe();
    return *this;
}

void CommErr::Describe() {
    const std::string command = std::string("the ") + protocol::CommandName(command_) + " ('" +
                                static_cast<char>(command_) + "')";
    const std::string attempts =
        std::to_string(detail.attempts) + (detail.attempts == 1 ? " attempt" : " attempts");
    switch (kind_) {
        case Kind::NoReply:
            text_ = "the reader did not answer " + command + " after " + attempts;
            break;
        case Kind::InvalidFrame:
            text_ = "no valid reply to " + command + " after " + attempts +
                    ": what came back was not a whole frame";
            break;
        case Kind::Refused:
            text_ =
                "the reader refused " + command + " with status " + std::to_string(detail.status);
            break;
        case Kind::UnexpectedReply:
            text_ = "the reader answered " + command + " with " + std::to_string(detail.payload) +
                    " bytes instead of " + std::to_string(detail.expected);
            break;
        case Kind::PortClosed:
            text_ = "the port was lost or closed during " + command;
            break;
        case Kind::ShortWrite:
            text_ = command + " could not be written whole; the port was closed";
            break;
        case Kind::RequestTooLong:
            text_ = command + " with " + std::to_string(detail.payload) +
                    " bytes of payload does not fit a frame; nothing was sent";
            break;
        case Kind::NotPermitted:
            text_ = portLabel() + " cannot be opened: permission denied";
            break;
        case Kind::DeviceGone:
            text_ = portLabel() + " cannot be opened: the device has gone";
            break;
        case Kind::PortHeld: {
            text_ = portLabel() + " is in use by " + DescribeHolder(detail.holder);
            break;
        }
    }
    if (!step_.empty()) text_ += ", at " + step_;
}

std::string DescribeHolder(const PortHolder& holder, const char* (*say)(const char*)) {
    const auto words = [say](const char* english) {
        return say != nullptr ? say(english) : english;
    };
    std::string about = holder.pid != 0 ? "pid " + std::to_string(holder.pid) : "";
    if (!holder.how.empty())
        about += (about.empty() ? "" : ", ") + std::string(words(holder.how.c_str()));
    const std::string program = holder.program.empty() ? words("another program") : holder.program;
    return about.empty() ? program : program + " (" + about + ")";
}
