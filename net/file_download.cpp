// One release file from the server into a temporary file, streamed block by block, and
// continued from an earlier attempt's bytes when the server vouches for them. What an answer's
// body is, and what is kept afterwards, is decided in net/download_answer.h; this file carries
// it out.
#include "net/file_download.h"

#include "net/download_answer.h"
#include "net/https_client.h"
#include "sys/file_ops.h"
#include "sys/output_file.h"

namespace {

const int32_t kReceiveTimeoutMs = 60000;

// One request: the answer's headers, the plan made from them, and how the transfer ended.
struct Transfer {
    FetchHeaders headers;
    AnswerPlan plan;
    bool planned = false;
    TransferEnd end;
};

// Readies the temporary file for the plan: emptied for the whole file; left as it is for
// the rest (which goes after the kept bytes) and for an answer that is not the file.
bool PrepareFile(const AnswerPlan& plan, OutputFile& out, const std::string& tempPath) {
    if (plan.body != AnswerBody::WholeFile) {
        return true;
    }
    return out.OpenEmpty(tempPath);
}

Transfer FetchOnce(const ReleaseManifest& manifest,
                   const DownloadSource& source,
                   const ManifestFile& file,
                   const DownloadAsk& ask,
                   OutputFile& out,
                   const std::string& tempPath,
                   const DownloadProgress& progress,
                   std::string& error) {
    Transfer t;
    if (AsksForRest(ask)) {
        t.headers.range = "bytes=" + std::to_string(ask.keptBytes) + "-";
        t.headers.ifRange = ask.validator;
    }
    t.headers.boundBytes = ask.size;
    // The headers are known before the first block arrives, and after an answer without one.
    const auto planOnce = [&] {
        if (!t.planned) {
            t.planned = true;
            t.plan = PlanAnswer(ask, t.headers);
            t.end.written = PrepareFile(t.plan, out, tempPath);
        }
    };
    const ChunkSink sink = [&](const uint8_t* data, uint32_t count) {
        planOnce();
        const bool fileBody = t.plan.body == AnswerBody::WholeFile || t.plan.body == AnswerBody::Rest;
        if (!fileBody || !t.end.written) {
            return false;
        }
        if (count > t.plan.bodyLimit - t.end.bodyBytes) {
            t.end.pastLimit = true;
            return false;
        }
        // Each block goes to the system as it comes: a failed write (a full disk) stops the
        // transfer at this block, and no bytes wait in a buffer of ours.
        t.end.written = out.Write(data, count);
        if (!t.end.written) {
            return false;
        }
        t.end.bodyBytes += count;
        if (progress) {
            progress(t.plan.writeFrom + t.end.bodyBytes);
        }
        return true;
    };
    const std::u16string path = WidenAscii(source.basePath + MakeDownloadPath(manifest.version, file.name));
    t.end.answered = HttpsFetch(path, std::string(), sink, error, kReceiveTimeoutMs, &t.headers, source.server) != 0;
    planOnce();
    return t;
}

}  // namespace

bool DownloadReleaseFile(const ReleaseManifest& manifest,
                         const ManifestFile& file,
                         const std::string& tempPath,
                         const DownloadProgress& progress,
                         PartialDownload& partial,
                         std::string& error,
                         DownloadReport* report,
                         const DownloadSource* source) {
    DownloadSource own;
    own.server.host = manifest.host;
    const DownloadSource& from = source ? *source : own;
    DownloadAsk ask;
    ask.size = file.size > 0 ? static_cast<uint64_t>(file.size) : 0;
    ask.keptBytes = partial.bytes;
    ask.validator = partial.validator;
    // Opened before the request, so that a folder that takes no file costs no request; the
    // bytes it holds stay untouched until the answer says what they become.
    OutputFile out;
    if (!out.OpenAppend(tempPath)) {
        error = "nie moge zapisac " + tempPath;
        partial = PartialDownload();
        if (report) {
            report->cause = DownloadCause::WriteFailed;
        }
        return false;
    }
    Transfer t = FetchOnce(manifest, from, file, ask, out, tempPath, progress, error);
    if (t.plan.body == AnswerBody::AskWhole) {
        ask.keptBytes = 0;
        ask.validator.clear();
        t = FetchOnce(manifest, from, file, ask, out, tempPath, progress, error);
    }
    // A failed close is a failed write: the file's last bytes may not be in it.
    t.end.written = out.Close() && t.end.written;
    const DownloadVerdict verdict = JudgeTransfer(ask, t.plan, t.headers, t.end);
    if (report) {
        report->status = t.headers.status;
        report->resumedFrom = t.plan.body == AnswerBody::Rest ? t.plan.writeFrom : 0;
        report->bytes = t.end.bodyBytes;
        report->cause = verdict.cause;
    }
    switch (verdict.outcome) {
        case DownloadOutcome::Complete:
            partial = PartialDownload();
            return true;
        case DownloadOutcome::KeepBytes:
            partial.bytes = verdict.keptBytes;
            partial.validator = verdict.validator;
            break;
        case DownloadOutcome::KeepEarlier:
            break;
        case DownloadOutcome::Drop:
            partial = PartialDownload();
            DeleteFileQuietly(tempPath);
            break;
    }
    switch (verdict.cause) {
        case DownloadCause::EndedEarly:
            error = "przerwane pobieranie";
            break;
        case DownloadCause::PastSize:
            error = "Plik " + file.name + " jest wiekszy niz podaje manifest";
            break;
        case DownloadCause::WriteFailed:
            error = "nie moge zapisac " + tempPath;
            break;
        case DownloadCause::Status:
            error = "HTTP " + std::to_string(t.headers.status) + " przy " + file.name;
            break;
        case DownloadCause::None:
        case DownloadCause::Transport:
            break;  // HttpsFetch's own text
    }
    return false;
}

bool DownloadReleaseFile(const ReleaseManifest& manifest,
                         const ManifestFile& file,
                         const std::string& tempPath,
                         const DownloadProgress& progress,
                         std::string& error) {
    PartialDownload none;
    if (DownloadReleaseFile(manifest, file, tempPath, progress, none, error)) {
        return true;
    }
    if (none.bytes > 0) {
        DeleteFileQuietly(tempPath);
    }
    return false;
}
