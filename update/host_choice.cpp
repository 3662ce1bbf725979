#include "update/host_choice.h"

namespace {

int Reach(const ManifestAttempt& attempt) {
    if (attempt.verified) {
        return 3;
    }
    if (attempt.status == 200) {
        return 2;
    }
    return attempt.status == 0 ? 0 : 1;
}

}  // namespace

HostStep AfterManifestRefusal(const std::vector<ManifestAttempt>& attempts, size_t hostCount) {
    HostStep step;
    step.askNext = attempts.size() < hostCount;
    for (size_t i = 1; i < attempts.size(); ++i) {
        if (Reach(attempts[i]) > Reach(attempts[step.shown])) {
            step.shown = i;
        }
    }
    return step;
}
