#include "sys/bot_process.h"

#include "sys/install_paths.h"

const char kBotExecutableName[] = "Vorlane.exe";

bool IsBotImagePath(const std::string& imagePath, const std::string& botPath) {
    // A process started through a "\\?\" path may report its image in that form.
    return EqualIgnoringAsciiCase(WithoutLongPathPrefix(imagePath), botPath);
}
