// Typed views of the seven data records the settlement report reads. Each
// record lives in a buffer owned by the driver and registered with the record
// file layer at open, so every later read of that file rewrites it. The views
// read and write fields at fixed offsets with explicit little-endian integer
// access; nothing is cast to a packed struct. A view does not own its buffer,
// which must outlive it; fields beyond a short buffer read as zero/blank.
//
// Expense type, file 501 "DADES\TDespesa", 28 bytes
//   0   2  expense type code          key 0
//   2  25  description
// Receipt type, file 504 "DADES\THRebut", 24 bytes
//   0   1  receipt type key           key 0
//  21   2  settlement flag (i16)      1: enters the carried balance
// Community, file 511 "DADES\FinquesH", 388 bytes
//   0   2  community code             key 0
//   6  30  community name
// 110   4  monthly fee per flat (i32 cents)
// 114   2  rate index (i16)
// 160   4  previous settlement (packed date)
// 168  30  group B name; C..G follow every 34 bytes (202, 236, 270, 304, 338)
// 368  17  tax identification
// Group assignment, file 512 "DADES\FinDespH", 604 bytes
//   0   2  community code             key 0
//   2 600  assignment text ("HOB..." : code then group letter)
// Owner, file 513 "DADES\PropietH", 428 bytes
//   0   4  owner key (community code, flat code)   key 0
//   8  30  owner name
//  38  10  flat designation
// 239  74  receipt-type amount block: fixed type k (1..8) amount at 7(k-1)+3,
//          additional entry e (1..2) type code (i16) at 56+9(e-1), amount +5
// Payment, file 515 "DADES\PagamH", 44 bytes
//   0   2  community code
//   2   4  date (packed)
//   8   2  expense type code (blanks: ungrouped)
//  10  25  description
//  35   4  amount (i32 cents)
//  39   1  section letter ("N" common, "S" particular)
//  40   2  group (packed 1..7) or flat code
// Collection, file 514 "DADES\CobramH", 24 bytes
//   0   4  owner key                  key 0 with the date
//   4   4  date (packed)
//  13   4  collected amount (i32)
//  17   4  deducted amount (i32)
//  21   1  collection type letter ("C" and "I" count)
#ifndef TELVORAN_DRIVER_RECORDS_H_
#define TELVORAN_DRIVER_RECORDS_H_

#include <cstdint>
#include <string>

namespace driver {

// File numbers and record lengths. Must match the file definitions shipped
// in sample/ddf and the open order of the driver.
inline constexpr int16_t kExpenseTypeFile = 501;
inline constexpr int16_t kReceiptTypeFile = 504;
inline constexpr int16_t kCommunityFile = 511;
inline constexpr int16_t kGroupAssignmentFile = 512;
inline constexpr int16_t kOwnerFile = 513;
inline constexpr int16_t kCollectionFile = 514;
inline constexpr int16_t kPaymentFile = 515;

inline constexpr size_t kExpenseTypeSize = 28;
inline constexpr size_t kReceiptTypeSize = 24;
inline constexpr size_t kCommunitySize = 388;
inline constexpr size_t kGroupAssignmentSize = 604;
inline constexpr size_t kOwnerSize = 428;
inline constexpr size_t kPaymentSize = 44;
inline constexpr size_t kCollectionSize = 24;

// Byte-level helpers over a record buffer.
std::string FieldText(const std::string& buffer, size_t offset, size_t width);
int16_t FieldI16(const std::string& buffer, size_t offset);
int32_t FieldI32(const std::string& buffer, size_t offset);
// Writes text left-aligned, blank-padded and cut to width; out-of-range
// bytes of a short buffer are not written.
void SetFieldText(std::string& buffer, size_t offset, size_t width, const std::string& text);
void SetFieldI16(std::string& buffer, size_t offset, int16_t value);
void SetFieldI32(std::string& buffer, size_t offset, int32_t value);

struct ExpenseTypeView {
  std::string& b;
  std::string Code() const { return FieldText(b, 0, 2); }
  std::string Description() const { return FieldText(b, 2, 25); }
  void SetDescription(const std::string& text) { SetFieldText(b, 2, 25, text); }
};

struct ReceiptTypeView {
  std::string& b;
  int16_t SettlementFlag() const { return FieldI16(b, 21); }
  void SetSettlementFlag(int16_t v) { SetFieldI16(b, 21, v); }
};

struct CommunityView {
  const std::string& b;
  std::string Code() const { return FieldText(b, 0, 2); }
  std::string Name() const { return FieldText(b, 6, 30); }
  int32_t MonthlyFee() const { return FieldI32(b, 110); }
  int16_t RateIndex() const { return FieldI16(b, 114); }
  std::string PreviousSettlement() const { return FieldText(b, 160, 4); }
  // Group g = 2..7 for B..G.
  std::string GroupName(int g) const {
    return FieldText(b, 168 + 34 * static_cast<size_t>(g - 2), 30);
  }
  std::string TaxId() const { return FieldText(b, 368, 17); }
};

struct GroupAssignmentView {
  const std::string& b;
  std::string Code() const { return FieldText(b, 0, 2); }
  std::string Assignment() const { return FieldText(b, 2, 600); }
};

struct OwnerView {
  std::string& b;
  std::string Key() const { return FieldText(b, 0, 4); }
  std::string Name() const { return FieldText(b, 8, 30); }
  std::string Flat() const { return FieldText(b, 38, 10); }
  int32_t FixedAmount(int k) const { return FieldI32(b, 239 + 7 * static_cast<size_t>(k - 1) + 3); }
  int16_t ExtraTypeCode(int e) const {
    return FieldI16(b, 239 + 56 + 9 * static_cast<size_t>(e - 1));
  }
  int32_t ExtraAmount(int e) const {
    return FieldI32(b, 239 + 56 + 9 * static_cast<size_t>(e - 1) + 5);
  }
  void SetName(const std::string& t) { SetFieldText(b, 8, 30, t); }
  void SetFlat(const std::string& t) { SetFieldText(b, 38, 10, t); }
};

struct PaymentView {
  const std::string& b;
  std::string Community() const { return FieldText(b, 0, 2); }
  std::string Date() const { return FieldText(b, 2, 4); }
  std::string ExpenseType() const { return FieldText(b, 8, 2); }
  std::string Description() const { return FieldText(b, 10, 25); }
  int32_t Amount() const { return FieldI32(b, 35); }
  std::string Section() const { return FieldText(b, 39, 1); }
  std::string GroupOrFlat() const { return FieldText(b, 40, 2); }
  // Community code + section letter + group or flat: the head of key 2.
  std::string SectionKey() const { return FieldText(b, 0, 2) + FieldText(b, 39, 3); }
};

struct CollectionView {
  const std::string& b;
  std::string OwnerKey() const { return FieldText(b, 0, 4); }
  std::string Date() const { return FieldText(b, 4, 4); }
  int32_t Collected() const { return FieldI32(b, 13); }
  int32_t Deducted() const { return FieldI32(b, 17); }
  char Type() const { return b.size() > 21 ? b[21] : ' '; }
};

}  // namespace driver

#endif  // TELVORAN_DRIVER_RECORDS_H_
