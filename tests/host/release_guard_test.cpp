#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/host_choice.h"
#include "update/release_guard.h"
#include "update/source_choice.h"

namespace {

std::string Judge(const ReleaseManifest& m, const SerialRecord& accepted, int64_t now = 0) {
    std::string error = "untouched";
    const bool ok = JudgeManifestFreshness(m, accepted, now, error);
    EXPECT_EQ(ok, error == "untouched") << error;
    return error;
}

}  // namespace

TEST(ReleaseGuard, ADamagedRecordCountsAsNone) {
    const SerialRecord sound = ParseSerialRecord(FormatSerialRecord(1765314000));
    EXPECT_TRUE(sound.known);
    EXPECT_EQ(sound.serial, 1765314000);
    for (const std::string& text :
         {std::string(""), std::string("1765314000 1765314000"), std::string("1765314000 1765314001\n"),
          std::string("1765314000\n"), std::string("17653 1765314000\n"), std::string(22, '\0'),
          std::string("-5 -5\n"), std::string(" \n")}) {
        EXPECT_FALSE(ParseSerialRecord(text).known) << text;
    }
}

// Freeze: an expiry is honoured with a day of clock difference; no record, no limit.
TEST(ReleaseGuard, AnExpiredManifestIsRefusedAfterADaysAllowance) {
    ReleaseManifest m;
    m.hasExpires = true;
    m.expires = 2147483648;  // 2038-01-19T03:14:08Z
    EXPECT_EQ(Judge(m, SerialRecord(), m.expires + kClockAllowanceSeconds), "untouched");
    EXPECT_EQ(Judge(m, SerialRecord(), m.expires + kClockAllowanceSeconds + 1),
              "manifest wygasl (byl wazny do 2038-01-19 03:14:08 UTC)");
    m.hasExpires = false;
    EXPECT_EQ(Judge(m, SerialRecord(), 4107542400), "untouched");
}

// Wrong clocks, the signer's or the user's, may weaken the guard but never lock anyone out:
// what is kept is never above the updater's clock nor below what was already counted, and a
// record that no clock of this updater could have kept counts as the moment it was written.
TEST(ReleaseGuard, NoClockLocksTheInstallationOut) {
    const int64_t now = 1796000000;
    const int64_t year = 365 * 86400;
    auto record = [](int64_t serial) {
        SerialRecord r;
        r.known = true;
        r.serial = serial;
        return r;
    };
    auto manifest = [](int64_t serial) {
        ReleaseManifest m;
        m.hasSerial = true;
        m.serial = serial;
        return m;
    };
    // Returns the serial kept, or -1 when the record stays as it is.
    auto keep = [](const ReleaseManifest& m, const SerialRecord& stored, const SerialRecord& counted,
                   int64_t at) {
        int64_t kept = -2;
        return SerialToKeep(m, stored, counted, at, kept) ? kept : -1;
    };

    // A true signer and a true user clock: the serial as it is, each time it rises.
    EXPECT_EQ(keep(manifest(now - 60), record(now - 9000), record(now - 9000), now), now - 60);
    EXPECT_EQ(keep(manifest(now - 60), record(now - 60), record(now - 60), now), -1);
    EXPECT_EQ(keep(manifest(now - 60), SerialRecord(), SerialRecord(), now), now - 60);
    EXPECT_EQ(keep(ReleaseManifest(), SerialRecord(), SerialRecord(), now), -1);

    // Signed a year fast: taken, but the clock is kept; the next release, signed with a true
    // clock after this pass, is taken, and the release before both stays refused.
    const SerialRecord before = record(now - 9000);
    EXPECT_EQ(Judge(manifest(now + year), before, now), "untouched");
    EXPECT_EQ(keep(manifest(now + year), before, before, now), now);
    EXPECT_EQ(Judge(manifest(now + 600), record(now), now + 900), "untouched");
    EXPECT_EQ(keep(manifest(now + 600), record(now), record(now), now + 900), now + 600);
    EXPECT_EQ(Judge(manifest(now - 9000), record(now), now + 900),
              "manifest starszy niz juz przyjety (numer wydania 1795991000, przyjety byl 1796000000)");

    // Never below what was counted: a record up to a day ahead of a clock set back stays.
    EXPECT_EQ(CountedSerialRecord(record(now + 86400), now, now).serial, now + 86400);
    EXPECT_EQ(keep(manifest(now + 90000), record(now + 86400), record(now + 86400), now), -1);

    // Kept far ahead by an older updater: counted as the moment it was written, so a manifest
    // without a serial and the release before stay refused, a later one is taken and kept.
    const SerialRecord ahead = record(now + year);
    const SerialRecord written = CountedSerialRecord(ahead, now - 3600, now);
    EXPECT_TRUE(written.known);
    EXPECT_EQ(written.serial, now - 3600);
    EXPECT_EQ(CountedSerialRecord(record(now + 86401), now - 3600, now).serial, now - 3600);
    EXPECT_EQ(Judge(ReleaseManifest(), written, now),
              "manifest bez numeru wydania (przyjety byl juz numer 1795996400)");
    EXPECT_EQ(Judge(manifest(now - 7200), written, now),
              "manifest starszy niz juz przyjety (numer wydania 1795992800, przyjety byl 1795996400)");
    EXPECT_EQ(Judge(manifest(now - 60), written, now), "untouched");
    EXPECT_EQ(keep(manifest(now - 60), ahead, written, now), now - 60);
    // ... and when the moment is as far ahead (the user's clock was fast then) or unknown,
    // only a manifest without a serial is refused.
    for (int64_t writtenAt : {now + year, int64_t(-1)}) {
        const SerialRecord none = CountedSerialRecord(ahead, writtenAt, now);
        EXPECT_TRUE(none.known);
        EXPECT_EQ(Judge(manifest(1), none, now), "untouched");
        EXPECT_EQ(keep(manifest(1), ahead, none, now), 1);
        EXPECT_NE(Judge(ReleaseManifest(), none, now), "untouched");
    }

    // A user's clock a year slow: true serials are ahead of it; they are taken and the clock
    // kept, a little higher each pass, the serial itself once the clock passes it.
    const int64_t slow = now - year;
    const SerialRecord kept = CountedSerialRecord(record(now - 9000), now - 9000, slow);
    EXPECT_EQ(Judge(manifest(now), kept, slow), "untouched");
    EXPECT_EQ(keep(manifest(now), record(now - 9000), kept, slow), slow);
    EXPECT_EQ(keep(manifest(now), record(slow), record(slow), slow + 60), slow + 60);
    // A user's clock a year fast: the cap never binds and the serial is kept as it is.
    EXPECT_EQ(keep(manifest(now), record(now - 9000), record(now - 9000), now + year), now);
}

