// The rules a transfer is judged by while it runs: the pace floor and the bound on its
// length, what an answer's body is, and when kept bytes may be continued.
#include <gtest/gtest.h>

#include "net/download_answer.h"
#include "net/resume_rules.h"
#include "net/transfer_pace.h"

namespace {

// Feeds `bytesPerArrival` every `gapMs` from tick `start` until the watch gives up, `limitMs`
// pass or `fileBytes` (when not 0: the transfer's bound is that file's) have arrived; returns
// the ms after which it gave up, or -1.
int64_t GivesUpAfter(uint32_t start,
                     uint32_t gapMs,
                     uint64_t bytesPerArrival,
                     uint64_t limitMs,
                     uint64_t fileBytes = 0) {
    const TransferPaceLimits limits;
    PaceWatch watch = StartPaceWatch(start, fileBytes ? TransferBoundMs(fileBytes, limits) : 0);
    uint64_t total = 0;
    for (uint64_t elapsed = gapMs; elapsed <= limitMs; elapsed += gapMs) {
        total += bytesPerArrival;
        if (!KeepsPace(watch, static_cast<uint32_t>(start + elapsed), total, limits)) {
            return static_cast<int64_t>(elapsed);
        }
        if (fileBytes && total >= fileBytes) {
            break;
        }
    }
    return -1;
}

FetchHeaders Answer(uint32_t status, const std::string& contentRange = "", const std::string& etag = "") {
    FetchHeaders headers;
    headers.status = status;
    headers.contentRange = contentRange;
    headers.etag = etag;
    return headers;
}

}  // namespace

TEST(TransferPace, ASlowLinkKeepsGoingAndATrickleEndsWithinTwoMinutes) {
    // 1 KB/s, one 1 KiB read a second, for an hour; also across the tick count's wrap.
    EXPECT_EQ(GivesUpAfter(0, 1000, 1024, 3600000), -1);
    EXPECT_EQ(GivesUpAfter(0xFFFF0000u, 1000, 1024, 3600000), -1);
    // Bursts with long quiet gaps (a mobile link between cells) keep going too.
    EXPECT_EQ(GivesUpAfter(0, 45000, 32768, 3600000), -1);
    // A byte every 40 s (each read within the 60 s receive time-out) or every second.
    EXPECT_EQ(GivesUpAfter(0, 40000, 1, 3600000), 80000);
    EXPECT_EQ(GivesUpAfter(0xFFFFFF00u, 1000, 1, 3600000), 60000);
    // A byte every 59 s, the slowest a read lets through: still within two minutes.
    EXPECT_LE(GivesUpAfter(0, 59000, 1, 3600000), 120000);
    // A good start does not buy a later trickle more than one window.
    const TransferPaceLimits limits;
    PaceWatch watch = StartPaceWatch(0);
    EXPECT_TRUE(KeepsPace(watch, 61000, 50u << 20, limits));
    EXPECT_TRUE(KeepsPace(watch, 100000, (50u << 20) + 1, limits));
    EXPECT_FALSE(KeepsPace(watch, 122000, (50u << 20) + 2, limits));
}

TEST(TransferPace, ATransferEndsAtItsBoundAndASteadyLinkThatCanFinishNeverTripsIt) {
    const TransferPaceLimits limits;
    const uint64_t file = 6u << 20;
    // 6 MiB at 2 KiB/s is 3072 s; five minutes more are allowed.
    EXPECT_EQ(TransferBoundMs(file, limits), 3372000u);
    EXPECT_EQ(TransferBoundMs(1000, limits), 300000u + 488u);
    // 140 B/s keeps the floor (8400 bytes a minute) and would hold the file for 12.5 hours:
    // it ends at the bound, within one arrival.
    const int64_t ended = GivesUpAfter(0, 1000, 140, 13 * 3600000ull, file);
    EXPECT_GT(ended, 3372000);
    EXPECT_LE(ended, 3373000);
    // The same across the tick count's wrap, with arrivals a minute apart.
    const int64_t wrapped = GivesUpAfter(0xFFF00000u, 60000, 8400, 13 * 3600000ull, file);
    EXPECT_GT(wrapped, 3372000);
    EXPECT_LE(wrapped, 3432000);
    // Steady links that keep 2 KiB/s on average finish: in even reads, and in bursts of
    // 300 KiB every two minutes (a mobile link between cells).
    EXPECT_EQ(GivesUpAfter(0, 1000, 2048, 13 * 3600000ull, file), -1);
    EXPECT_EQ(GivesUpAfter(0xFFFFF000u, 120000, 300u << 10, 13 * 3600000ull, file), -1);
    EXPECT_EQ(GivesUpAfter(0, 500, 1024, 13 * 3600000ull, 20u << 20), -1);
    // A small file on a 1 KB/s link finishes well within the allowance.
    EXPECT_EQ(GivesUpAfter(0, 1000, 1000, 3600000, 200000), -1);
    // Without a bound (the manifest's own), only the floor applies.
    EXPECT_EQ(GivesUpAfter(0, 1000, 140, 13 * 3600000ull), -1);
    // A size no link brings does not overflow into a short bound.
    EXPECT_GT(TransferBoundMs(UINT64_MAX, limits), UINT64_MAX / 2048 * 999);
    TransferPaceLimits byteASecond;
    byteASecond.averageFloorBytesPerSecond = 1;
    EXPECT_EQ(TransferBoundMs(UINT64_MAX / 100, byteASecond), UINT64_MAX);
}

