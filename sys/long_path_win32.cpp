#include "sys/long_path_win32.h"

#include <windows.h>

#include <vector>

#include "sys/install_paths.h"

namespace {

const wchar_t kLongPrefix[] = L"\\\\?\\";
const wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

std::wstring WidenAnsi(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int count = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), count);
    return wide;
}

// The absolute form, with "/" turned into "\" and "." and ".." resolved, as the system
// resolves a path without the prefix; the path itself when that fails.
std::wstring FullPath(const std::wstring& path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) {
            break;
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(length);  // the size it needs, terminator included
    }
    return path;
}

// A path the system gave back in the "\\?\" form, without the prefix.
std::wstring WithoutPrefix(const std::wstring& path) {
    if (path.rfind(kLongUncPrefix, 0) == 0) {
        return L"\\\\" + path.substr(8);
    }
    return path.rfind(kLongPrefix, 0) == 0 ? path.substr(4) : path;
}

// What GetLongPathNameW or GetShortPathNameW makes of `path`, without the prefix; "" when
// the system gives none.
using PathFormCall = DWORD(WINAPI*)(LPCWSTR, LPWSTR, DWORD);
std::wstring PathForm(PathFormCall call, const std::wstring& path) {
    if (path.empty()) {
        return path;
    }
    std::vector<wchar_t> buffer(path.size() + 1);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = call(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < buffer.size()) {
            return WithoutPrefix(std::wstring(buffer.data(), length));
        }
        buffer.resize(length);  // the size it needs, terminator included
    }
    return std::wstring();
}

std::wstring LongNameOf(const std::wstring& path) {
    return PathForm(GetLongPathNameW, path);
}

}  // namespace

std::wstring FullPathW(const std::string& path) {
    const std::wstring wide = WidenAnsi(path);
    return wide.empty() ? wide : FullPath(wide);
}

std::wstring LongPathW(const std::string& path) {
    if (path.rfind("\\\\?\\", 0) == 0) {
        return WidenAnsi(path);
    }
    const std::wstring full = FullPathW(path);
    if (full.empty()) {
        return full;
    }
    if (full.rfind(L"\\\\.\\", 0) == 0) {
        return full;  // a device name keeps its own form
    }
    if (full.rfind(L"\\\\", 0) == 0) {
        return kLongUncPrefix + full.substr(2);
    }
    return kLongPrefix + full;
}

std::wstring ShortPathW(const std::string& path) {
    return PathForm(GetShortPathNameW, LongPathW(path));
}

std::wstring LongFormW(const std::string& path) {
    // Windows takes a plain path here only below MAX_PATH, and a "\\?\" one of any length;
    // Wine passes a "\\?\" path back unchanged. So the plain form first, then the other.
    std::wstring longForm = LongNameOf(FullPathW(path));
    return longForm.empty() ? LongNameOf(LongPathW(path)) : longForm;
}

std::string NarrowPathExactly(const std::wstring& path) {
    if (path.empty()) {
        return std::string();
    }
    // Under a UTF-8 code page every character has a form, and the call refuses to report a
    // lost one.
    BOOL lost = FALSE;
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int count = WideCharToMultiByte(CP_ACP, flags, path.data(), static_cast<int>(path.size()), nullptr,
                                          0, nullptr, utf8 ? nullptr : &lost);
    if (count <= 0 || lost) {
        return std::string();
    }
    std::string text(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_ACP, flags, path.data(), static_cast<int>(path.size()), text.data(), count, nullptr,
                        nullptr);
    return text;
}

std::string OneFormOfPath(const std::string& path) {
    return OnePathForm(path, NarrowPathExactly(FullPathW(path)), NarrowPathExactly(LongFormW(path)));
}

std::string NarrowPath(const std::wstring& path) {
    if (path.empty()) {
        return std::string();
    }
    const int count = WideCharToMultiByte(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string text(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_ACP, 0, path.data(), static_cast<int>(path.size()), text.data(), count, nullptr,
                        nullptr);
    return text;
}
