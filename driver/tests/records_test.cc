#include "driver/records.h"

#include <gtest/gtest.h>

#include <string>

#include "format/packed.h"

namespace driver {
namespace {

// A community record built byte by byte at the documented offsets.
TEST(RecordsTest, CommunityFieldsAtTheirOffsets) {
  std::string b(kCommunitySize, '\0');
  std::string code = format::PackDigits("0012");
  b.replace(0, 2, code);
  b.replace(6, 30, std::string("COMUNITAT ALFA") + std::string(16, ' '));
  b[110] = '\x10';  // 0x00002710 = 10000 cents
  b[111] = '\x27';
  b[114] = '\x01';
  b.replace(160, 4, format::PackDigits("20251231"));
  for (int g = 2; g <= 7; ++g)
    b.replace(168 + 34 * (g - 2), 30, std::string(30, char('A' + g - 1)));
  b.replace(368, 17, "ESH12345678      ");
  CommunityView v{b};
  EXPECT_EQ(v.Code(), code);
  EXPECT_EQ(v.Name().substr(0, 14), "COMUNITAT ALFA");
  EXPECT_EQ(v.MonthlyFee(), 10000);
  EXPECT_EQ(v.RateIndex(), 1);
  EXPECT_EQ(format::UnpackDigits(v.PreviousSettlement()), "20251231");
  EXPECT_EQ(v.GroupName(2), std::string(30, 'B'));
  EXPECT_EQ(v.GroupName(7), std::string(30, 'G'));
  EXPECT_EQ(v.TaxId(), "ESH12345678      ");
}

TEST(RecordsTest, OwnerAmountBlockAndDefaults) {
  std::string b(kOwnerSize, ' ');
  SetFieldI32(b, 239 + 3, -150);          // fixed type 1
  SetFieldI32(b, 239 + 7 * 7 + 3, 2000);  // fixed type 8
  SetFieldI16(b, 239 + 56, 42);           // additional entry 1: type 42
  SetFieldI32(b, 239 + 56 + 5, 123456789);
  SetFieldI16(b, 239 + 65, 7);  // additional entry 2
  SetFieldI32(b, 239 + 65 + 5, -1);
  OwnerView o{b};
  EXPECT_EQ(o.FixedAmount(1), -150);
  EXPECT_EQ(o.FixedAmount(8), 2000);
  EXPECT_EQ(o.ExtraTypeCode(1), 42);
  EXPECT_EQ(o.ExtraAmount(1), 123456789);
  EXPECT_EQ(o.ExtraTypeCode(2), 7);
  EXPECT_EQ(o.ExtraAmount(2), -1);
  o.SetName("*** pis inexistent ***");
  o.SetFlat("");
  EXPECT_EQ(o.Name(), "*** pis inexistent ***        ");
  EXPECT_EQ(o.Flat(), std::string(10, ' '));
  EXPECT_EQ(b.size(), kOwnerSize);  // fixed-width writes never grow the buffer
}

TEST(RecordsTest, PaymentAndCollection) {
  std::string p(kPaymentSize, ' ');
  p.replace(0, 2, format::PackDigits("0003"));
  p.replace(2, 4, format::PackDigits("20260131"));
  p.replace(8, 2, "NE");
  SetFieldI32(p, 35, -2147483647 - 1);
  p[39] = 'N';
  p.replace(40, 2, format::PackDigits("0001"));
  PaymentView v{p};
  EXPECT_EQ(v.ExpenseType(), "NE");
  EXPECT_EQ(v.Amount(), -2147483647 - 1);
  EXPECT_EQ(v.Section(), "N");
  EXPECT_EQ(v.SectionKey(), format::PackDigits("0003") + "N" + format::PackDigits("0001"));

  std::string c(kCollectionSize, '\0');
  SetFieldI32(c, 13, 5000);
  SetFieldI32(c, 17, 250);
  c[21] = 'I';
  CollectionView cv{c};
  EXPECT_EQ(cv.Collected(), 5000);
  EXPECT_EQ(cv.Deducted(), 250);
  EXPECT_EQ(cv.Type(), 'I');
}

TEST(RecordsTest, ShortBuffersReadBlankAndZero) {
  std::string b = "ab";
  EXPECT_EQ(FieldText(b, 1, 4), "b   ");
  EXPECT_EQ(FieldI32(b, 10), 0);
  SetFieldText(b, 1, 5, "xyz");
  EXPECT_EQ(b, "ax");
  ReceiptTypeView r{b};
  r.SetSettlementFlag(9);
  EXPECT_EQ(r.SettlementFlag(), 0);
}

}  // namespace
}  // namespace driver
