#pragma once

#include <string>
#include <vector>

namespace corvex {

// The local files of a text/uri-list (RFC 2483), as file managers offer dropped files: one URI a
// line, lines ending in CR LF, '#' lines comments. Only file: URIs of this machine count (no host,
// "localhost" or `hostName`); their percent-escapes are decoded into the path's bytes.
std::vector<std::string> LocalFilesOfUriList(const std::string& list, const std::string& hostName);

// The path of one file URI ("file:///a%20b.wav" gives "/a b.wav"); false for any other URI, a
// file of another host or a malformed escape.
bool LocalFileOfUri(const std::string& uri, const std::string& hostName, std::string& path);

} // namespace corvex
