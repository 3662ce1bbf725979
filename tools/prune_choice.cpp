#include "tools/prune_choice.h"

#include <algorithm>

namespace {

std::vector<std::string> Parts(const std::string& v) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t dot = v.find('.', from);
        parts.push_back(v.substr(from, dot == std::string::npos ? std::string::npos : dot - from));
        if (dot == std::string::npos) {
            return parts;
        }
        from = dot + 1;
    }
}

bool AllDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// -1, 0 or 1 for one part of each.
int ComparePart(const std::string& a, const std::string& b) {
    const bool da = AllDigits(a);
    const bool db = AllDigits(b);
    if (da && db) {
        // By value without a limit on length: leading zeros off, then the longer is larger.
        const std::string x = a.substr(std::min(a.find_first_not_of('0'), a.size()));
        const std::string y = b.substr(std::min(b.find_first_not_of('0'), b.size()));
        if (x.size() != y.size()) {
            return x.size() < y.size() ? -1 : 1;
        }
        return x < y ? -1 : x > y ? 1 : 0;
    }
    if (da != db) {
        return da ? -1 : 1;
    }
    return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

bool VersionBefore(const std::string& a, const std::string& b) {
    const std::vector<std::string> pa = Parts(a);
    const std::vector<std::string> pb = Parts(b);
    for (size_t i = 0; i < pa.size() && i < pb.size(); ++i) {
        const int c = ComparePart(pa[i], pb[i]);
        if (c != 0) {
            return c < 0;
        }
    }
    if (pa.size() != pb.size()) {
        return pa.size() < pb.size();
    }
    return a < b;  // "1.01" and "1.1": one order all the same
}

PruneChoice ChoosePrune(const std::vector<std::string>& present,
                        const std::set<std::string>& live,
                        size_t keepNewest) {
    std::vector<std::string> sorted = present;
    std::sort(sorted.begin(), sorted.end(), VersionBefore);
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    PruneChoice choice;
    const size_t newestFrom = sorted.size() > keepNewest ? sorted.size() - keepNewest : 0;
    for (size_t i = 0; i < sorted.size(); ++i) {
        (i >= newestFrom || live.count(sorted[i]) ? choice.keep : choice.remove).push_back(sorted[i]);
    }
    return choice;
}
