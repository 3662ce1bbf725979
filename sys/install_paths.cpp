#include "sys/install_paths.h"

std::string InstallDir;

std::string MakeInstallPath(const std::string& relative) {
    // Nothing is normalised: the manifest's names are refused earlier if they climb out.
    std::string path = InstallDir + relative;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

std::vector<std::string> ParentDirectoriesBelowInstallDir(const std::string& fullPath) {
    std::vector<std::string> folders;
    for (size_t i = InstallDir.size(); i < fullPath.size(); ++i) {
        if (fullPath[i] == '\\') {
            folders.push_back(fullPath.substr(0, i));
        }
    }
    return folders;
}

std::string WithoutLongPathPrefix(const std::string& path) {
    // The system reads "UNC" in any letter case.
    if (path.size() >= 8 && EqualIgnoringAsciiCase(path.substr(0, 8), "\\\\?\\UNC\\")) {
        return "\\\\" + path.substr(8);
    }
    if (path.rfind("\\\\?\\", 0) == 0) {
        return path.substr(4);
    }
    return path;
}

std::string OnePathForm(const std::string& given, const std::string& absoluteForm,
                        const std::string& longForm) {
    // The long form fails for a path the system cannot walk (a folder that denies listing,
    // a name with no form in the ANSI code page); the absolute form is then the best left.
    if (!longForm.empty()) {
        return WithoutLongPathPrefix(longForm);
    }
    if (!absoluteForm.empty()) {
        return WithoutLongPathPrefix(absoluteForm);
    }
    return WithoutLongPathPrefix(given);
}

bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) {
            return false;
        }
    }
    return true;
}
