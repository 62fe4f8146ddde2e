#include "Emulator.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

volatile sig_atomic_t endSignal = 0;

constexpr int64_t kNsPerMs = 1000000;
// A partial frame followed by this much silence can no longer complete: the
// program sends each request in one piece and waits over 60 ms before sending
// it again.
constexpr int64_t kIdleResetNs = 20 * kNsPerMs;
// A master that reports a hang-up is asked again only after this pause: with
// nobody on the slave it would report one at once on every wait.
constexpr int64_t kHangUpPauseNs = 10 * kNsPerMs;
// The last byte of a transmission ends the program's wait for it, so the
// emulator's own lateness in waking would be counted against the program: it
// wakes this much early for that byte and stays awake until the byte is due.
constexpr int64_t kWakeEarlyNs = 300000;

}  // namespace

int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void OnEndSignal(int signal) { endSignal = signal; }

Emulator::Emulator(const SimOptions& options, Pty& pty, int64_t origin)
    : options(options),
      pty(pty),
      trace(options.trace, origin),
      reader(options),
      inbound(options.pacing),
      transmitter(options.pacing, options.flood, trace),
      stdinOpen(options.readStdin) {
    if (options.cardEverySeconds > 0) {
        cardPeriod = std::llround(options.cardEverySeconds * 1e9);
        nextCardAt = origin + cardPeriod;
    }
}

void Emulator::Deliver(const Response& response, int64_t at) {
    for (const std::string& note : response.notes) trace.Note(at, note);
    for (const Transmission& send : response.sends) {
        if (!transmitter.Queue(send)) trace.Note(at, "output buffer full: transmission lost");
    }
}

bool Emulator::VanishDue() const {
    return options.vanishAfter != 0 && reader.FramesReceived() >= options.vanishAfter &&
           !transmitter.Busy();
}

void Emulator::HandleFrame(const ReceivedFrame& frame) {
    trace.Bytes(frame.at, "RX", frame.bytes.data(), frame.bytes.size());
    if (options.vanishAfter != 0 && reader.FramesReceived() >= options.vanishAfter) {
        trace.Note(frame.at, "not answered: vanishing");
        return;
    }
    Deliver(reader.OnFrame(frame.bytes, frame.at), frame.at);
    if (options.floodAfter != 0 && reader.FramesReceived() == options.floodAfter) {
        trace.Note(frame.at, "flood begins");
        transmitter.StartFlood();
    }
}

void Emulator::Receive(int64_t now) {
    std::vector<ReceivedFrame> frames;
    std::vector<uint8_t> dropped;
    auto absorb = [&](int64_t at) {
        if (!dropped.empty()) trace.Bytes(at, "DROP", dropped.data(), dropped.size());
        for (const ReceivedFrame& frame : frames) HandleFrame(frame);
        dropped.clear();
        frames.clear();
    };
    inbound.Deliver(now, [&](uint8_t byte, int64_t at) {
        receiver.Push(byte, at, frames, dropped);
        absorb(at);
    });
    if (receiver.HasPartial() && inbound.Empty() && now - receiver.LastByteAt() >= kIdleResetNs) {
        // Frames found only now were recognised only now: their replies are timed
        // from here, not from their last byte.
        const int64_t idleAt = receiver.LastByteAt() + kIdleResetNs;
        receiver.Idle(frames, dropped);
        for (ReceivedFrame& frame : frames) frame.at = std::max(frame.at, idleAt);
        absorb(idleAt);
    }
}

void Emulator::PresentDueCards(int64_t now) {
    while (nextCardAt && *nextCardAt <= now) {
        Deliver(reader.PresentCard(options.card, *nextCardAt), *nextCardAt);
        *nextCardAt += cardPeriod;
        // After a long stall the missed cards are not made up for.
        if (*nextCardAt <= now) *nextCardAt = now + cardPeriod;
    }
}