// Every refusal goes on to the next server while one is left; when none is, the refusal
// that got furthest is shown, the first asked among equals.
TEST(ReleaseGuard, EveryRefusedServerGivesWayToTheNextAndTheFurthestRefusalIsShown) {
    const ManifestAttempt down{0, false}, missing{404, false}, unsigned_{200, false}, stale{200, true};
    const auto after = [](std::vector<ManifestAttempt> attempts, size_t hosts) {
        const HostStep step = AfterManifestRefusal(attempts, hosts);
        return std::to_string(step.askNext) + " " + std::to_string(step.shown);
    };
    for (const ManifestAttempt& first : {down, missing, unsigned_, stale}) {
        EXPECT_EQ(after({first}, 3), "1 0");
        EXPECT_EQ(after({first}, 1), "0 0");  // one server: its refusal, as it always was
        EXPECT_EQ(after({first, first}, 2), "0 0");
    }
    EXPECT_EQ(after({down, stale, down}, 3), "0 1");
    EXPECT_EQ(after({down, down, missing}, 3), "0 2");
    EXPECT_EQ(after({missing, down, down}, 3), "0 0");
    EXPECT_EQ(after({missing, unsigned_, missing}, 3), "0 1");
    EXPECT_EQ(after({unsigned_, stale, stale}, 3), "0 1");
    EXPECT_EQ(after({stale, unsigned_, missing, down}, 4), "0 0");
}

// A release file goes from place to place in order after any failure but a local one, kept
// bytes are continued only at the place they came from, and when no place is left the
// failure that got furthest is shown, the first among equals.
TEST(ReleaseGuard, EveryFailedPlaceGivesWayToTheNextAndKeptBytesStayWithTheirPlace) {
    using F = FileFault;
    const std::vector<std::string> places = {"https://upd.example.com", "https://m1.example.net/r",
                                             "https://m2.example.net:8443"};
    const auto next = [&](std::vector<FileFault> faults, const std::string& kept, size_t count = 3) {
        const SourceStep step =
            NextFileSource(faults, std::vector<std::string>(places.begin(), places.begin() + count), kept);
        return step.tryNext ? "ask " + std::to_string(step.source) + (step.resume ? " resume" : " start")
                            : "fail " + std::to_string(step.shown);
    };
    EXPECT_EQ(next({}, ""), "ask 0 start");
    EXPECT_EQ(next({}, places[0]), "ask 0 resume");
    EXPECT_EQ(next({}, places[1]), "ask 0 start");  // bytes of another place: from the start
    for (FileFault fault : {F::NoAnswer, F::Status, F::Body, F::Digest}) {
        EXPECT_EQ(next({fault}, ""), "ask 1 start");
        EXPECT_EQ(next({fault}, places[1]), "ask 1 resume");
        EXPECT_EQ(next({fault}, places[0]), "ask 1 start");
        EXPECT_EQ(next({fault}, "", 1), "fail 0");  // no mirror: the server's failure, as always
        EXPECT_EQ(next({fault, fault, fault}, ""), "fail 0");
        // A full disk is no server's fault: no other place is asked.
        EXPECT_EQ(next({fault, F::Local}, ""), "fail 1");
    }
    EXPECT_EQ(next({F::Local}, ""), "fail 0");
    EXPECT_EQ(next({F::NoAnswer, F::Digest, F::Status}, ""), "fail 1");
    EXPECT_EQ(next({F::NoAnswer, F::Status, F::Status}, ""), "fail 1");
    EXPECT_EQ(next({F::Body, F::NoAnswer, F::Digest}, ""), "fail 2");
    EXPECT_EQ(next({F::Status, F::Body, F::NoAnswer}, places[2]), "fail 1");

    // What a failed download's cause and status make of it.
    EXPECT_EQ(FaultOfDownload(DownloadCause::Transport, 0), F::NoAnswer);
    EXPECT_EQ(FaultOfDownload(DownloadCause::Transport, 200), F::Body);  // too slow, cut
    EXPECT_EQ(FaultOfDownload(DownloadCause::EndedEarly, 206), F::Body);
    EXPECT_EQ(FaultOfDownload(DownloadCause::PastSize, 200), F::Body);
    EXPECT_EQ(FaultOfDownload(DownloadCause::Status, 404), F::Status);
    EXPECT_EQ(FaultOfDownload(DownloadCause::WriteFailed, 200), F::Local);
    EXPECT_EQ(FaultOfDownload(DownloadCause::WriteFailed, 0), F::Local);
}
