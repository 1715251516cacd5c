#include "text_table.hpp"

#include <algorithm>

#include "terminal_text.hpp"

namespace orvane::app {
namespace {

// Characters, not bytes: UTF-8 continuation bytes are not counted.
std::size_t width(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

}  // namespace

void TextTable::add(std::vector<std::string> row) {
  for (auto& text : row) text = terminal_safe(text);
  _rows.push_back(std::move(row));
}

void TextTable::print(std::ostream& out) const {
  std::vector<std::size_t> widths;
  for (const auto& row : _rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], width(row[i]));
  }
  const auto print_row = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - width(row[i]) + 2, ' ');
    }
    out << line << '\n';
  };
  print_row(_rows.front());
  std::size_t total = 0;
  for (std::size_t i = 0; i < widths.size(); ++i)
    total += widths[i] + (i + 1 < widths.size() ? 2 : 0);
  out << std::string(total, '-') << '\n';
  for (std::size_t i = 1; i < _rows.size(); ++i) print_row(_rows[i]);
}

std::string cell(const std::string& text, std::size_t limit) {
  std::string out;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c & 0xC0) != 0x80) {
      if (chars == limit) {
        // Cut before this character, leaving room for the marker.
        std::size_t keep = out.size();
        for (int n = 0; n < 3 && keep > 0;) {
          --keep;
          if ((out[keep] & 0xC0) != 0x80) ++n;
        }
        return out.substr(0, keep) + "...";
      }
      ++chars;
    }
    out += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
  }
  return out;
}

}  // namespace orvane::app
