#include "update/source_choice.h"

namespace {

int Reach(FileFault fault) {
    switch (fault) {
        case FileFault::NoAnswer:
            return 0;
        case FileFault::Status:
            return 1;
        case FileFault::Body:
            return 2;
        case FileFault::Digest:
        case FileFault::Local:
            return 3;
    }
    return 0;
}

}  // namespace

FileFault FaultOfDownload(DownloadCause cause, uint32_t status) {
    if (cause == DownloadCause::WriteFailed) {
        return FileFault::Local;
    }
    if (cause == DownloadCause::Status) {
        return FileFault::Status;
    }
    return status == 0 ? FileFault::NoAnswer : FileFault::Body;
}

SourceStep NextFileSource(const std::vector<FileFault>& faults,
                          const std::vector<std::string>& sources,
                          const std::string& keptFrom) {
    SourceStep step;
    const bool local = !faults.empty() && faults.back() == FileFault::Local;
    if (!local && faults.size() < sources.size()) {
        step.tryNext = true;
        step.source = faults.size();
        step.resume = !keptFrom.empty() && keptFrom == sources[step.source];
        return step;
    }
    if (local) {
        step.shown = faults.size() - 1;
        return step;
    }
    for (size_t i = 1; i < faults.size(); ++i) {
        if (Reach(faults[i]) > Reach(faults[step.shown])) {
            step.shown = i;
        }
    }
    return step;
}
