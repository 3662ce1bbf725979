// The durable replacement of a small file: the order of its steps and its retries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sys/file_replace.h"

namespace {

std::vector<std::string> Steps;
int BusyMoves = 0;

FileStep Write(const std::string& path, const std::string& content) {
    Steps.push_back("write " + path + " " + content);
    return FileStep::Done;
}
FileStep Flush(const std::string& path) {
    Steps.push_back("flush " + path);
    return FileStep::Done;
}
FileStep Move(const std::string& from, const std::string& to) {
    Steps.push_back("move " + from + " " + to);
    if (BusyMoves > 0) {
        --BusyMoves;
        return FileStep::Busy;
    }
    return FileStep::Done;
}
void Remove(const std::string& path) {
    Steps.push_back("remove " + path);
}
void Pause(uint32_t ms) {
    Steps.push_back("pause " + std::to_string(ms));
}

const FileReplaceSteps kWatched = {Write, Flush, Move, Remove, Pause};

}  // namespace

// The new content reaches the disk before it takes the name; a target held for a moment is
// tried again after a pause, one held for longer gives up with the old file in place.
TEST(FileReplace, FlushesBeforeTheRenameAndRetriesAHeldFile) {
    Steps.clear();
    BusyMoves = 0;
    EXPECT_EQ(ReplaceFileWith(kWatched, "r", "7"), FileStep::Done);
    EXPECT_EQ(Steps, (std::vector<std::string>{"write r.new 7", "flush r.new", "move r.new r"}));

    Steps.clear();
    BusyMoves = 2;
    EXPECT_EQ(ReplaceFileWith(kWatched, "r", "7"), FileStep::Done);
    const std::string pause = "pause " + std::to_string(kReplacePauseMs);
    const std::vector<std::string> attempt = {"write r.new 7", "flush r.new", "move r.new r"};
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            expected.push_back("remove r.new");
            expected.push_back(pause);
        }
        expected.insert(expected.end(), attempt.begin(), attempt.end());
    }
    EXPECT_EQ(Steps, expected);

    Steps.clear();
    BusyMoves = kReplaceAttempts;
    EXPECT_EQ(ReplaceFileWith(kWatched, "r", "7"), FileStep::Busy);
    EXPECT_EQ(Steps.size(), static_cast<size_t>(kReplaceAttempts * 4 + kReplaceAttempts - 1));
    EXPECT_EQ(Steps.back(), "remove r.new");
}
