// vorlane-release: the publisher's command-line tool.
#include <unistd.h>

#include <iostream>

#include "tools/commands.h"

int main(int argc, char** argv) {
    CommandIo io{std::cout, std::cerr, std::cin, isatty(STDERR_FILENO) == 1};
    const int code = RunTool(Args(argv + 1, argv + argc), io);
    std::cout.flush();
    return std::cout.fail() ? kExitFailed : code;
}
