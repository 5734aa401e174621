#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string_view>

// The cells of 超级列表框1, kept apart from Qt so that their cost can be measured on its own.
namespace kestrova::app {

// Rows of eight cells of code page 936 text. A row is one small heap block holding all its
// cells back to back plus the cell ends, so a typical rocket row costs about 150 bytes. Rows
// live in a deque: inserting at the top, the only insert the program makes, is O(1) whether the
// list holds ten rows or a million, and index i is still reached in O(1). Not thread-safe; the
// window uses it on the GUI thread only.
class RowStore {
 public:
  static constexpr int kColumns = 8;

  // An index outside 0..Count() inserts at the end, as the list control does. Returns the index
  // the new, empty row received.
  int Insert(int index) {
    const int count = Count();
    if (index < 0 || index > count) index = count;
    if (index == 0) {
      m_rows.emplace_front();
    } else if (index == count) {
      m_rows.emplace_back();
    } else {
      m_rows.emplace(m_rows.begin() + index);
    }
    return index;
  }

  // Out-of-range rows or columns are ignored, as the list control ignores them.
  void SetCell(int row, int column, std::string_view text) {
    if (row < 0 || row >= Count() || column < 0 || column >= kColumns) return;
    Row& target = m_rows[static_cast<std::size_t>(row)];
    const std::uint32_t begin = column == 0 ? 0 : target.ends[column - 1];
    const std::uint32_t end = target.ends[column];
    const std::uint32_t total = target.ends[kColumns - 1];
    const std::uint32_t oldLength = end - begin;
    const auto newLength = static_cast<std::uint32_t>(text.size());
    const std::uint32_t newTotal = total - oldLength + newLength;

    std::unique_ptr<char[]> bytes;
    if (newTotal > 0) {
      bytes = std::make_unique_for_overwrite<char[]>(newTotal);
      if (begin > 0) std::memcpy(bytes.get(), target.bytes.get(), begin);
      if (newLength > 0) std::memcpy(bytes.get() + begin, text.data(), newLength);
      if (total > end) std::memcpy(bytes.get() + begin + newLength, target.bytes.get() + end, total - end);
    }
    target.bytes = std::move(bytes);
    for (int later = column; later < kColumns; ++later) {
      target.ends[later] = target.ends[later] - oldLength + newLength;
    }
  }

  // Empty for a row or column that does not exist. The view is valid until the row changes.
  std::string_view Cell(int row, int column) const {
    if (row < 0 || row >= Count() || column < 0 || column >= kColumns) return {};
    const Row& source = m_rows[static_cast<std::size_t>(row)];
    const std::uint32_t begin = column == 0 ? 0 : source.ends[column - 1];
    const std::uint32_t end = source.ends[column];
    if (end == begin) return {};
    return {source.bytes.get() + begin, end - begin};
  }

  int Count() const { return static_cast<int>(m_rows.size()); }

 private:
  struct Row {
    std::unique_ptr<char[]> bytes;
    std::array<std::uint32_t, kColumns> ends{};
  };
  std::deque<Row> m_rows;
};

}  // namespace kestrova::app
