// One update pass on the worker thread: check, then install.
#pragma once

void UpdateWorker();
