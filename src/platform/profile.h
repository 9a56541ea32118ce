// Reading one value from a private-profile (INI) file, the way the Windows
// private-profile functions deliver it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace torvane {

// The value of key in section of the file at path, cut to room - 1
// characters (the room counts a terminator, as a character buffer would).
//
// - A missing or unreadable file, section or key delivers defaultValue
//   (cut the same way); an empty path names no file.
// - Section and key names match without regard to ASCII letter case.
// - The value is the text after the first '=' of the key's line with the
//   surrounding blanks removed; a value enclosed in a matching pair of single
//   or double quotation marks is delivered without them.
// - Only the first section of a name is searched, and in it the first line of
//   the key. Lines without '=' and lines before the first section header hold
//   no keys; a line starting with ';' is a comment.
std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, std::size_t room,
                              const std::string& path);

}  // namespace torvane
