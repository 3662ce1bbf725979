#include "tools/cli_args.h"

#include <algorithm>

namespace {
bool Contains(const std::vector<std::string>& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}
}  // namespace

bool ParseArgs(const std::vector<std::string>& args,
               const std::vector<std::string>& valued,
               ParsedArgs& out,
               std::string& error) {
    return ParseArgs(args, valued, {}, out, error);
}

bool HasFlag(const ParsedArgs& args, const std::string& name) {
    return Contains(args.flags, name);
}

bool ParseArgs(const std::vector<std::string>& args,
               const std::vector<std::string>& valued,
               const std::vector<std::string>& flags,
               ParsedArgs& out,
               std::string& error) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            out.positionals.push_back(arg);  // "-" alone is a positional (standard input)
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            out.help = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            error = "unknown option " + arg;
            return false;
        }
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        if (Contains(valued, name)) {
            if (eq != std::string::npos) {
                out.values[name].push_back(arg.substr(eq + 1));
            } else if (i + 1 < args.size()) {
                out.values[name].push_back(args[++i]);
            } else {
                error = "--" + name + " needs a value";
                return false;
            }
        } else if (Contains(flags, name) && eq == std::string::npos) {
            if (!Contains(out.flags, name)) {
                out.flags.push_back(name);
            }
        } else if (Contains(flags, name)) {
            error = "--" + name + " takes no value";
            return false;
        } else {
            error = "unknown option --" + name;
            return false;
        }
    }
    return true;
}

bool SingleValue(const ParsedArgs& args,
                 const std::string& name,
                 bool required,
                 std::string& value,
                 std::string& error) {
    auto it = args.values.find(name);
    if (it == args.values.end()) {
        if (required) {
            error = "--" + name + " is required";
        }
        return !required;
    }
    if (it->second.size() > 1) {
        error = "--" + name + " is given more than once";
        return false;
    }
    value = it->second.front();
    return true;
}