TEST(DownloadAnswer, TheAnswerDecidesTheBodyAndOnlyStaleKeptBytesAreDropped) {
    const DownloadAsk whole{200000, 0, ""};
    const DownloadAsk rest{200000, 60000, "\"v1\""};
    EXPECT_FALSE(AsksForRest(whole));
    EXPECT_TRUE(AsksForRest(rest));
    // Kept bytes without a validator, or as many as the file (or more), are not continued.
    EXPECT_FALSE(AsksForRest(DownloadAsk{200000, 60000, ""}));
    EXPECT_FALSE(AsksForRest(DownloadAsk{200000, 200000, "\"v1\""}));
    EXPECT_FALSE(AsksForRest(DownloadAsk{0, 60000, "\"v1\""}));

    // The whole file, asked for or not: written from its start, never past its size.
    for (const DownloadAsk& ask : {whole, rest}) {
        const AnswerPlan plan = PlanAnswer(ask, Answer(200));
        EXPECT_EQ(plan.body, AnswerBody::WholeFile);
        EXPECT_EQ(plan.writeFrom, 0u);
        EXPECT_EQ(plan.bodyLimit, 200000u);
        EXPECT_FALSE(plan.keepsKept);
    }
    // The exact rest: after the kept bytes, stopped at the manifest's size.
    AnswerPlan plan = PlanAnswer(rest, Answer(206, "bytes 60000-199999/200000"));
    EXPECT_EQ(plan.body, AnswerBody::Rest);
    EXPECT_EQ(plan.writeFrom, 60000u);
    EXPECT_EQ(plan.bodyLimit, 140000u);
    EXPECT_TRUE(plan.keepsKept);
    // Another part, or the range refused: the file changed, ask for the whole one.
    for (const FetchHeaders& answer :
         {Answer(206, "bytes 0-199999/200000"), Answer(206, "bytes 60000-99999/200000"),
          Answer(206, "bytes 60000-249999/250000"), Answer(416, "bytes */50000")}) {
        plan = PlanAnswer(rest, answer);
        EXPECT_EQ(plan.body, AnswerBody::AskWhole) << answer.status << " " << answer.contentRange;
        EXPECT_FALSE(plan.keepsKept);
    }
    // Any other status (or none): nothing of the body is taken; while continuing the kept
    // bytes wait for a later attempt, a transient error does not cost them.
    for (const uint32_t status : {0u, 404u, 500u, 503u, 204u, 302u, 206u, 416u}) {
        plan = PlanAnswer(whole, Answer(status, "bytes 0-199999/200000"));
        EXPECT_EQ(plan.body, AnswerBody::NotTheFile) << status;
        EXPECT_EQ(plan.bodyLimit, 0u);
        EXPECT_FALSE(plan.keepsKept);
        if (status != 206 && status != 416) {
            plan = PlanAnswer(rest, Answer(status));
            EXPECT_EQ(plan.body, AnswerBody::NotTheFile) << status;
            EXPECT_EQ(plan.bodyLimit, 0u);
            EXPECT_TRUE(plan.keepsKept) << status;
        }
    }

    // How the transfer ended decides what stays.
    const auto judge = [](const DownloadAsk& ask, const FetchHeaders& answer, const TransferEnd& end) {
        return JudgeTransfer(ask, PlanAnswer(ask, answer), answer, end);
    };
    const FetchHeaders restAnswer = Answer(206, "bytes 60000-199999/200000", "\"v1\"");
    DownloadVerdict v = judge(rest, restAnswer, {true, 140000, false, true});
    EXPECT_EQ(v.outcome, DownloadOutcome::Complete);
    v = judge(whole, Answer(200, "", "\"v2\""), {true, 200000, false, true});
    EXPECT_EQ(v.outcome, DownloadOutcome::Complete);
    // Cut (Wine: a short body; Windows: a failed read): the bytes so far are kept under the
    // strong ETag, or under the validator the server matched in If-Range.
    v = judge(rest, restAnswer, {true, 40000, false, true});
    EXPECT_EQ(v.outcome, DownloadOutcome::KeepBytes);
    EXPECT_EQ(v.cause, DownloadCause::EndedEarly);
    EXPECT_EQ(v.keptBytes, 100000u);
    EXPECT_EQ(v.validator, "\"v1\"");
    v = judge(rest, Answer(206, "bytes 60000-199999/200000", "W/\"weak\""), {false, 40000, false, true});
    EXPECT_EQ(v.outcome, DownloadOutcome::KeepBytes);
    EXPECT_EQ(v.cause, DownloadCause::Transport);
    EXPECT_EQ(v.validator, "\"v1\"");
    // A whole file cut under a weak ETag only, or before its first byte: nothing to keep.
    v = judge(whole, Answer(200, "", "W/\"weak\""), {true, 50000, false, true});
    EXPECT_EQ(v.outcome, DownloadOutcome::Drop);
    EXPECT_EQ(v.cause, DownloadCause::EndedEarly);
    v = judge(whole, Answer(200, "", "\"v2\""), {false, 0, false, true});
    EXPECT_EQ(v.outcome, DownloadOutcome::Drop);
    EXPECT_EQ(v.cause, DownloadCause::Transport);
    // Past the size, or not written: nothing is kept, whatever the validator.
    v = judge(rest, restAnswer, {true, 140000, true, true});
    EXPECT_EQ(v.outcome, DownloadOutcome::Drop);
    EXPECT_EQ(v.cause, DownloadCause::PastSize);
    v = judge(rest, restAnswer, {true, 70000, false, false});
    EXPECT_EQ(v.outcome, DownloadOutcome::Drop);
    EXPECT_EQ(v.cause, DownloadCause::WriteFailed);
    // An error status: the status is the cause; the kept bytes stay only while continuing.
    v = judge(rest, Answer(503), {true, 0, false, true});
    EXPECT_EQ(v.outcome, DownloadOutcome::KeepEarlier);
    EXPECT_EQ(v.cause, DownloadCause::Status);
    v = judge(rest, Answer(0), {false, 0, false, true});
    EXPECT_EQ(v.outcome, DownloadOutcome::KeepEarlier);
    EXPECT_EQ(v.cause, DownloadCause::Transport);
    v = judge(whole, Answer(404), {true, 0, false, true});
    EXPECT_EQ(v.outcome, DownloadOutcome::Drop);
    EXPECT_EQ(v.cause, DownloadCause::Status);
}

