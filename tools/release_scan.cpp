#include "tools/release_scan.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "tools/name_rules.h"

namespace fs = std::filesystem;

bool ScanReleaseFolder(const std::string& folder,
                       std::vector<ReleaseFile>& files,
                       std::vector<std::string>& problems) {
    std::error_code ec;
    const fs::path root(folder);
    if (!fs::is_directory(root, ec)) {
        problems.push_back(folder + ": not a folder");
        return false;
    }
    const size_t problemsBefore = problems.size();
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::directory_entry& entry = *it;
        const std::string name = entry.path().lexically_relative(root).generic_string();
        std::error_code statEc;
        const fs::file_status own = entry.symlink_status(statEc);
        const fs::file_status target = entry.status(statEc);
        if (fs::is_directory(own)) {
            continue;  // walked into; empty folders leave no trace in a manifest
        }
        if (fs::is_symlink(own) && fs::is_directory(target)) {
            problems.push_back(QuoteName(name) + ": a link to a folder; copy the folder in instead");
            continue;
        }
        if (!fs::is_regular_file(target)) {
            problems.push_back(QuoteName(name) + (fs::is_symlink(own) ? ": a link that leads to no file"
                                                                      : ": not a regular file"));
            continue;
        }
        const auto size = fs::file_size(entry.path(), statEc);
        if (statEc) {
            problems.push_back(QuoteName(name) + ": " + statEc.message());
            continue;
        }
        files.push_back({name, entry.path().string(), static_cast<int64_t>(size)});
    }
    if (ec) {
        problems.push_back(folder + ": cannot read the folder: " + ec.message());
    }
    std::sort(files.begin(), files.end(),
              [](const ReleaseFile& a, const ReleaseFile& b) { return a.name < b.name; });
    return problems.size() == problemsBefore;
}
