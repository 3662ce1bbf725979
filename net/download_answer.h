// How a file download reads the server's answer: what the body is, where it goes in the
// temporary file, how much of it may come, and what becomes of the bytes an earlier attempt
// kept. Decided here from the request and the answer's headers alone, so that the transfer
// itself only carries it out.
#pragma once

#include <cstdint>
#include <string>

#include "net/https_client.h"

// What a download asks for: the file's size in the manifest, and the bytes an earlier
// attempt kept with the server's validator for them (0 and empty: none).
struct DownloadAsk {
    uint64_t size = 0;
    uint64_t keptBytes = 0;
    std::string validator;
};

// True when the ask continues kept bytes: some of the file but not all, under a validator.
// Only then are Range and If-Range sent.
bool AsksForRest(const DownloadAsk& ask);

enum class AnswerBody {
    WholeFile,   // the file from its first byte (200): it replaces whatever was kept
    Rest,        // exactly the rest of the kept bytes (206 continuing them): appended
    NotTheFile,  // any other status, or no answer: nothing of the body is read or written
    AskWhole,    // a part other than the rest asked for, or 416: ask again for the whole file
};

struct AnswerPlan {
    AnswerBody body = AnswerBody::NotTheFile;
    uint64_t writeFrom = 0;  // the byte of the file that the body's first byte is
    uint64_t bodyLimit = 0;  // body bytes that may come; one more and the transfer is stopped
    bool keepsKept = false;  // the kept bytes stay: continued now, or left for a later attempt
};

// `answer` holds the status (0: none arrived) and the headers of the answer to `ask`.
AnswerPlan PlanAnswer(const DownloadAsk& ask, const FetchHeaders& answer);

// How one transfer under a plan ended.
struct TransferEnd {
    bool answered = false;   // HttpsFetch returned the status (the body ended or was stopped)
    uint64_t bodyBytes = 0;  // body bytes written to the temporary file
    bool pastLimit = false;  // the body went past the plan's limit and was stopped
    bool written = true;     // every write and the close succeeded
};

enum class DownloadOutcome {
    Complete,     // the temporary file holds the whole file
    KeepBytes,    // ended early: the bytes in the temporary file are kept under `validator`
    KeepEarlier,  // no file body while continuing: the earlier kept bytes stay as they were
    Drop,         // nothing is kept: the temporary file goes
};

// Why a download that is not Complete failed; it chooses the error text.
enum class DownloadCause {
    None,
    Transport,    // HttpsFetch's own text (no answer, a failed read, too slow)
    EndedEarly,   // the body ended before the file did
    PastSize,     // the body passed the manifest's size
    WriteFailed,  // the temporary file did not take the bytes
    Status,       // an answer that is not the file
};

struct DownloadVerdict {
    DownloadOutcome outcome = DownloadOutcome::Drop;
    DownloadCause cause = DownloadCause::None;
    uint64_t keptBytes = 0;  // KeepBytes: the bytes of the file now in the temporary file
    std::string validator;   // KeepBytes: the validator they are kept under
};

// The verdict on a transfer of `ask` that `plan` (not AskWhole) governed.
DownloadVerdict JudgeTransfer(const DownloadAsk& ask,
                              const AnswerPlan& plan,
                              const FetchHeaders& answer,
                              const TransferEnd& end);
