#include "update/release_offer.h"

#include <cstdlib>
#include <vector>

#include "manifest/channel_name.h"
#include "update/rollout_rule.h"

namespace {

bool SplitVersion(const std::string& text, std::vector<long>& parts) {
    parts.clear();
    size_t start = 0;
    for (;;) {
        const size_t dot = text.find('.', start);
        const std::string part =
            text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string::npos ||
            parts.size() == 8) {
            return false;
        }
        parts.push_back(std::strtol(part.c_str(), nullptr, 10));
        if (dot == std::string::npos) {
            return true;
        }
        start = dot + 1;
    }
}

}  // namespace

bool IsDottedVersion(const std::string& text) {
    std::vector<long> parts;
    return SplitVersion(text, parts);
}

bool IsLowerVersion(const std::string& a, const std::string& b) {
    std::vector<long> left;
    std::vector<long> right;
    if (!SplitVersion(a, left) || !SplitVersion(b, right)) {
        return false;
    }
    for (size_t i = 0; i < left.size() || i < right.size(); ++i) {
        const long x = i < left.size() ? left[i] : 0;
        const long y = i < right.size() ? right[i] : 0;
        if (x != y) {
            return x < y;
        }
    }
    return false;
}

OfferStep DecideReleaseOffer(const OfferInputs& in) {
    if (!in.filesDiffer) {
        return OfferStep::UpToDate;
    }
    // Only a release the publisher numbered lower than what is installed is held back; one whose
    // version cannot be read against the installed one is held back too, so that leaving a
    // channel never turns the installation back by itself.
    if (in.followedChannel != in.installedFrom && IsDottedVersion(in.installedVersion) &&
        (!IsDottedVersion(in.offeredVersion) || IsLowerVersion(in.offeredVersion, in.installedVersion))) {
        return OfferStep::NoNewerInChannel;
    }
    if (in.critical) {
        return OfferStep::Install;
    }
    if (in.rolloutPerMille <= 0) {
        return OfferStep::Halted;
    }
    if (in.rolloutPerMille >= 1000 || (in.bucketKnown && IsInsideShare(in.bucket, in.rolloutPerMille))) {
        return OfferStep::Install;
    }
    return in.autoMode ? OfferStep::NotYetHere : OfferStep::Install;
}

bool KeepsSerialRecord(OfferStep step) {
    return step == OfferStep::UpToDate || step == OfferStep::Install;
}

std::string OfferStatusText(OfferStep step, const std::string& followedChannel) {
    switch (step) {
        case OfferStep::NotYetHere:
            return "Nowa wersja jeszcze nie trafila do tej instalacji";
        case OfferStep::Halted:
            return "Wydawanie nowej wersji jest wstrzymane";
        case OfferStep::NoNewerInChannel:
            return "Kanal " + ChannelShownName(followedChannel) + " nie ma jeszcze nowszej wersji";
        case OfferStep::UpToDate:
            return "Masz najnowsza wersje";
        case OfferStep::Install:
            break;
    }
    return "Dostepna aktualizacja";
}
