// The texts of the update pass's steps in the support log, one line each.
#pragma once

#include <cstdint>
#include <string>

#include "sys/support_log.h"
#include "update/install_decision.h"
#include "update/release_offer.h"

// What one file's transfer did. `resumedFrom` is the byte the transfer began at: 0 for a
// whole file, more when the bytes before it were kept from an earlier transfer.
struct DownloadRecord {
    std::string name;
    uint32_t status = 0;  // 0: the transfer failed before a status arrived
    uint64_t bytes = 0;
    uint32_t elapsedMs = 0;
    uint64_t resumedFrom = 0;
    std::string error;  // empty when the transfer succeeded
    std::string source;  // the place asked (update server or mirror); no field when empty
};

std::string PassStartText(const std::string& botVersion, bool autoMode, const std::string& folder);
std::string DecisionText(const std::string& name, InstallReason reason);
std::string DownloadText(const DownloadRecord& record);
std::string VerifyText(const std::string& name,
                       bool matches,
                       const std::string& digest,
                       const std::string& source = std::string());
// A "mirror" record of the accepted manifest that names no usable mirror.
std::string MirrorSkippedText(const std::string& value);
std::string MoveText(const std::string& name, const std::string& target, bool moved);
std::string WaitText(uint32_t elapsedMs, bool confirmed, bool autoMode);
std::string BotSeenText(bool running);
std::string TerminationText(int32_t ended);
std::string StagedUpdaterText(bool staged);
// The offer's decision with its share (per mille), the installation's bucket ("-" when none
// was derived), the followed channel and the critical mark.
std::string OfferText(int32_t perMille,
                      bool bucketKnown,
                      int32_t bucket,
                      const std::string& channel,
                      bool critical,
                      OfferStep step);
// A small record of the installation folder written (or removed), and whether that worked.
std::string InstallRecordText(const std::string& name, const std::string& value, bool done);
std::string SerialRecordText(int64_t serial, bool written);
std::string PassEndText(int32_t phase, const std::string& status, const std::string& detail);
std::string BotLaunchText(bool started, const std::string& detail);
std::string ExitText(int32_t phase);
