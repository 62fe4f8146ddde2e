#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "SerialServices.h"

// How a port is named to the user: "COM3 (/dev/ttyUSB0)", "COM3" when it leads
// nowhere known, and the path alone for a device the user named by its path,
// whose number is only a stand-in.
std::string PortLabel(int port, const std::string& device, bool byPath);

// Thrown when an exchange with the reader failed; handlers catch it by type.
// It says what happened, so that a front end can tell more than that it failed:
// which command, and whether the reader was silent, garbled, refused, or the
// port was lost or held by another program. It is a std::runtime_error, so that
// a handler of last resort sees its text too.
// Who holds a port, as every message says it: "picocom (pid 1234, lock file)",
// "another program (exclusive)". Its words go through say, so that zantor can
// put them in its language; as they are without it.
std::string DescribeHolder(const PortHolder& holder, const char* (*say)(const char*) = nullptr);

class CommErr : public std::runtime_error {
public:
    enum class Kind {
        NoReply,          // nothing came back, however often the request was sent
        InvalidFrame,     // what came back never became a valid frame
        Refused,          // a status reply other than 0
        UnexpectedReply,  // a valid reply of another size than the command's
        PortClosed,       // no port was open, or it was closed during the exchange
        ShortWrite,       // the request could not be written whole; the port was closed
        RequestTooLong,   // the payload does not fit a frame; nothing was sent
        PortHeld,         // another program holds the port; nothing was written
        NotPermitted,     // the user may not open the port; nothing was written
        DeviceGone,       // the port's device is no longer there
    };

    static CommErr NoReply(uint8_t command, int attempts);
    static CommErr InvalidFrame(uint8_t command, int attempts);
    static CommErr Refused(uint8_t command, uint8_t status);
    static CommErr UnexpectedReply(uint8_t command, size_t payload, size_t expected);
    static CommErr PortClosed(uint8_t command);
    static CommErr ShortWrite(uint8_t command);
    static CommErr RequestTooLong(uint8_t command, size_t payload);
    // A port that could not be opened, for a reason of its own (held,
    // not permitted, gone), told as the services told it.
    static CommErr NotOpened(int port, const OpenFailure& failure);

    // The block of an upgrade at which it happened ("block 5 of 14"), added by
    // the procedure on its way out; block() is 0 when it happened elsewhere.
    CommErr& DuringBlock(int block, int blocks);

    Kind kind() const { return kind_; }
    uint8_t command() const { return command_; }  // 0 for a port not opened
    int attempts() const { return detail.attempts; }
    uint8_t status() const { return detail.status; }
    size_t payload() const { return detail.payload; }
    size_t expected() const { return detail.expected; }
    int port() const { return detail.port; }
    const std::string& device() const { return detail.device; }
    const PortHolder& holder() const { return detail.holder; }
    // "COM3 (/dev/ttyUSB0)", or the path alone for a device the user named.
    std::string portLabel() const { return PortLabel(detail.port, detail.device, detail.byPath); }
    const std::string& step() const { return step_; }
    int block() const { return block_; }
    int blocks() const { return blocks_; }

    // One line in plain words, e.g. "the reader refused the configuration write
    // ('C') with status 1".
    const char* what() const noexcept override { return text_.c_str(); }

private:
    // What a kind of failure tells beyond its command; the rest stays empty.
    struct Detail {
        int attempts = 0;
        uint8_t status = 0;
        size_t payload = 0;   // bytes received, or bytes asked to be sent
        size_t expected = 0;  // bytes the command's reply carries
        int port = 0;
        std::string device{};
        PortHolder holder{};
        bool byPath = false;
    };

    CommErr(Kind kind, uint8_t command, Detail detail);
    void Describe();

    Kind kind_;
    uint8_t command_;
    Detail detail;
    std::string step_;
    int block_ = 0;
    int blocks_ = 0;
    std::string text_;
};
