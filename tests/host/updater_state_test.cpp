#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "update/updater_state.h"

namespace {

void ResetState() {
    std::lock_guard<std::mutex> lock(State.mutex);
    State.phase = Checking;
    State.statusText.clear();
    State.errorDetail.clear();
    State.doneBytes = 0;
}

std::atomic<int> passesRun{0};
std::atomic<bool> confirmedSeenAtStart{true};
void CountingPass() {
    confirmedSeenAtStart = InstallConfirmed.load();
    passesRun++;
}

}  // namespace

TEST(UpdaterState, SettersWriteTheirFieldsTogether) {
    ResetState();
    SetPhaseAndStatus(UpdateAvailable, "Dostepna aktualizacja");
    EXPECT_EQ(State.phase, UpdateAvailable);
    EXPECT_EQ(State.statusText, "Dostepna aktualizacja");
    FailUpdate("Serwer aktualizacji: pusty manifest");
    EXPECT_EQ(State.phase, Failed);
    EXPECT_EQ(State.statusText, "Aktualizacja nie powiodla sie");
    EXPECT_EQ(State.errorDetail, "Serwer aktualizacji: pusty manifest");
    MakeProgressUpdate(1000)(234);
    EXPECT_EQ(State.doneBytes, 1234);
    MakeProgressUpdate(INT64_C(5000000000))(UINT64_C(4294967296));
    EXPECT_EQ(State.doneBytes, INT64_C(9294967296));
    // A declared size near the limit: the sum wraps as the install list's sums do.
    MakeProgressUpdate(INT64_MAX - 10)(100);
    EXPECT_EQ(State.doneBytes, INT64_MIN + 89);
}

TEST(UpdaterState, StartWorkerJoinsAndClearsTheConfirmation) {
    passesRun = 0;
    InstallConfirmed = true;
    StartWorkerWith(CountingPass);
    StartWorkerWith(CountingPass);  // joins the first
    WorkerThread.join();
    EXPECT_EQ(passesRun, 2);
    EXPECT_FALSE(confirmedSeenAtStart);
    EXPECT_FALSE(WorkerThread.joinable());
}

// Two writers and a reader: every snapshot must be one of the records a writer wrote
// whole (the status text always names the phase and the detail its counter).
TEST(UpdaterState, ReadersNeverSeeAHalfWrittenRecord) {
    ResetState();
    std::atomic<bool> stop{false};
    auto writer = [&](int id) {
        for (int i = 0; i < 20000; ++i) {
            if (i % 2) {
                SetPhaseAndStatus(Downloading, "phase3-" + std::to_string(id));
            } else {
                FailUpdate("detail-" + std::to_string(id) + "-" + std::to_string(i));
            }
            MakeProgressUpdate(i)(static_cast<uint64_t>(i));
        }
    };
    std::thread a(writer, 1), b(writer, 2);
    int bad = 0;
    int reads = 0;
    std::thread reader([&] {
        // A loaded machine may run both writers to the end before the reader gets a turn,
        // so the reader also makes a fixed number of reads of its own.
        while (!stop || reads < 1000) {
            int32_t phase;
            std::string status;
            int64_t done;
            {
                std::lock_guard<std::mutex> lock(State.mutex);
                phase = State.phase;
                status = State.statusText;
                done = State.doneBytes;
            }
            const bool consistent = (phase == Failed && status == "Aktualizacja nie powiodla sie") ||
                                    (phase == Downloading && status.rfind("phase3-", 0) == 0) ||
                                    (phase == Checking && status.empty());
            bad += !consistent || done % 2 != 0;
            ++reads;
        }
    });
    a.join();
    b.join();
    stop = true;
    reader.join();
    EXPECT_EQ(bad, 0);
    EXPECT_GT(reads, 0);
}
