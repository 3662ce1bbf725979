// Staged releases natively: the bucket rule over many random installations, the identifier,
// the channels' names, paths and files, and the one decision of the offer.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "manifest/channel_name.h"
#include "sys/system_random.h"
#include "update/installation_id.h"
#include "update/release_guard.h"
#include "update/release_offer.h"
#include "update/rollout_rule.h"

namespace {

std::string DrawId() {
    uint8_t bytes[kInstallationIdBytes];
    EXPECT_TRUE(DrawSystemRandom(bytes, sizeof(bytes)));
    return InstallationIdFromBytes(bytes);
}

int32_t Bucket(const std::string& id, const std::string& version) {
    int32_t bucket = -1;
    EXPECT_TRUE(RolloutBucket(id, version, bucket));
    return bucket;
}

}  // namespace

// Over 100,000 random installations: each bucket is the same on every start, a share admits
// within one percentage point of its part, and raising the share never drops one that was in.
TEST(RolloutRule, BucketsAreStableGrowWithTheShareAndMatchIt) {
    // The formula itself, as the publisher's tool and any other reader compute it (SHA-256
    // of "vorlane-rollout\n" + id + "\n" + version, first four bytes big endian, mod 1000).
    EXPECT_EQ(Bucket("00112233445566778899aabbccddeeff", "2.6.0.1"), 832);
    EXPECT_EQ(Bucket("0123456789abcdef0123456789abcdef", "2.6.0.1"), 78);
    EXPECT_EQ(Bucket("00112233445566778899aabbccddeeff", "2.6.0.2"), 530);

    const std::vector<int32_t> shares = {0, 10, 50, 250, 500, 900, 999, 1000};
    std::vector<int64_t> inside(shares.size(), 0);
    std::set<std::string> ids;
    int64_t movedWithVersion = 0;
    const int kInstallations = 100000;
    for (int i = 0; i < kInstallations; ++i) {
        const std::string id = DrawId();
        ASSERT_TRUE(IsInstallationId(id)) << id;
        ids.insert(id);
        const int32_t bucket = Bucket(id, "2.6.0.1");
        ASSERT_EQ(Bucket(id, "2.6.0.1"), bucket);
        ASSERT_GE(bucket, 0);
        ASSERT_LT(bucket, 1000);
        movedWithVersion += Bucket(id, "2.7.0") != bucket;
        bool wasInside = false;
        for (size_t s = 0; s < shares.size(); ++s) {
            const bool in = IsInsideShare(bucket, shares[s]);
            ASSERT_TRUE(in || !wasInside) << "dropped at " << shares[s] << " per mille, bucket " << bucket;
            wasInside = in;
            inside[s] += in;
        }
    }
    EXPECT_EQ(ids.size(), static_cast<size_t>(kInstallations));
    for (size_t s = 0; s < shares.size(); ++s) {
        const double part = static_cast<double>(inside[s]) / kInstallations;
        EXPECT_NEAR(part, shares[s] / 1000.0, 0.01) << shares[s] << " per mille";
    }
    EXPECT_EQ(inside.front(), 0);
    EXPECT_EQ(inside.back(), kInstallations);
    // The next release draws the installations afresh: the first ones are not always the same.
    EXPECT_GT(movedWithVersion, kInstallations * 9 / 10);

    // Twenty installations at 50 %: some take the release and some do not, and each gives the
    // same answer at every start.
    std::vector<std::string> twenty;
    for (int i = 0; i < 20; ++i) {
        twenty.push_back(DrawId());
    }
    auto countInside = [&twenty]() {
        int n = 0;
        for (const std::string& id : twenty) {
            n += IsInsideShare(Bucket(id, "2.6.0.1"), 500);
        }
        return n;
    };
    const int first = countInside();
    EXPECT_GT(first, 0);
    EXPECT_LT(first, 20);
    EXPECT_EQ(countInside(), first);
}

