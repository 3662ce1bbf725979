// Which version folders prune removes: none that a live manifest names, none of the newest
// N, in dotted-numeric order of the version texts.
#pragma once

#include <set>
#include <string>
#include <vector>

// Orders version texts part by part between the dots: two parts of digits by their value
// (1.10 after 1.9), a part of digits before one of other text, other text byte by byte, and
// a version before the same one with more parts (1.0 before 1.0.1).
bool VersionBefore(const std::string& a, const std::string& b);

struct PruneChoice {
    std::vector<std::string> remove;  // oldest first
    std::vector<std::string> keep;    // oldest first
};

// `present`: the version folders DEST holds; `live`: the versions its manifests name.
PruneChoice ChoosePrune(const std::vector<std::string>& present,
                        const std::set<std::string>& live,
                        size_t keepNewest);
