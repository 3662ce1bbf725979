// The wait before an install, driven by a clock the test owns: two minutes pass in no time.
#include <gtest/gtest.h>

#include <vector>

#include "update/wait_loop.h"

namespace {

// A world around the loop: a bot that runs until `botExitsAt` (or until terminated, when
// `terminationEndsBot`), a user who confirms at `confirmAt`, and a record of what happened.
struct FakeWorld {
    uint32_t clock = 0;
    bool autoMode = false;
    uint32_t autoModeAt = UINT32_MAX;  // auto mode handed over by a later start
    uint32_t botExitsAt = UINT32_MAX;
    uint32_t confirmAt = UINT32_MAX;
    bool terminationEndsBot = true;
    bool terminated = false;
    std::vector<uint32_t> terminationTimes;
    std::vector<bool> published;
    int sleeps = 0;

    uint32_t Elapsed(uint32_t start) const { return clock - start; }
    WaitHooks Hooks(uint32_t start) {
        WaitHooks h;
        h.now = [this] { return clock; };
        h.sleep = [this](uint32_t ms) {
            EXPECT_EQ(ms, 300u);
            clock += ms;
            // A loop that never ends is a failure, not a hang.
            if (++sleeps > 100000) {
                confirmAt = 0, botExitsAt = 0, autoMode = true;
                ADD_FAILURE() << "the wait did not end";
            }
        };
        h.botBusy = [this, start] { return !terminated && Elapsed(start) < botExitsAt; };
        h.terminateBot = [this, start] {
            terminationTimes.push_back(Elapsed(start));
            terminated = terminationEndsBot;
            return terminationEndsBot ? 1 : 0;
        };
        h.confirmed = [this, start] { return Elapsed(start) >= confirmAt; };
        h.autoMode = [this, start] { return autoMode || Elapsed(start) >= autoModeAt; };
        h.publishBusy = [this](bool busy) { published.push_back(busy); };
        return h;
    }
};

}  // namespace

TEST(WaitLoop, AutoModeTerminatesOnceJustAfterTwoMinutes) {
    for (uint32_t start : {0u, 0xFFFFFFFFu - 60000u}) {  // also across the tick counter's wrap
        FakeWorld world;
        world.clock = start;
        world.autoMode = true;
        WaitForBotAndConfirmation(world.Hooks(start));
        // Probes at 0, 300, ... 120000 are not "more than" 120000; 120300 is the first.
        EXPECT_EQ(world.terminationTimes, std::vector<uint32_t>{120300}) << start;
        EXPECT_EQ(world.Elapsed(start), 120300u);
        // The probe right after the termination found the file free: no extra sleep.
        ASSERT_FALSE(world.published.empty());
        EXPECT_FALSE(world.published.back());
        EXPECT_EQ(world.published.size(), 402u);
    }
}

// A manual wait that is handed auto mode after ten minutes: the bot gets its two minutes
// from then on, not ended at once for the time the window stood open.
TEST(WaitLoop, PatienceCountsFromWhenAutoModeBegins) {
    FakeWorld world;
    world.autoModeAt = 600000;
    WaitForBotAndConfirmation(world.Hooks(0));
    EXPECT_EQ(world.terminationTimes, std::vector<uint32_t>{600000 + 120300});

    // A bot that closes by itself within the patience is not ended, and no press is needed.
    FakeWorld closing;
    closing.autoModeAt = 600000;
    closing.botExitsAt = 660000;
    WaitForBotAndConfirmation(closing.Hooks(0));
    EXPECT_TRUE(closing.terminationTimes.empty());
    EXPECT_EQ(closing.clock, 660000u);
}

TEST(WaitLoop, ABotThatSurvivesTerminationIsWaitedForWithoutASecondAttempt) {
    FakeWorld world;
    world.autoMode = true;
    world.terminationEndsBot = false;  // nothing could be terminated
    world.botExitsAt = 600000;         // the bot closes by itself after ten minutes
    WaitForBotAndConfirmation(world.Hooks(0));
    EXPECT_EQ(world.terminationTimes, std::vector<uint32_t>{120300});
    EXPECT_EQ(world.clock, 600000u);
}

TEST(WaitLoop, WithoutAutoModeTheBotIsNeverTerminatedAndConfirmationIsNeeded) {
    FakeWorld world;
    world.botExitsAt = 500000;  // long past the patience of auto mode
    world.confirmAt = 1000;     // confirmed early, while the bot still ran
    WaitForBotAndConfirmation(world.Hooks(0));
    EXPECT_TRUE(world.terminationTimes.empty());
    EXPECT_EQ(world.clock, 500100u);  // the first probe at or after the exit
    EXPECT_TRUE(world.published.front());
    EXPECT_FALSE(world.published.back());

    // A closed bot alone does not start the install: it waits for the confirmation.
    FakeWorld idle;
    idle.botExitsAt = 0;
    idle.confirmAt = 3000;
    WaitForBotAndConfirmation(idle.Hooks(0));
    EXPECT_EQ(idle.clock, 3000u);
    EXPECT_EQ(idle.published, std::vector<bool>(11, false));
}

TEST(WaitLoop, AutoModeWithAClosedBotStartsAtOnce) {
    FakeWorld world;
    world.autoMode = true;
    world.botExitsAt = 0;
    WaitForBotAndConfirmation(world.Hooks(0));
    EXPECT_EQ(world.sleeps, 0);
    EXPECT_TRUE(world.terminationTimes.empty());
    EXPECT_EQ(world.published, std::vector<bool>{false});
}
