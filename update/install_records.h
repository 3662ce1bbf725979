// The installation's own small records beside the program: which channel it follows and
// which channel its installed files came from.
#pragma once

#include <string>

#include "manifest/channel_name.h"

// The channel InstallDir follows ("" for the default). An absent or unreadable file is the
// default channel; so is a malformed one, which is logged.
std::string ReadFollowedChannel();
// The channel the installed files came from ("" for the default, and when unknown).
std::string ReadInstalledFrom();
// Records that the installed files are `channel`'s release (nothing when it already says so).
void KeepInstalledFrom(const std::string& channel);

// "--channel NAME": follow `name` from now on ("stable": the default channel again, the file
// is removed). False with nothing changed when the name is no channel name or the file could
// not be written; every outcome is logged.
bool FollowChannel(const std::string& name);
