#pragma once

#include <signal.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FrameReceiver.h"
#include "Line.h"
#include "Options.h"
#include "Pty.h"
#include "ReaderState.h"
#include "Trace.h"

// Why the emulator's loop ended.
enum class EndReason { kSignal, kInputEnded, kQuit, kVanish, kFailure };

// The emulator's event loop: bytes from the program over the paced line into the
// reader, the reader's output back at the line rate, cards from the keyboard and
// the card timer, and the end conditions.
class Emulator {
public:
    Emulator(const SimOptions& options, Pty& pty, int64_t origin);

    // Runs until a signal, the end of standard input, "q" or --vanish-after.
    // waitMask is the signal mask in force while waiting: the ending signals are
    // blocked everywhere else, so that none is lost between checks.
    EndReason Run(const sigset_t& waitMask);

    const Trace& TraceOut() const { return trace; }

private:
    void Receive(int64_t now);
    void HandleFrame(const ReceivedFrame& frame);
    void Deliver(const Response& response, int64_t at);
    void PresentDueCards(int64_t now);
    void ReadMaster(int64_t now);
    void ReadStdin();
    void HandleKeyLine(const std::string& line);
    bool VanishDue() const;
    std::optional<int64_t> NextWake() const;

    const SimOptions& options;
    Pty& pty;
    Trace trace;
    ReaderState reader;
    InboundLine inbound;
    FrameReceiver receiver;
    Transmitter transmitter;
    std::optional<int64_t> nextCardAt;
    int64_t cardPeriod = 0;
    bool stdinOpen;
    std::string stdinLine;
    std::optional<EndReason> end;
    // Until then the master, which reported a hang-up, is not waited on.
    int64_t hungUpUntil = 0;
};

// The monotonic clock in nanoseconds.
int64_t NowNs();

// Handler of the ending signals (SIGINT, SIGTERM, SIGHUP): ends Run.
void OnEndSignal(int signal);
