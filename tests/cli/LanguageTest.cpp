#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "Catalogue.h"
#include "CommErr.h"
#include "Commands.h"
#include "CsvLog.h"
#include "Failure.h"
#include "FakeSerialServices.h"
#include "Profile.h"
#include "SimProcess.h"
#include "Steps.h"

// zantor's language: which the user's languages choose, and every kind of
// failure in English and in Polish.
namespace {

using language::Language;

// "wanted=chosen": the user's languages, most wanted first, by colons, and the
// one chosen (pl, en, or none).
TEST(LanguageTest, FirstPolishOrEnglishOfTheUsersLanguagesWins) {
    std::istringstream rows(
        "= C= POSIX= C.UTF-8= pl_PL.UTF-8=pl PL-pl=pl en-GB@euro=en en-US=en de_DE:pl=pl "
        "fr:de= english=");
    for (std::string row; rows >> row;) {
        std::vector<std::string> wanted;
        std::istringstream items(row.substr(0, row.find('=')));
        for (std::string item; std::getline(items, item, ':');) wanted.push_back(item);
        const Language chosen = language::Preferred(wanted);
        EXPECT_EQ(chosen == Language::Polish    ? "pl"
                  : chosen == Language::English ? "en"
                                                : "",
                  row.substr(row.find('=') + 1))
            << row;
    }
}

struct Said {
    int code = 0;
    std::string kind;
    std::string message;
    bool operator==(const Said&) const = default;
};

Said From(const std::function<void()>& fail) {
    try {
        fail();
    } catch (const cli::Failure& failure) {
        return {failure.code, failure.kind, failure.what()};
    } catch (const CommErr& error) {
        return {cli::ExitCodeOf(error), cli::KindOf(error), cli::MessageOf(error)};
    }
    return {};
}

struct Row {
    const char* kind;
    int code;
    std::function<void()> fail;
    const char* english;
    const char* polish;
};

// Each kind of failure, with its kind and exit code the same in both languages.

TEST(LanguageTest, EveryFailureKindInBothLanguages) {
    // No port at all for the search; a reader double whose read-back differs.
    const simtest::TempPortFolder folder;
    cli::PortSetup setup{folder.Path(), false, {}};
    cli::Output out;
    FakeSerialServices services;
    FakeReader reader;
    reader.script = [&reader](const Bytes& request) -> std::optional<Bytes> {
        if (request[2] == 'c') reader.config[7] = 0x01;
        return std::nullopt;
    };
    services.AttachReader(1, reader);
    session::ReaderSession session(services, session::FindAgain::SamePort);
    ASSERT_TRUE(session.Connect(1));
    const Row rows[] = {
        {"usage", 2, [&] { cli::PortOf("COM33", setup); },
         "--port: COM33 is neither a COM number (1-32, COMn) nor a device path",
         "--port: COM33 nie jest ani numerem COM (1-32, COMn), ani ścieżką urządzenia"},
        {"no_reader", 3, [&] { cli::Context(out, setup).Connect(7); },
         "No reader connected. (no reader answers on COM7)",
         "Nie podłączony żaden czytnik. (żaden czytnik nie odpowiada na COM7)"},
        {"verify_failed", 5, [&] { cli::WriteAndVerify(session, config::SettingsToRecord({})); },
         "read back 01 C0 05 03 60 00 03 01 after writing 01 C0 05 03 60 00 03 00",
         "odczytano 01 C0 05 03 60 00 03 01 po zapisaniu 01 C0 05 03 60 00 03 00"},
        {"no_reply", 4, [] { throw CommErr::NoReply('c', 3); },
         "Communication error. (the reader did not answer the configuration read ('c') after 3 "
         "attempts)",
         "Błąd komunikacji. (czytnik nie odpowiedział na rozkaz 'c' (odczyt konfiguracji) po 3 "
         "próbach)"},
        {"invalid_frame", 4, [] { throw CommErr::InvalidFrame('M', 1); },
         "Communication error. (no valid reply to the identification ('M') after 1 attempt: what "
         "came back was not a whole frame)",
         "Błąd komunikacji. (brak poprawnej odpowiedzi na rozkaz 'M' (identyfikacja) po 1 próbie: "
         "nie nadeszła cała ramka)"},
        {"refused", 4, [] { throw CommErr::Refused('C', 1); },
         "Communication error. (the reader refused the configuration write ('C') with status 1)",
         "Błąd komunikacji. (czytnik odrzucił rozkaz 'C' (zapis konfiguracji) ze statusem 1)"},
        {"unexpected_reply", 4, [] { throw CommErr::UnexpectedReply('c', 7, 8); },
         "Communication error. (the reader answered the configuration read ('c') with 7 bytes "
         "instead of 8)",
         "Błąd komunikacji. (odpowiedź czytnika na rozkaz 'c' (odczyt konfiguracji) ma 7 bajtów "
         "zamiast 8)"},
        {"port_lost", 4, [] { throw CommErr::PortClosed('Y').DuringBlock(2, 14); },
         "Communication error. (the port was lost or closed during the upgrade block ('Y'), at "
         "block 2 of 14)",
         "Błąd komunikacji. (port utracony lub zamknięty, przerwany rozkaz 'Y' (blok upgrade'u), "
         "przy bloku 2 z 14)"},
        {"short_write", 4, [] { throw CommErr::ShortWrite('Z'); },
         "Communication error. (the upgrade start ('Z') could not be written whole; the port was "
         "closed)",
         "Błąd komunikacji. (rozkaz 'Z' (początek upgrade'u) nie dał się wysłać w całości; port "
         "zamknięto)"},
        {"request_too_long", 4, [] { throw CommErr::RequestTooLong('Y', 70000); },
         "Communication error. (the upgrade block ('Y') with 70000 bytes of payload does not fit "
         "a frame; nothing was sent)",
         "Błąd komunikacji. (rozkaz 'Y' (blok upgrade'u) z 70000 bajtami danych nie mieści się w "
         "ramce; nic nie wysłano)"},
        {"port_in_use", 7,
         [] {
             throw CommErr::NotOpened(
                 3, {OpenFailure::Reason::Held, "/dev/ttyUSB0", {7, "mc", "flock"}});
         },
         "COM3 (/dev/ttyUSB0) is in use by mc (pid 7, flock)",
         "COM3 (/dev/ttyUSB0) jest zajęty przez mc (pid 7, flock)"},
        // A device that is not there to look at: no mend is said.
        {"no_access", 8,
         [] {
             throw CommErr::NotOpened(3, {OpenFailure::Reason::NotPermitted, "/dev/ttyUSB99", {}});
         },
         "COM3 (/dev/ttyUSB99) cannot be opened: permission denied",
         "COM3 (/dev/ttyUSB99) nie daje się otworzyć: brak uprawnień"},
        {"device_gone", 8,
         [] {
             throw CommErr::NotOpened(3, {OpenFailure::Reason::Gone, "/dev/ttyUSB0", {}, true});
         },
         "/dev/ttyUSB0 cannot be opened: the device has gone; plug it in again (zantor ports "
         "lists the ports there are)",
         "/dev/ttyUSB0 nie daje się otworzyć: urządzenie zniknęło; podłącz je ponownie (zantor "
         "ports wypisuje istniejące porty)"},
        {"bad_profile", 6, [] { cli::SettingsFromProfile("[]"); }, "profile: not a JSON object",
         "profil: to nie jest obiekt JSON"},
        {"bad_image", 6, [] { cli::CheckIntact(upgrade::Image()); },
         "Upgrade file error. (the image fails its integrity check)",
         "Błąd pliku upgrade. (obraz nie przechodzi kontroli spójności)"},
        {"bad_file", 6, [] { cli::ReadFileOrFail("/", "profile"); },
         "cannot read the profile /: Is a directory",
         "nie można odczytać: profil /: Is a directory"},
        {"bad_log", 2, [] { cli::CsvLog("/", {"time"}); }, "cannot write the log /: Is a directory",
         "nie można zapisać dziennika /: Is a directory"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kind);
        cli::SetLanguage(Language::None);
        const Said english = From(row.fail);
        cli::SetLanguage(Language::Polish);
        const Said polish = From(row.fail);
        cli::SetLanguage(Language::None);
        EXPECT_EQ(english, (Said{row.code, row.kind, row.english})) << english.message;
        EXPECT_EQ(polish, (Said{row.code, row.kind, row.polish})) << polish.message;
    }
}

}  // namespace
