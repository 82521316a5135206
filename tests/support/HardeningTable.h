// Rows for docs/HARDENING.md. tools/hardening-report names a file in
// ZEPHLAR_HARDENING_TABLE and runs the tests that inject faults and try bad
// inputs; each appends the tables it fills, one line per row, and
// the script turns the lines into Markdown. Without the variable nothing is
// written. Header-only, so the fuzz targets can use it too.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace hardening_detail {

inline std::string Cell(const std::string& text) {
  std::string cell;
  for (char c : text) cell += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
  return cell;
}

inline void Append(char kind, const std::string& table, const std::vector<std::string>& cells) {
  const char* path = std::getenv("ZEPHLAR_HARDENING_TABLE");
  if (path == nullptr || path[0] == '\0') return;
  std::string line = std::string(1, kind) + '\t' + Cell(table);
  for (const std::string& cell : cells) line += '\t' + Cell(cell);
  line += '\n';
  if (std::FILE* file = std::fopen(path, "a")) {
    std::fputs(line.c_str(), file);
    std::fclose(file);
  }
}

}  // namespace hardening_detail

// Starts (or restarts) table `title` with these column headings.
inline void HardeningTable(const std::string& title, const std::vector<std::string>& columns) {
  hardening_detail::Append('T', title, columns);
}

// One row of table `title`.
inline void HardeningRow(const std::string& title, const std::vector<std::string>& cells) {
  hardening_detail::Append('R', title, cells);
}
