// Distance matrices of the centers extraction: SymetricDistanceMatrix (center to center,
// a lower triangle) and AsymetricDistanceMatrix (centers against items, sparse lines).
// Ownership: a matrix owns its cells. Threads: one training run owns its matrices; no
// locking inside.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

class DistanceMatrix {
 public:
  virtual float Get(std::uint32_t line, std::uint32_t column) const = 0;
  virtual void Set(std::uint32_t line, std::uint32_t column, float value) = 0;
  // Elements (symmetric) or lines (asymmetric).
  virtual std::uint32_t GetNumberOfElems() const noexcept = 0;
  virtual std::uint32_t GetNumberOfColumns() const noexcept = 0;
  // Symmetric: every stored cell and the remembered default; asymmetric: the default only.
  virtual void Fill(float value) = 0;
  // Removes element (symmetric) or line (asymmetric) k.
  virtual void Remove(std::uint32_t k) = 0;
  virtual ~DistanceMatrix() = default;
};

// n elements as a lower triangle: row i holds columns 0..i, so n * (n + 1) / 2 floats.
// (i, j) is read from row max(i, j), column min(i, j). BadCoordonates "The matrix doesn't
// have so many elements!" for an index at or beyond n.
class SymetricDistanceMatrix : public DistanceMatrix {
 public:
  explicit SymetricDistanceMatrix(std::uint32_t elements = 0, float value = 0.0f);
  float Get(std::uint32_t line, std::uint32_t column) const override;
  void Set(std::uint32_t line, std::uint32_t column, float value) override;
  std::uint32_t GetNumberOfElems() const noexcept override {
    return static_cast<std::uint32_t>(m_rows.size());
  }
  std::uint32_t GetNumberOfColumns() const noexcept override { return GetNumberOfElems(); }
  void Fill(float value) override;
  // Deletes row k and cell k of every later row.
  void Remove(std::uint32_t k) override;
  // Appends one element whose cells hold the default value.
  void AddElement();
  // Bytes held by the cells (for the cost reports).
  std::uint64_t CellBytes() const noexcept;

 private:
  std::vector<std::vector<float>> m_rows;
  float m_default;
};

// Lines (centers) against columns (items); each line keeps only the cells set, in an
// ordered map, and absent cells read as the default value. BadCoordonates "AsymetricDistance
// Matrix hasn't a %d numbered line!" / "... column!"; "Line nr. %d does not exist! The matrix
// only has %d lines!" when removing or visiting a missing line.
class AsymetricDistanceMatrix : public DistanceMatrix {
 public:
  using LineVisitor = std::function<void(std::uint32_t column, float& value)>;

  explicit AsymetricDistanceMatrix(std::uint32_t lines = 0, std::uint32_t columns = 0,
                                   float value = 0.0f);
  float Get(std::uint32_t line, std::uint32_t column) const override;
  void Set(std::uint32_t line, std::uint32_t column, float value) override;
  std::uint32_t GetNumberOfElems() const noexcept override { return GetNumberOfLines(); }
  std::uint32_t GetNumberOfLines() const noexcept {
    return static_cast<std::uint32_t>(m_lines.size());
  }
  std::uint32_t GetNumberOfColumns() const noexcept override { return m_columns; }
  void Fill(float value) override { m_default = value; }
  void Remove(std::uint32_t k) override;
  void AddLine() { m_lines.emplace_back(); }
  // Drops every stored cell of line k (the line stays).
  void ClearLine(std::uint32_t k);
  // Appends the other matrix's lines; BadAsymetricDistanceMatrix "The number of columns
  // differs between two AsymetricDistanceMatrix-es!" when both have columns and they
  // differ; a matrix without columns takes the other's count.
  void Append(const AsymetricDistanceMatrix& other);
  // Calls visitor for every stored cell of line k, in column order.
  void VisitLine(std::uint32_t k, const LineVisitor& visitor);
  std::uint64_t StoredCells() const noexcept;

 private:
  // BadCoordonates for a line or column outside the matrix.
  void CheckCell(std::uint32_t line, std::uint32_t column) const;
  void CheckLine(std::uint32_t k) const;

  std::vector<std::map<std::uint32_t, float>> m_lines;
  std::uint32_t m_columns;
  float m_default;
};
