// Command-line options of the tool's commands: "--name value" or "--name=value", and
// positional arguments in any order; "--" ends the options.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ParsedArgs {
    std::map<std::string, std::vector<std::string>> values;  // option -> values in order
    std::vector<std::string> positionals;
    std::vector<std::string> flags;  // options without a value that were given
    bool help = false;               // "--help" or "-h" anywhere
};

// `valued` names the options that take a value (without "--"); any other option is an error.
bool ParseArgs(const std::vector<std::string>& args,
               const std::vector<std::string>& valued,
               ParsedArgs& out,
               std::string& error);
// The same, with `flags` naming the options that take no value ("--critical").
bool ParseArgs(const std::vector<std::string>& args,
               const std::vector<std::string>& valued,
               const std::vector<std::string>& flags,
               ParsedArgs& out,
               std::string& error);
// Whether the flag `name` was given.
bool HasFlag(const ParsedArgs& args, const std::string& name);

// The one value of `name`: false when it was given more than once, or never while `required`.
bool SingleValue(const ParsedArgs& args,
                 const std::string& name,
                 bool required,
                 std::string& value,
                 std::string& error);
