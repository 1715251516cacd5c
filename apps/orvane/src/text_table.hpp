#pragma once
// Plain-text tables for the terminal: columns padded to their widest cell, control characters in
// cells shown as escapes.
#include <ostream>
#include <string>
#include <vector>

namespace orvane::app {

class TextTable {
 public:
  explicit TextTable(std::vector<std::string> header) { _rows.push_back(std::move(header)); }
  void add(std::vector<std::string> row);
  // The header, a rule, and the rows; the last column is not padded.
  void print(std::ostream& out) const;

 private:
  std::vector<std::vector<std::string>> _rows;
};

// Shortens `text` to at most `limit` characters, ending in "..." when cut; line breaks become
// spaces so that a cell stays on its line.
std::string cell(const std::string& text, std::size_t limit = 60);

}  // namespace orvane::app
