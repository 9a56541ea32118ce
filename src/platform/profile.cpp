#include "platform/profile.h"

#include <algorithm>
#include <fstream>

namespace torvane {

namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

std::string CutToRoom(std::string_view value, std::size_t room) {
  if (room == 0) return {};
  return std::string(value.substr(0, room - 1));
}

enum class Position { BeforeSection, InSection, PastSection };

}  // namespace

std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, std::size_t room,
                              const std::string& path) {
  if (path.empty()) return CutToRoom(defaultValue, room);
  std::ifstream file(path, std::ios::binary);
  if (!file) return CutToRoom(defaultValue, room);

  Position position = Position::BeforeSection;
  std::string line;
  bool firstLine = true;
  while (position != Position::PastSection && std::getline(file, line)) {
    std::string_view text(line);
    // A byte-order mark some editors put in front of UTF-8 text.
    if (firstLine && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    firstLine = false;
    text = Trim(text);
    if (text.empty() || text.front() == ';') continue;

    if (text.front() == '[') {
      const auto close = text.find(']');
      if (close == std::string_view::npos) continue;
      const bool match = EqualsIgnoringCase(Trim(text.substr(1, close - 1)), section);
      if (position == Position::InSection) {
        position = Position::PastSection;
      } else if (match) {
        position = Position::InSection;
      }
      continue;
    }

    if (position != Position::InSection) continue;
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    if (!EqualsIgnoringCase(Trim(text.substr(0, equals)), key)) continue;
    return CutToRoom(Unquote(Trim(text.substr(equals + 1))), room);
  }
  return CutToRoom(defaultValue, room);
}

}  // namespace torvane
