// What one support-log line costs: WriteLog (the UTC stamp, the formatting and one WriteFile)
// on the log beside a folder, wall and CPU time per line. Run by bench/log_cost.py.
//   log_write_bench.exe <folder> <lines>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "bench/win/bench_clock.h"
#include "sys/support_log.h"
#include "update/pass_log_texts.h"
#include "update/updater_state.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: log_write_bench.exe <folder> <lines>\n");
        return 2;
    }
    InstallDir = std::string(argv[1]) + "\\";
    const int lines = std::atoi(argv[2]);
    OpenSupportLog();
    // A typical line: a download of a file in a sub-folder.
    DownloadRecord record{"data/maps/world map.dat", 200, 6291456, 412, 0, std::string()};
    const double wall = Seconds();
    const double cpu = CpuSeconds();
    for (int i = 0; i < lines; ++i) {
        WriteLog(DownloadText(record));
    }
    const double wallPer = (Seconds() - wall) / lines * 1e6;
    const double cpuPer = (CpuSeconds() - cpu) / lines * 1e6;
    std::printf("support log: %d lines, %.1f us wall and %.1f us CPU per line\n", lines, wallPer, cpuPer);
    return 0;
}
