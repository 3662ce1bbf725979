// Whether the release a verified manifest describes is offered to this installation: the
// one decision of the check after the files were compared, from the release's share and
// critical mark, the installation's bucket, how the updater was started, and the channels.
#pragma once

#include <cstdint>
#include <string>

enum class OfferStep {
    UpToDate,          // nothing differs: the installed files are the release's
    Install,           // the release is offered (and installed) as it always was
    NotYetHere,        // outside the release's share: not this installation's release yet
    Halted,            // the publisher halted the rollout (share 0): nobody else gets it
    NoNewerInChannel,  // the channel just followed offers an older release than the installed one
};

struct OfferInputs {
    bool filesDiffer = false;
    bool autoMode = false;  // started with --auto; a start by hand is the user asking
    int32_t rolloutPerMille = 1000;
    bool critical = false;
    bool bucketKnown = false;  // false when the installation has no identifier
    int32_t bucket = 0;
    std::string followedChannel;   // "" for the default channel
    std::string installedFrom;     // the channel the installed files came from
    std::string offeredVersion;    // the manifest's version
    std::string installedVersion;  // the installed bot's file version ("" when unknown)
};

// In order: nothing differs; a channel left for one whose release is older than the installed
// bot is not installed by itself; a critical release goes to everyone; a halted one to nobody;
// inside the share it is offered; a start by hand gets it too (as Sparkle and the App Store's
// phased release give a check the user asked for the update at once, phasing only the
// automatic ones); else it is not yet this installation's.
OfferStep DecideReleaseOffer(const OfferInputs& in);

// Whether the serial record is raised by the manifest after this step: only by a release the
// installation has or is about to install, never by one it was kept from.
bool KeepsSerialRecord(OfferStep step);

// Dotted numeric versions ("2.6.0.1", "2.6.0"; a missing part counts as 0): true when `a` is
// lower than `b`. False when either is not such a version.
bool IsLowerVersion(const std::string& a, const std::string& b);
// True for 1 to 8 dot-separated parts of 1 to 9 decimal digits each.
bool IsDottedVersion(const std::string& text);

// The window's status line for the steps that end the pass without an install.
std::string OfferStatusText(OfferStep step, const std::string& followedChannel);
