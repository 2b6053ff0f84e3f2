#include "recmgr/load_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace recmgr::store {
namespace {

// Rows through the sorter come back as a stable sort by form would give
// them, whether they stayed in memory or went through many runs in the
// temporary file: equal forms across runs included, forms of more than 8
// bytes differing only after their 8th, buffers smaller than a row.
TEST(LoadSorterTest, MergesInFormThenPositionOrder) {
  struct Case {
    size_t form_length, record_length, buffer_bytes, rows;
    int symbols;         // each form byte one of these many values
    bool shared_prefix;  // the first 8 bytes the same in every form
  };
  const Case cases[] = {
      {6, 44, 1 << 20, 500, 4, false},  // one run, in memory
      {2, 4, 64, 1000, 3, false},       // many runs, many equal forms
      {12, 3, 100, 300, 4, true},       // one prefix: the rest decides
      {10, 2, 200, 300, 2, false},      // small groups of equal prefixes
      {8, 2, 300, 400, 3, false},       // exactly the prefix
      {1, 1, 1, 50, 3, false},          // one row per run
      {4, 4, 64, 0, 2, false},          // nothing
  };
  const char alphabet[] = {'\x00', '\x7f', '\x80', '\xff'};
  for (const Case& c : cases) {
    SCOPED_TRACE("form " + std::to_string(c.form_length) + " rows " + std::to_string(c.rows) +
                 " buffer " + std::to_string(c.buffer_bytes));
    std::mt19937 rng(static_cast<unsigned>(c.rows + c.form_length));
    using Row = std::tuple<std::string, int64_t, std::string>;
    std::vector<Row> rows;
    LoadSorter sorter(c.form_length, c.record_length, c.buffer_bytes);
    for (size_t i = 0; i < c.rows; ++i) {
      std::string form(c.form_length, '\x7f');
      for (size_t b = c.shared_prefix ? 8 : 0; b < c.form_length; ++b) {
        form[b] = alphabet[rng() % static_cast<unsigned>(c.symbols)];
      }
      std::string record(c.record_length, '\0');
      for (char& ch : record) ch = static_cast<char>(rng());
      const int64_t id = 100 + static_cast<int64_t>(i) * 3;
      rows.emplace_back(form, id, record);
      ASSERT_TRUE(sorter.Add(reinterpret_cast<const uint8_t*>(form.data()), id,
                             reinterpret_cast<const uint8_t*>(record.data())));
    }
    // std::string compares its bytes as unsigned, as memcmp does.
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return std::get<0>(a) < std::get<0>(b); });
    ASSERT_TRUE(sorter.StartMerge());
    if (c.buffer_bytes < c.rows * (c.form_length + c.record_length + 8)) {
      EXPECT_GT(sorter.runs(), 1u);
    }
    std::vector<Row> merged;
    while (!sorter.AtEnd()) {
      merged.emplace_back(
          std::string(reinterpret_cast<const char*>(sorter.form()), c.form_length), sorter.id(),
          std::string(reinterpret_cast<const char*>(sorter.record()), c.record_length));
      ASSERT_TRUE(sorter.Next());
    }
    EXPECT_EQ(merged, rows);
  }
}

}  // namespace
}  // namespace recmgr::store
