#include "manifest/manifest_log_text.h"

#include "sys/support_log.h"

std::string ManifestText(uint32_t status,
                         uint64_t bytes,
                         uint32_t elapsedMs,
                         bool accepted,
                         const std::string& versionOrError,
                         const std::string& host) {
    return "manifest" + LogField("status", status) + LogField("bajty", bytes) +
           LogField("czas_ms", elapsedMs) +
           (accepted ? LogField("wersja", versionOrError) : LogField("blad", versionOrError)) +
           LogField("serwer", host);
}