TEST(InstallationId, OnlyThirtyTwoLowercaseHexDigitsAreKept) {
    const uint8_t bytes[kInstallationIdBytes] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                                 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    EXPECT_EQ(InstallationIdFromBytes(bytes), "00112233445566778899aabbccddeeff");
    std::string id = "untouched";
    EXPECT_TRUE(ParseInstallationIdFile("00112233445566778899aabbccddeeff\n", id));
    EXPECT_EQ(id, "00112233445566778899aabbccddeeff");
    EXPECT_TRUE(ParseInstallationIdFile("0123456789abcdef0123456789abcdef", id));
    EXPECT_EQ(id, "0123456789abcdef0123456789abcdef");
    for (const char* bad : {"", "\n", "00112233445566778899aabbccddeef", "00112233445566778899aabbccddeeff0",
                            "00112233445566778899AABBCCDDEEFF", "00112233445566778899aabbccddeeff\r\n",
                            "00112233445566778899aabbccddeeff\n\n", "0011223344556677 8899aabbccddeeff",
                            "g0112233445566778899aabbccddeeff"}) {
        id = "untouched";
        EXPECT_FALSE(ParseInstallationIdFile(bad, id)) << bad;
        EXPECT_EQ(id, "untouched");
    }
    EXPECT_FALSE(ParseInstallationIdFile(std::string("00112233445566778899aabbccddeef\0", 32), id));
    EXPECT_NE(DrawId(), DrawId());
}

TEST(Channels, NamesPathsAndRecords) {
    for (const char* good : {"beta", "b", "beta-2", "a0", "abcdefghijklmnop", "nightly"}) {
        EXPECT_TRUE(IsChannelName(good)) << good;
    }
    for (const char* bad : {"", "stable", "download", "Beta", "2beta", "-b", "be ta", "be_ta", "be.ta",
                            "../x", "abcdefghijklmnopq", "beta\n"}) {
        EXPECT_FALSE(IsChannelName(bad)) << bad;
    }
    EXPECT_EQ(ChannelManifestPath(u"/vlr/latest.txt", ""), u"/vlr/latest.txt");
    EXPECT_EQ(ChannelManifestPath(u"/vlr/latest.txt", "beta"), u"/vlr/beta/latest.txt");
    EXPECT_EQ(ChannelManifestPath(u"/a/b/m.txt", "rc-1"), u"/a/b/rc-1/m.txt");
    EXPECT_EQ(ChannelManifestPath(u"/latest.txt", "beta"), u"/beta/latest.txt");
    EXPECT_EQ(ChannelSerialRecordName(""), "VorlanePatcher.serial");
    EXPECT_EQ(ChannelSerialRecordName("beta"), "VorlanePatcher.beta.serial");
    EXPECT_EQ(ChannelShownName(""), "stable");
    EXPECT_EQ(ChannelShownName("beta"), "beta");

    // The channel file as the bot or the updater writes it; anything else is the default.
    std::string channel = "untouched";
    EXPECT_TRUE(ParseChannelFileText("beta\n", channel));
    EXPECT_EQ(channel, "beta");
    EXPECT_TRUE(ParseChannelFileText("stable\r\n", channel));
    EXPECT_EQ(channel, "");
    EXPECT_TRUE(ParseChannelFileText("rc-1", channel));
    EXPECT_EQ(channel, "rc-1");
    for (const char* bad : {"", "\n", "Beta\n", "beta\n\n", " beta\n", "beta \n", "beta\nx", "download\n"}) {
        channel = "untouched";
        EXPECT_FALSE(ParseChannelFileText(bad, channel)) << bad;
        EXPECT_EQ(channel, "untouched");
    }
    EXPECT_EQ(FormatChannelFileText("beta"), "beta\n");
    EXPECT_EQ(FormatChannelFileText(""), "stable\n");
    EXPECT_TRUE(ParseChannelFileText(FormatChannelFileText("nightly"), channel));
    EXPECT_EQ(channel, "nightly");

    // A manifest is taken only by the channel it was signed for.
    ReleaseManifest beta;
    beta.channel = "beta";
    std::string error = "untouched";
    EXPECT_TRUE(JudgeManifestChannel(beta, "beta", error));
    EXPECT_TRUE(JudgeManifestChannel(ReleaseManifest(), "", error));
    EXPECT_EQ(error, "untouched");
    EXPECT_FALSE(JudgeManifestChannel(beta, "", error));
    EXPECT_EQ(error, "manifest innego kanalu (beta zamiast stable)");
    EXPECT_FALSE(JudgeManifestChannel(ReleaseManifest(), "beta", error));
    EXPECT_EQ(error, "manifest innego kanalu (stable zamiast beta)");
}