TEST(ResumeRules, OnlyTheExactRestUnderAStrongValidatorIsContinued) {
    EXPECT_TRUE(RangeContinues("bytes 1000-4999/5000", 1000, 5000));
    for (const char* wrong :
         {"bytes 0-4999/5000", "bytes 1000-3999/5000", "bytes 1000-4999/*", "bytes 1000-4999/6000",
          "bytes 1000-/5000", "bytes -4999/5000", "bytes=1000-4999/5000", "bytes 1000-4999/5000 ",
          "bytes +1000-4999/5000", "", "items 1000-4999/5000", "bytes 1000-18446744073709551616/5000"}) {
        EXPECT_FALSE(RangeContinues(wrong, 1000, 5000)) << wrong;
    }
    EXPECT_FALSE(RangeContinues("bytes 0--1/0", 0, 0));

    EXPECT_EQ(ResumeValidator("\"abc\"", "Tue, 01 Dec 2026 10:00:00 GMT"), "\"abc\"");
    EXPECT_EQ(ResumeValidator("W/\"abc\"", "Tue, 01 Dec 2026 10:00:00 GMT"), "Tue, 01 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(ResumeValidator("W/\"abc\"", ""), "");

    PartialRecord record{"data/b dat.bin", 200000, std::string(64, 'a'), 65536, "\"5f-30d40\"",
                         "https://m1.example.net:8443/rel"};
    const std::string text = FormatPartialRecord(record);
    PartialRecord parsed;
    ASSERT_TRUE(ParsePartialRecord(text, parsed));
    EXPECT_EQ(parsed.name, record.name);
    EXPECT_EQ(parsed.size, record.size);
    EXPECT_EQ(parsed.sha256, record.sha256);
    EXPECT_EQ(parsed.bytes, record.bytes);
    EXPECT_EQ(parsed.validator, record.validator);
    EXPECT_EQ(parsed.source, record.source);
    // A damaged or cut record is no record: the partial is then not continued.
    for (size_t cut = 0; cut < text.size(); ++cut) {
        EXPECT_FALSE(ParsePartialRecord(text.substr(0, cut), parsed)) << cut;
    }
    std::string bad = text;
    bad.replace(bad.find("bytes=65536"), 11, "bytes=-6553");
    EXPECT_FALSE(ParsePartialRecord(bad, parsed));
    EXPECT_FALSE(ParsePartialRecord(text + "x\n", parsed));
    // Bytes whose place is not known are not continued anywhere.
    bad = text;
    bad.replace(bad.find("source=") + 7, record.source.size(), "");
    EXPECT_FALSE(ParsePartialRecord(bad, parsed));

    // Several kept files, several records; a set cut anywhere but between records is none.
    PartialRecord second{"VorlanePatcher.exe", 310000, std::string(64, 'b'), 100000, "\"7a\"", "https://upd.example.com"};
    const std::string both = FormatPartialRecords({record, second});
    std::vector<PartialRecord> records;
    ASSERT_TRUE(ParsePartialRecords(both, records));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].name, record.name);
    EXPECT_EQ(records[1].name, second.name);
    EXPECT_EQ(records[1].bytes, second.bytes);
    for (size_t cut = 1; cut < both.size(); ++cut) {
        EXPECT_EQ(ParsePartialRecords(both.substr(0, cut), records), cut == text.size()) << cut;
    }
    ASSERT_TRUE(ParsePartialRecords("", records));
    EXPECT_TRUE(records.empty());
}
