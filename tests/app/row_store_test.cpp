#include <gtest/gtest.h>

#include <string>

#include "app/row_store.h"

namespace kestrova::app {
namespace {

TEST(RowStoreTest, TopInsertsPushRowsDownAndCellsStayApart) {
  RowStore rows;
  EXPECT_EQ(rows.Insert(0), 0);
  rows.SetCell(0, 7, "111");
  rows.SetCell(0, 0, "[mark]");
  rows.SetCell(0, 3, "gift");
  EXPECT_EQ(rows.Insert(0), 0);
  rows.SetCell(0, 7, "222");
  ASSERT_EQ(rows.Count(), 2);
  EXPECT_EQ(rows.Cell(0, 7), "222");
  EXPECT_EQ(rows.Cell(1, 7), "111");
  EXPECT_EQ(rows.Cell(1, 0), "[mark]");
  EXPECT_EQ(rows.Cell(1, 3), "gift");
  EXPECT_EQ(rows.Cell(1, 1), "");
  EXPECT_EQ(rows.Cell(0, 0), "");
}

TEST(RowStoreTest, RewritingACellKeepsItsNeighbours) {
  RowStore rows;
  rows.Insert(0);
  for (int column = 0; column < RowStore::kColumns; ++column) {
    rows.SetCell(0, column, std::string(static_cast<std::size_t>(column + 1), static_cast<char>('a' + column)));
  }
  rows.SetCell(0, 4, "longer than before");
  rows.SetCell(0, 2, "");
  EXPECT_EQ(rows.Cell(0, 1), "bb");
  EXPECT_EQ(rows.Cell(0, 2), "");
  EXPECT_EQ(rows.Cell(0, 3), "dddd");
  EXPECT_EQ(rows.Cell(0, 4), "longer than before");
  EXPECT_EQ(rows.Cell(0, 7), "hhhhhhhh");
  // Bytes of code page 936, including zero bytes, are kept as they are.
  rows.SetCell(0, 0, std::string("\xBB\xF0\0\xBC\xFD", 5));
  EXPECT_EQ(rows.Cell(0, 0), std::string_view("\xBB\xF0\0\xBC\xFD", 5));
}

TEST(RowStoreTest, OutOfRangeIsHarmless) {
  RowStore rows;
  EXPECT_EQ(rows.Insert(5), 0);   // past the end: at the end
  EXPECT_EQ(rows.Insert(-1), 1);  // negative: at the end
  EXPECT_EQ(rows.Insert(1), 1);   // in the middle
  rows.SetCell(3, 0, "x");
  rows.SetCell(0, 8, "x");
  rows.SetCell(-1, 0, "x");
  EXPECT_EQ(rows.Cell(3, 0), "");
  EXPECT_EQ(rows.Cell(0, -1), "");
  EXPECT_EQ(rows.Count(), 3);
}

}  // namespace
}  // namespace kestrova::app