// The offer from every input that decides it; which of the steps leave the serial record.
TEST(ReleaseOffer, OneDecisionFromShareStartHaltCriticalAndChannel) {
    OfferInputs base;
    base.filesDiffer = true;
    base.autoMode = true;
    base.rolloutPerMille = 500;
    base.bucketKnown = true;
    base.bucket = 499;
    base.offeredVersion = "2.6.0.1";
    base.installedVersion = "2.5.17";
    auto with = [&base](auto change) {
        OfferInputs in = base;
        change(in);
        return DecideReleaseOffer(in);
    };
    EXPECT_EQ(DecideReleaseOffer(base), OfferStep::Install);
    EXPECT_EQ(with([](OfferInputs& in) {
                  in.filesDiffer = false;
                  in.rolloutPerMille = 0;
              }),
              OfferStep::UpToDate);
    // The share: buckets below it take the release; one with no identifier only at 100 %.
    EXPECT_EQ(with([](OfferInputs& in) { in.bucket = 500; }), OfferStep::NotYetHere);
    EXPECT_EQ(with([](OfferInputs& in) {
                  in.bucket = 0;
                  in.rolloutPerMille = 1;
              }),
              OfferStep::Install);
    EXPECT_EQ(with([](OfferInputs& in) {
                  in.bucket = 999;
                  in.rolloutPerMille = 1000;
              }),
              OfferStep::Install);
    EXPECT_EQ(with([](OfferInputs& in) {
                  in.bucketKnown = false;
                  in.bucket = 0;
              }),
              OfferStep::NotYetHere);
    EXPECT_EQ(with([](OfferInputs& in) {
                  in.bucketKnown = false;
                  in.rolloutPerMille = 1000;
              }),
              OfferStep::Install);
    // A start by hand is the user asking: offered outside the share, but never while halted.
    EXPECT_EQ(with([](OfferInputs& in) {
                  in.autoMode = false;
                  in.bucket = 999;
              }),
              OfferStep::Install);
    EXPECT_EQ(with([](OfferInputs& in) {
                  in.rolloutPerMille = 0;
                  in.bucket = 0;
              }),
              OfferStep::Halted);
    EXPECT_EQ(with([](OfferInputs& in) {
                  in.rolloutPerMille = 0;
                  in.autoMode = false;
              }),
              OfferStep::Halted);
    // Critical: past the share and the halt.
    EXPECT_EQ(with([](OfferInputs& in) {
                  in.critical = true;
                  in.bucket = 999;
              }),
              OfferStep::Install);
    EXPECT_EQ(with([](OfferInputs& in) {
                  in.critical = true;
                  in.rolloutPerMille = 0;
              }),
              OfferStep::Install);
    // Leaving a channel: an older release than the installed bot is not installed by itself,
    // not even a critical one or by hand; a newer one follows the share as any other.
    auto left = [&with](const char* offered, auto change) {
        return with([&](OfferInputs& in) {
            in.followedChannel = "";
            in.installedFrom = "beta";
            in.installedVersion = "2.7.0";
            in.offeredVersion = offered;
            change(in);
        });
    };
    auto same = [](OfferInputs&) {};
    EXPECT_EQ(left("2.6.0.1", same), OfferStep::NoNewerInChannel);
    EXPECT_EQ(left("2.6.9.9",
                   [](OfferInputs& in) {
                       in.critical = true;
                       in.autoMode = false;
                   }),
              OfferStep::NoNewerInChannel);
    EXPECT_EQ(left("not a version", same), OfferStep::NoNewerInChannel);
    EXPECT_EQ(left("2.7.0", same), OfferStep::Install);
    EXPECT_EQ(left("2.7.0.1", same), OfferStep::Install);
    EXPECT_EQ(left("2.10", [](OfferInputs& in) { in.bucket = 700; }), OfferStep::NotYetHere);
    EXPECT_EQ(left("2.6.0", [](OfferInputs& in) { in.installedVersion = ""; }), OfferStep::Install);
    EXPECT_EQ(left("2.6.0", [](OfferInputs& in) { in.installedFrom = ""; }), OfferStep::Install);
    EXPECT_EQ(left("2.6.0", [](OfferInputs& in) { in.filesDiffer = false; }), OfferStep::UpToDate);

    EXPECT_TRUE(KeepsSerialRecord(OfferStep::UpToDate));
    EXPECT_TRUE(KeepsSerialRecord(OfferStep::Install));
    EXPECT_FALSE(KeepsSerialRecord(OfferStep::NotYetHere));
    EXPECT_FALSE(KeepsSerialRecord(OfferStep::Halted));
    EXPECT_FALSE(KeepsSerialRecord(OfferStep::NoNewerInChannel));

    EXPECT_TRUE(IsLowerVersion("2.6.0.1", "2.7"));
    EXPECT_TRUE(IsLowerVersion("2.9", "2.10"));
    EXPECT_FALSE(IsLowerVersion("2.6.0.1", "2.6.0"));
    EXPECT_FALSE(IsLowerVersion("2.6.0", "2.6.0.0"));
    EXPECT_FALSE(IsLowerVersion("2.6.", "2.7"));
}