void Emulator::ReadMaster(int64_t now) {
    uint8_t buffer[1024];
    while (!inbound.Full()) {
        const ssize_t size = read(pty.Master(), buffer, sizeof buffer);
        if (size > 0) {
            inbound.Arrive(buffer, static_cast<size_t>(size), now);
            continue;
        }
        if (size < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (size < 0 && errno == EIO) {
            // The last program has closed the port since the watch was read.
            hungUpUntil = now + kHangUpPauseNs;
            return;
        }
        std::fprintf(stderr, "zantor_sim: the pseudo-terminal failed: %s\n",
                     size < 0 ? std::strerror(errno) : "end of file");
        end = EndReason::kFailure;
        return;
    }
}

void Emulator::HandleKeyLine(const std::string& raw) {
    std::string line = raw;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    while (!line.empty() && line.front() == ' ') line.erase(line.begin());
    if (line.empty()) return;
    if (line == "q") {
        end = EndReason::kQuit;
        return;
    }
    if (line[0] == 'c' && (line.size() == 1 || line[1] == ' ')) {
        std::vector<uint8_t> card = options.card;
        if (line.size() > 1 && !ParseCardNumber(line.substr(2), card)) {
            std::fprintf(stderr, "zantor_sim: not a card number of 1 to 8 bytes: %s\n",
                         line.c_str() + 2);
            return;
        }
        const int64_t now = NowNs();
        Deliver(reader.PresentCard(card, now), now);
        return;
    }
    std::fprintf(stderr,
                 "zantor_sim: keys: \"c\" presents the card, \"c HEX\" another "
                 "number, \"q\" ends\n");
}

void Emulator::ReadStdin() {
    char buffer[512];
    const ssize_t size = read(STDIN_FILENO, buffer, sizeof buffer);
    if (size < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (size <= 0) {
        end = EndReason::kInputEnded;
        return;
    }
    for (ssize_t i = 0; i < size && !end; ++i) {
        if (buffer[i] == '\n') {
            HandleKeyLine(stdinLine);
            stdinLine.clear();
        } else if (stdinLine.size() < 256) {
            stdinLine += buffer[i];
        }
    }
}

std::optional<int64_t> Emulator::NextWake() const {
    std::optional<int64_t> wake;
    auto consider = [&wake](std::optional<int64_t> at) {
        if (at && (!wake || *at < *wake)) wake = at;
    };
    consider(transmitter.NextDue());
    consider(inbound.NextArrival());
    if (receiver.HasPartial() && inbound.Empty()) {
        consider(receiver.LastByteAt() + kIdleResetNs);
    }
    consider(nextCardAt);
    return wake;
}

EndReason Emulator::Run(const sigset_t& waitMask) {
    for (;;) {
        const int64_t now = NowNs();
        // Opens and closes first: a request can only come from a program that
        // has already opened the port, so its reply is never thrown away.
        // A program that has just opened the port is listened to at once, even
        // if the last one's close made the master report a hang-up a moment ago.
        if (pty.HandleWatchEvents()) hungUpUntil = 0;
        Receive(now);
        PresentDueCards(now);
        if (!transmitter.Service(pty.Master(), pty.Listened(), now)) {
            std::fprintf(stderr, "zantor_sim: writing to the pseudo-terminal failed: %s\n",
                         std::strerror(errno));
            return EndReason::kFailure;
        }
        if (VanishDue()) return EndReason::kVanish;
        if (endSignal != 0) return EndReason::kSignal;
        if (end) return *end;

        // The master is waited on only while somebody has the port open; the
        // watch tells when that begins.
        const bool hungUp = now < hungUpUntil;
        const bool readMaster = pty.Listened() && !inbound.Full() && !hungUp;
        pollfd fds[3] = {{readMaster ? pty.Master() : -1, POLLIN, 0},
                         {pty.WatchFd(), POLLIN, 0},
                         {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        std::optional<int64_t> wake = NextWake();
        if (hungUp && pty.Listened() && (!wake || hungUpUntil < *wake)) wake = hungUpUntil;
        if (wake && transmitter.NextEndsTransmission() && wake == transmitter.NextDue()) {
            *wake -= kWakeEarlyNs;  // the timeout below is never negative
        }
        timespec timeout{};
        if (wake) {
            const int64_t left = std::max<int64_t>(*wake - now, 0);
            timeout.tv_sec = left / 1000000000;
            timeout.tv_nsec = left % 1000000000;
        }
        const int ready = ppoll(fds, 3, wake ? &timeout : nullptr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "zantor_sim: ppoll: %s\n", std::strerror(errno));
            return EndReason::kFailure;
        }
        const int64_t after = NowNs();
        if (fds[0].revents & POLLIN) {
            ReadMaster(after);
        } else if (fds[0].revents & POLLNVAL) {
            std::fprintf(stderr, "zantor_sim: the pseudo-terminal is gone\n");
            return EndReason::kFailure;
        } else if (fds[0].revents & (POLLERR | POLLHUP)) {
            hungUpUntil = after + kHangUpPauseNs;
        }
        if (fds[2].revents & POLLNVAL) {
            stdinOpen = false;
        } else if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            ReadStdin();
        }
    }
}
