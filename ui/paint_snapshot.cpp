#include "ui/paint_snapshot.h"

#include <mutex>

PaintSnapshot TakePaintSnapshot(UpdaterState& state) {
    std::lock_guard<std::mutex> lock(state.mutex);
    return static_cast<const UpdateStatus&>(state);
}
