#include "manifest/mirror_url.h"

#include <string_view>

namespace {

const char kScheme[] = "https://";
const size_t kHostMostUnits = 64;
const size_t kPathMostUnits = 200;

bool IsLowerAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool IsPathUnit(char c) {
    return IsLowerAlnum(c) || (c >= 'A' && c <= 'Z') || c == '-' || c == '.' || c == '_' || c == '~';
}

// Labels of lowercase letters, digits and inner "-", at least two of them.
bool IsHostName(std::string_view host) {
    if (host.empty() || host.size() > kHostMostUnits) {
        return false;
    }
    size_t labels = 0;
    for (size_t start = 0; start <= host.size();) {
        size_t end = host.find('.', start);
        end = end == std::string_view::npos ? host.size() : end;
        const std::string_view label = host.substr(start, end - start);
        if (label.empty() || label.front() == '-' || label.back() == '-') {
            return false;
        }
        for (char c : label) {
            if (!IsLowerAlnum(c) && c != '-') {
                return false;
            }
        }
        ++labels;
        start = end + 1;
    }
    return labels >= 2;
}

bool ParsePort(std::string_view text, uint16_t& port) {
    if (text.empty() || text.size() > 5 || text.front() == '0') {
        return false;
    }
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

// "" or "/SEG[/SEG...]" once a trailing "/" is dropped.
bool IsBasePath(std::string_view path) {
    if (path.size() > kPathMostUnits) {
        return false;
    }
    for (size_t start = 0; start < path.size();) {
        if (path[start] != '/') {
            return false;
        }
        size_t end = path.find('/', start + 1);
        end = end == std::string_view::npos ? path.size() : end;
        const std::string_view segment = path.substr(start + 1, end - start - 1);
        if (segment.empty() || segment == "." || segment == "..") {
            return false;
        }
        for (char c : segment) {
            if (!IsPathUnit(c)) {
                return false;
            }
        }
        start = end;
    }
    return true;
}

}  // namespace

bool ParseMirrorUrl(const std::string& text, MirrorBase& mirror) {
    const std::string_view url(text);
    if (url.substr(0, sizeof(kScheme) - 1) != kScheme) {
        return false;
    }
    const std::string_view rest = url.substr(sizeof(kScheme) - 1);
    const size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    std::string_view path = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    if (!path.empty() && path.back() == '/') {
        path.remove_suffix(1);
    }
    // A user name, a query or a fragment fails the host's or the path's rule.
    const size_t colon = authority.find(':');
    MirrorBase parsed;
    const std::string_view host = authority.substr(0, colon);
    if (!IsHostName(host) || !IsBasePath(path) ||
        (colon != std::string_view::npos && !ParsePort(authority.substr(colon + 1), parsed.port))) {
        return false;
    }
    parsed.host = std::string(host);
    parsed.path = std::string(path);
    parsed.url = kScheme + parsed.host;
    if (parsed.port != 443) {
        parsed.url += ':';
        parsed.url += std::to_string(parsed.port);
    }
    parsed.url += parsed.path;
    mirror = parsed;
    return true;
}
