#include "recmgr/file_definition.h"

#include <gtest/gtest.h>

#include "recmgr/record_manager.h"
#include "recmgr/testing/engine_test_util.h"

namespace recmgr {
namespace {

using testing::Definition;

TEST(FileDefinitionTest, DecodesHandBuiltBuffer) {
  // Record length 44, two keys: key 0 one binary segment at 1 (2 bytes),
  // key 1 two segments (3..6 plain duplicates, 40..41 descending).
  const uint8_t bytes[] = {44, 0, 0, 16, 2,    0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0,   // file
                           1,  0, 2, 0,  4,    0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0,   // key 0
                           3,  0, 4, 0,  0x11, 0, 0, 0, 0, 0, 0, ' ', 0, 0, 0, 0,   // key 1 a
                           40, 0, 2, 0,  0x41, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0};  // key 1 b
  FileDefinition def;
  ASSERT_EQ(DecodeDefinition(bytes, sizeof(bytes), &def), kOk);
  EXPECT_EQ(def.record_length, 44);
  EXPECT_EQ(def.page_size, 4096);
  ASSERT_EQ(def.keys.size(), 2u);
  EXPECT_EQ(def.keys[0].length, 2);
  EXPECT_FALSE(def.keys[0].duplicates);
  ASSERT_EQ(def.keys[1].segments.size(), 2u);
  EXPECT_EQ(def.keys[1].length, 6);
  EXPECT_TRUE(def.keys[1].duplicates);
  EXPECT_EQ(def.keys[1].segments[0].null_value, ' ');
  EXPECT_EQ(def.keys[1].segments[1].flags & kSegDescending, kSegDescending);

  const std::string encoded = EncodeDefinition(def, 7, {7, 3});
  ASSERT_EQ(encoded.size(), 64u);
  EXPECT_EQ(static_cast<uint8_t>(encoded[6]), 7);       // record count
  EXPECT_EQ(static_cast<uint8_t>(encoded[16 + 6]), 7);  // key 0 distinct
  EXPECT_EQ(static_cast<uint8_t>(encoded[32 + 6]), 3);  // key 1 distinct
  EXPECT_EQ(static_cast<uint8_t>(encoded[48 + 6]), 3);
  EXPECT_EQ(static_cast<uint8_t>(encoded[32 + 4]) & kSegContinued, kSegContinued);
  EXPECT_EQ(static_cast<uint8_t>(encoded[48 + 4]) & kSegContinued, 0);
}

TEST(FileDefinitionTest, RefusesDefinitionsOutsideTheLimits) {
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
  const std::string with_table = Definition(10, {{{1, 2, kSegAlternate}}}, table);
  const std::vector<std::vector<testing::SegmentSpec>> too_many_keys(129, {{1, 1, kSegDuplicates}});
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"record length 0", Definition(0, {{{1, 1}}})},
      {"record length 1537", Definition(1537, {{{1, 1}}})},
      {"no keys", Definition(10, {})},
      {"129 keys (key numbers are signed bytes)", Definition(10, too_many_keys)},
      {"segment past the record", Definition(10, {{{9, 3}}})},
      {"segment at position 0", Definition(10, {{{0, 2}}})},
      {"empty segment", Definition(10, {{{1, 0}}})},
      {"key of 256 bytes", Definition(1000, {{{1, 200}, {201, 56}}})},
      {"segments cut off", Definition(10, {{{1, 2}}, {{3, 2}}}).substr(0, 40)},
      {"table cut off", with_table.substr(0, with_table.size() - 1)},
      {"file header cut off", std::string(10, '\0')},
  };
  for (const Case& c : cases) {
    FileDefinition def;
    def.record_length = 99;
    EXPECT_NE(
        DecodeDefinition(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), &def),
        kOk)
        << c.name;
    EXPECT_EQ(def.record_length, 99) << c.name << ": output touched";
  }
  FileDefinition def;
  const std::string edge = Definition(1536, {{{1, 200}, {201, 55}}, {{1536, 1}}});
  EXPECT_EQ(DecodeDefinition(reinterpret_cast<const uint8_t*>(edge.data()), edge.size(), &def),
            kOk);
  EXPECT_EQ(def.keys[0].length, 255);
}

TEST(FileDefinitionTest, ComparableFormPerSegmentKind) {
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
  for (int c = 'a'; c <= 'z'; ++c) table[c] = static_cast<uint8_t>(c - 32);
  const std::string bytes = Definition(
      8, {{{1, 2, kSegBinary}, {3, 2, kSegAlternate}, {5, 2, kSegDescending}, {7, 2}}}, table);
  FileDefinition def;
  ASSERT_EQ(DecodeDefinition(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &def),
            kOk);
  const uint8_t record[8] = {0x01, 0x02, 'a', 'B', 0x00, 0x10, 'x', 'y'};
  uint8_t raw[8];
  ExtractKey(def.keys[0], record, raw);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(raw), 8),
            std::string(reinterpret_cast<const char*>(record), 8));
  std::string form;
  ComparableForm(def, def.keys[0], raw, &form);
  EXPECT_EQ(form, std::string("\x02\x01"
                              "AB\xFF\xEF"
                              "xy",
                              8));
}

TEST(FileDefinitionTest, KeyBytesCopiedExactlyWhateverTheSegments) {
  // Segments of every short length, adjacent ones (copied as one span),
  // out of order, repeated, and longer than a short copy.
  const std::vector<std::vector<testing::SegmentSpec>> keys = {
      {{1, 1}}, {{2, 2}}, {{3, 3}}, {{4, 4}}, {{5, 5}}, {{6, 7}}, {{7, 8}}, {{8, 9}},
      {{9, 16}}, {{10, 17}}, {{1, 40}},
      {{1, 2}, {3, 4}},                                 // one span of 6
      {{1, 2}, {40, 1}, {41, 2}, {9, 2}, {3, 4}},       // four spans
      {{30, 3}, {1, 1}, {2, 1}, {3, 1}, {30, 3}}};
  const std::string bytes = Definition(44, keys);
  FileDefinition def;
  ASSERT_EQ(DecodeDefinition(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &def),
            kOk);
  uint8_t record[44];
  for (int i = 0; i < 44; ++i) record[i] = static_cast<uint8_t>(0xA0 + i);
  for (size_t k = 0; k < def.keys.size(); ++k) {
    std::string expected;
    for (const Segment& seg : def.keys[k].segments) {
      expected.append(reinterpret_cast<const char*>(record) + seg.position - 1, seg.length);
    }
    const size_t n = expected.size();
    std::string by_key(n + 8, '#'), by_spans(n + 8, '#');
    ExtractKey(def.keys[k], record, reinterpret_cast<uint8_t*>(by_key.data()));
    ExtractSpans(KeySpans(def.keys[k]), record, reinterpret_cast<uint8_t*>(by_spans.data()));
    EXPECT_EQ(by_key, expected + "########") << "key " << k;
    EXPECT_EQ(by_spans, expected + "########") << "key " << k;
  }
  EXPECT_EQ(KeySpans(def.keys[11]).size(), 1u);
  EXPECT_EQ(KeySpans(def.keys[12]).size(), 4u);
}

}  // namespace
}  // namespace recmgr
