// Distance matrices: a lower triangle of rows (row i holds i + 1 cells) and sparse lines of
// ordered maps. Get/Set are O(1) for the triangle, O(log cells of the line) for the lines;
// removing element k of the triangle is O(n^2 - k^2) cell moves. Tested by
// tests/engines/knn2/matrix_cluster_test.cpp.
#include "engines/knn2/distancematrix.h"

#include <algorithm>

#include "common/astrace.h"

SymetricDistanceMatrix::SymetricDistanceMatrix(std::uint32_t elements, float value)
    : m_default(value) {
  m_rows.reserve(elements);
  for (std::uint32_t i = 0; i < elements; ++i) m_rows.emplace_back(i + 1, value);
}

float SymetricDistanceMatrix::Get(std::uint32_t line, std::uint32_t column) const {
  const std::uint32_t n = GetNumberOfElems();
  if (line >= n || column >= n) {
    AS_THROW(0, BadCoordonates, "The matrix doesn't have so many elements!");
  }
  return m_rows[std::max(line, column)][std::min(line, column)];
}

void SymetricDistanceMatrix::Set(std::uint32_t line, std::uint32_t column, float value) {
  const std::uint32_t n = GetNumberOfElems();
  if (line >= n || column >= n) {
    AS_THROW(0, BadCoordonates, "The matrix doesn't have so many elements!");
  }
  m_rows[std::max(line, column)][std::min(line, column)] = value;
}

void SymetricDistanceMatrix::Fill(float value) {
  m_default = value;
  for (auto& row : m_rows) std::fill(row.begin(), row.end(), value);
}

void SymetricDistanceMatrix::Remove(std::uint32_t k) {
  if (k >= GetNumberOfElems()) {
    AS_THROW(0, BadCoordonates, "The matrix doesn't have so many elements!");
  }
  m_rows.erase(m_rows.begin() + k);
  for (std::size_t i = k; i < m_rows.size(); ++i) m_rows[i].erase(m_rows[i].begin() + k);
}

void SymetricDistanceMatrix::AddElement() {
  m_rows.emplace_back(m_rows.size() + 1, m_default);
}

std::uint64_t SymetricDistanceMatrix::CellBytes() const noexcept {
  std::uint64_t bytes = 0;
  for (const auto& row : m_rows) bytes += row.capacity() * sizeof(float);
  return bytes;
}

AsymetricDistanceMatrix::AsymetricDistanceMatrix(std::uint32_t lines, std::uint32_t columns,
                                                 float value)
    : m_lines(lines), m_columns(columns), m_default(value) {}

void AsymetricDistanceMatrix::CheckLine(std::uint32_t k) const {
  if (k >= GetNumberOfLines()) {
    AS_THROW(0, BadCoordonates, "Line nr. %d does not exist! The matrix only has %d lines!",
             static_cast<int>(k), static_cast<int>(GetNumberOfLines()));
  }
}

void AsymetricDistanceMatrix::CheckCell(std::uint32_t line, std::uint32_t column) const {
  if (line >= GetNumberOfLines()) {
    AS_THROW(0, BadCoordonates, "AsymetricDistanceMatrix hasn't a %d numbered line!",
             static_cast<int>(line));
  }
  if (column >= m_columns) {
    AS_THROW(0, BadCoordonates, "AsymetricDistanceMatrix hasn't a %d numbered column!",
             static_cast<int>(column));
  }
}

float AsymetricDistanceMatrix::Get(std::uint32_t line, std::uint32_t column) const {
  CheckCell(line, column);
  const auto& cells = m_lines[line];
  const auto found = cells.find(column);
  return found == cells.end() ? m_default : found->second;
}

void AsymetricDistanceMatrix::Set(std::uint32_t line, std::uint32_t column, float value) {
  CheckCell(line, column);
  m_lines[line][column] = value;
}

void AsymetricDistanceMatrix::Remove(std::uint32_t k) {
  CheckLine(k);
  m_lines.erase(m_lines.begin() + k);
}

void AsymetricDistanceMatrix::ClearLine(std::uint32_t k) {
  CheckLine(k);
  m_lines[k].clear();
}

void AsymetricDistanceMatrix::Append(const AsymetricDistanceMatrix& other) {
  if (m_columns != 0 && other.m_columns != 0 && m_columns != other.m_columns) {
    AS_THROW(0, BadAsymetricDistanceMatrix,
             "The number of columns differs between two AsymetricDistanceMatrix-es!");
  }
  if (m_columns == 0) m_columns = other.m_columns;
  m_lines.insert(m_lines.end(), other.m_lines.begin(), other.m_lines.end());
}

void AsymetricDistanceMatrix::VisitLine(std::uint32_t k, const LineVisitor& visitor) {
  CheckLine(k);
  for (auto& cell : m_lines[k]) visitor(cell.first, cell.second);
}

std::uint64_t AsymetricDistanceMatrix::StoredCells() const noexcept {
  std::uint64_t cells = 0;
  for (const auto& line : m_lines) cells += line.size();
  return cells;
}
