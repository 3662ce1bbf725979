#include "sys/file_replace.h"

FileStep ReplaceFileWith(const FileReplaceSteps& steps, const std::string& path, const std::string& content) {
    const std::string temporary = path + ".new";
    FileStep step = FileStep::Failed;
    for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
        if (attempt > 0) {
            steps.pause(kReplacePauseMs);
        }
        step = steps.write(temporary, content);
        if (step == FileStep::Done) {
            step = steps.flush(temporary);
        }
        if (step == FileStep::Done) {
            step = steps.move(temporary, path);
        }
        if (step == FileStep::Done) {
            return step;
        }
        steps.remove(temporary);
    }
    return step;
}
