#include "sys/bot_process.h"

const char kBotExecutableName[] = "Vorlane.exe";
