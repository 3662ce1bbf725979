// The lines of the update pass's steps: a step's name and its fields as name=value.
#include "update/pass_log_texts.h"

#include "update/updater_state.h"

namespace {

const char* PhaseName(int32_t phase) {
    static const char* const kNames[] = {"Checking",    "UpToDate", "UpdateAvailable",
                                         "Downloading", "Updated",  "Failed"};
    return (phase >= Checking && phase <= Failed) ? kNames[phase] : "?";
}

const char* ReasonText(InstallReason reason) {
    switch (reason) {
        case InstallReason::SkippedPresent:
            return "pomijam (tylko gdy brak, plik jest)";
        case InstallReason::UpToDate:
            return "aktualny";
        case InstallReason::Missing:
            return "instaluje (brak pliku)";
        case InstallReason::Unreadable:
            return "instaluje (nie moge odczytac)";
        case InstallReason::DigestDiffers:
            return "instaluje (inna suma)";
    }
    return "?";
}

const char* OfferStepText(OfferStep step) {
    switch (step) {
        case OfferStep::UpToDate:
            return "aktualna";
        case OfferStep::Install:
            return "oferuje";
        case OfferStep::NotYetHere:
            return "jeszcze nie tutaj";
        case OfferStep::Halted:
            return "wstrzymane";
        case OfferStep::NoNewerInChannel:
            return "kanal bez nowszej";
    }
    return "?";
}

std::string YesNo(bool value) {
    return value ? "tak" : "nie";
}

}  // namespace

std::string PassStartText(const std::string& botVersion, bool autoMode, const std::string& folder) {
    return "start" + LogField("wersja", botVersion) + LogField("tryb", autoMode ? "auto" : "reczny") +
           LogField("folder", folder);
}

std::string DecisionText(const std::string& name, InstallReason reason) {
    return "plik" + LogField("nazwa", name) + LogField("decyzja", ReasonText(reason));
}

std::string DownloadText(const DownloadRecord& record) {
    std::string text = "pobieranie" + LogField("nazwa", record.name) + LogField("status", record.status) +
                       LogField("bajty", record.bytes) + LogField("czas_ms", record.elapsedMs) +
                       LogField("od_bajtu", record.resumedFrom);
    text = record.error.empty() ? text : text + LogField("blad", record.error);
    return record.source.empty() ? text : text + LogField("zrodlo", record.source);
}

std::string VerifyText(const std::string& name,
                       bool matches,
                       const std::string& digest,
                       const std::string& source) {
    const std::string text = "weryfikacja" + LogField("nazwa", name) +
                             LogField("suma", matches ? "zgodna" : "niezgodna") + LogField("sha256", digest);
    return source.empty() ? text : text + LogField("zrodlo", source);
}

std::string MirrorSkippedText(const std::string& value) {
    return "mirror_pominiety" + LogField("wartosc", value);
}

std::string MoveText(const std::string& name, const std::string& target, bool moved) {
    return "przeniesienie" + LogField("nazwa", name) + LogField("cel", target) +
           LogField("udane", YesNo(moved));
}

std::string WaitText(uint32_t elapsedMs, bool confirmed, bool autoMode) {
    return "czekanie_koniec" + LogField("czas_ms", elapsedMs) + LogField("potwierdzone", YesNo(confirmed)) +
           LogField("tryb", autoMode ? "auto" : "reczny");
}

std::string BotSeenText(bool running) {
    return std::string("bot") + LogField("dziala", YesNo(running));
}

std::string TerminationText(int32_t ended) {
    return "bot_zakonczony" + LogField("procesy", static_cast<uint64_t>(ended < 0 ? 0 : ended));
}

std::string StagedUpdaterText(bool staged) {
    return "nowy_aktualizator" + LogField("VorlanePatcher.new.exe", YesNo(staged));
}

std::string OfferText(int32_t perMille,
                      bool bucketKnown,
                      int32_t bucket,
                      const std::string& channel,
                      bool critical,
                      OfferStep step) {
    return "wydanie" + LogField("udzial_promile", static_cast<uint64_t>(perMille < 0 ? 0 : perMille)) +
           LogField("koszyk", bucketKnown ? std::to_string(bucket) : std::string("-")) +
           LogField("kanal", channel) + LogField("krytyczne", YesNo(critical)) +
           LogField("decyzja", OfferStepText(step));
}

std::string InstallRecordText(const std::string& name, const std::string& value, bool done) {
    return "zapis" + LogField("plik", name) + LogField("wartosc", value) + LogField("udany", YesNo(done));
}

std::string SerialRecordText(int64_t serial, bool written) {
    return "numer_wydania" + LogField("numer", serial < 0 ? 0 : static_cast<uint64_t>(serial)) +
           LogField("zapisany", YesNo(written));
}

std::string PassEndText(int32_t phase, const std::string& status, const std::string& detail) {
    std::string text =
        std::string("koniec_przebiegu") + LogField("faza", PhaseName(phase)) + LogField("status", status);
    return detail.empty() ? text : text + LogField("szczegoly", detail);
}

std::string BotLaunchText(bool started, const std::string& detail) {
    std::string text = "uruchomienie_bota" + LogField("udane", YesNo(started));
    return detail.empty() ? text : text + LogField("szczegoly", detail);
}

std::string ExitText(int32_t phase) {
    return std::string("wyjscie") + LogField("faza", PhaseName(phase)) +
           LogField("kod", static_cast<uint64_t>(0));
}
