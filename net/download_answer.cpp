#include "net/download_answer.h"

#include "net/resume_rules.h"

bool AsksForRest(const DownloadAsk& ask) {
    return ask.keptBytes > 0 && ask.keptBytes < ask.size && !ask.validator.empty();
}

AnswerPlan PlanAnswer(const DownloadAsk& ask, const FetchHeaders& answer) {
    const bool resuming = AsksForRest(ask);
    AnswerPlan plan;
    if (answer.status == 200) {
        plan.body = AnswerBody::WholeFile;
        plan.bodyLimit = ask.size;
    } else if (resuming && answer.status == 206 &&
               RangeContinues(answer.contentRange, ask.keptBytes, ask.size)) {
        plan.body = AnswerBody::Rest;
        plan.writeFrom = ask.keptBytes;
        plan.bodyLimit = ask.size - ask.keptBytes;
        plan.keepsKept = true;
    } else if (resuming && (answer.status == 206 || answer.status == 416)) {
        // The server's file is not the one the kept bytes came from.
        plan.body = AnswerBody::AskWhole;
    } else {
        // A 503 or a 404 says nothing about the kept bytes: a later attempt may continue them.
        plan.body = AnswerBody::NotTheFile;
        plan.keepsKept = resuming;
    }
    return plan;
}

DownloadVerdict JudgeTransfer(const DownloadAsk& ask,
                              const AnswerPlan& plan,
                              const FetchHeaders& answer,
                              const TransferEnd& end) {
    DownloadVerdict verdict;
    if (plan.body != AnswerBody::WholeFile && plan.body != AnswerBody::Rest) {
        verdict.outcome = plan.keepsKept ? DownloadOutcome::KeepEarlier : DownloadOutcome::Drop;
        verdict.cause = answer.status != 0 ? DownloadCause::Status : DownloadCause::Transport;
        return verdict;
    }
    const uint64_t fileBytes = plan.writeFrom + end.bodyBytes;
    if (end.pastLimit) {
        verdict.cause = DownloadCause::PastSize;
        return verdict;
    }
    if (!end.written) {
        verdict.cause = DownloadCause::WriteFailed;
        return verdict;
    }
    if (end.answered && fileBytes == ask.size) {
        verdict.outcome = DownloadOutcome::Complete;
        return verdict;
    }
    // Ended early: a transport failure, or a body shorter than the file (Wine reads a closed
    // connection as the end of the body). What arrived may be continued under a validator.
    verdict.cause = end.answered ? DownloadCause::EndedEarly : DownloadCause::Transport;
    std::string validator = ResumeValidator(answer.etag, answer.lastModified);
    if (validator.empty() && plan.body == AnswerBody::Rest) {
        validator = ask.validator;  // the server matched it in If-Range
    }
    if (fileBytes > 0 && fileBytes < ask.size && !validator.empty()) {
        verdict.outcome = DownloadOutcome::KeepBytes;
        verdict.keptBytes = fileBytes;
        verdict.validator = validator;
    }
    return verdict;
}
