// The painter's own copy of the shared update state, taken under the state's lock at the
// start of a paint so that one frame shows one consistent moment and nothing is drawn
// while the worker could be waiting.
#pragma once

#include "update/updater_state.h"

using PaintSnapshot = UpdateStatus;

PaintSnapshot TakePaintSnapshot(UpdaterState& state);
