// zantor_sim: a ZANTOR card reader on a pseudo-terminal, registered as COM n in
// the port folder. Its --help (Options.cpp) says what it does.

#include <signal.h>
#include <sys/prctl.h>

#include <cstdio>
#include <string>

#include "ComPorts.h"
#include "Emulator.h"
#include "Options.h"
#include "PortLink.h"
#include "Pty.h"

namespace {

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};

const char* EndText(EndReason reason) {
    switch (reason) {
        case EndReason::kSignal:
            return "end: signal";
        case EndReason::kInputEnded:
            return "end: standard input ended";
        case EndReason::kQuit:
            return "end: q";
        case EndReason::kVanish:
            return "vanishing";
        case EndReason::kFailure:
            return "end: failure";
    }
    return "end";
}

int Fail(const std::string& error) {
    std::fprintf(stderr, "zantor_sim: %s\n", error.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t origin = NowNs();
    SimOptions options;
    std::string message;
    switch (ParseOptions(argc, argv, options, message)) {
        case ParseOutcome::kHelp:
        case ParseOutcome::kVersion:
            std::fputs(message.c_str(), stdout);
            return 0;
        case ParseOutcome::kError:
            std::fprintf(stderr, "zantor_sim: %s\nTry 'zantor_sim --help'.\n", message.c_str());
            return 2;
        case ParseOutcome::kRun:
            break;
    }

    // The ending signals stay blocked except while the loop waits, so one that
    // comes during start-up still ends the emulator cleanly.
    sigset_t endSet;
    sigset_t waitMask;
    sigemptyset(&endSet);
    for (int sig : kEndSignals) sigaddset(&endSet, sig);
    sigprocmask(SIG_BLOCK, &endSet, &waitMask);
    for (int sig : kEndSignals) sigdelset(&waitMask, sig);
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : kEndSignals) sigaction(sig, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // A line is on time to the microsecond; the default slack of 50 us on every
    // timed wait would be counted against the program.
    prctl(PR_SET_TIMERSLACK, 1);

    std::string error;
    PortLink link(options.folder.empty() ? comports::UserPortFolder() : options.folder,
                  options.port);
    if (!link.Claim(error)) return Fail(error);
    Pty pty;
    if (!pty.Open(error)) return Fail(error);
    if (!link.Publish(pty.SlavePath(), error)) return Fail(error);

    std::printf("zantor_sim: COM%d -> %s (ZANTOR-%d, serial %u, firmware %u)\n", options.port,
                pty.SlavePath().c_str(), (options.typeCode & 0x3FF) % 100, options.serialNumber,
                options.firmwareVersion);
    std::fflush(stdout);

    Emulator emulator(options, pty, origin);
    const EndReason reason = emulator.Run(waitMask);
    emulator.TraceOut().Note(NowNs(), EndText(reason));
    if (reason == EndReason::kVanish) {
        // As a reader pulled off the line: the device goes first, then its name.
        pty.Close();
        link.Remove();
        return 0;
    }
    link.Remove();
    pty.Close();
    return reason == EndReason::kFailure ? 1 : 0;
}
