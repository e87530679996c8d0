#include "UriList.h"

#include <cctype>
#include <cstring>

namespace corvex {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = char(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    const std::size_t n = std::strlen(prefix);
    if (text.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

} // namespace

bool LocalFileOfUri(const std::string& uri, const std::string& hostName, std::string& path)
{
    if (!StartsWithNoCase(uri, "file:"))
        return false;
    std::string rest = uri.substr(5);
    if (rest.compare(0, 2, "//") == 0) {
        // An authority: the machine the file is on.
        const std::size_t slash = rest.find('/', 2);
        if (slash == std::string::npos)
            return false;
        const std::string host = rest.substr(2, slash - 2);
        if (!host.empty() && host != "localhost" && host != hostName)
            return false;
        rest = rest.substr(slash);
    }
    if (rest.empty() || rest[0] != '/')
        return false;
    std::string decoded;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '?' || rest[i] == '#')
            break; // a query or fragment is no part of a file's path
        if (rest[i] != '%') {
            decoded += rest[i];
            continue;
        }
        const int high = i + 2 < rest.size() ? HexValue(rest[i + 1]) : -1;
        const int low = i + 2 < rest.size() ? HexValue(rest[i + 2]) : -1;
        if (high < 0 || low < 0 || (high == 0 && low == 0))
            return false;
        decoded += char(high * 16 + low);
        i += 2;
    }
    path = decoded;
    return true;
}

std::vector<std::string> LocalFilesOfUriList(const std::string& list, const std::string& hostName)
{
    std::vector<std::string> paths;
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find('\n', start);
        if (end == std::string::npos)
            end = list.size();
        std::string line = list.substr(start, end - start);
        start = end + 1;
        // Some sources end lines with LF alone, and some add a NUL terminator.
        while (!line.empty() && (line.back() == '\r' || line.back() == '\0'))
            line.pop_back();
        std::string path;
        if (!line.empty() && line[0] != '#' && LocalFileOfUri(line, hostName, path))
            paths.push_back(path);
    }
    return paths;
}

} // namespace corvex
