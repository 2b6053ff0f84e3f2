// Builds the suite's data files from records: record builders for the seven
// layouts the report reads, and a writer that creates each file from its
// definition ("ddf\<name>.xdf") and loads its records in one transaction.
// Used by the demo data generator and by the report's tests.
#ifndef TELVORAN_TOOLS_DEMODATA_DATA_WRITER_H_
#define TELVORAN_TOOLS_DEMODATA_DATA_WRITER_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace demodata {

// Converts a UTF-8 literal to code page 850 (the letters the demo uses).
std::string Cp850(const std::string& utf8);

// Packed code of a number with the given count of digits ("0012").
std::string Code(int value, int digits);
// Packed date from year, month, day.
std::string Date(int y, int m, int d);

std::string ExpenseType(const std::string& code2, const std::string& description);
std::string ReceiptType(uint8_t key, int16_t settlement_flag);

struct CommunitySpec {
  int code = 1;
  std::string name;         // 30 characters as stored ("SURNAME*NAME" style allowed)
  int32_t monthly_fee = 0;  // cents per flat
  int16_t rate_index = 0;
  std::string previous_settlement;    // packed date; empty for no date
  std::array<std::string, 8> groups;  // [2..7] = names of groups B..G
  std::string tax_id;
};
std::string Community(const CommunitySpec& c);
std::string GroupAssignment(int community, const std::string& text);

struct OwnerSpec {
  int community = 1;
  int flat = 1;
  std::string name;
  std::string flat_designation;
  std::array<int32_t, 9> fixed_amounts{};  // [1..8]
  std::array<int16_t, 3> extra_types{};    // [1..2]
  std::array<int32_t, 3> extra_amounts{};
};
std::string Owner(const OwnerSpec& o);

// section 'N' with group 1..7, or 'S' with the flat number.
std::string Payment(int community, const std::string& date, const std::string& type2,
                    const std::string& description, int32_t amount, char section,
                    int group_or_flat);
std::string Collection(int community, int flat, const std::string& date, int32_t collected,
                       int32_t deducted, char type);

struct Dataset {
  std::vector<std::string> expense_types, receipt_types, communities, assignments, owners, payments,
      collections;
};

// Writes root/DADES/<name>.dat for the seven files, each created (replacing
// an existing one) from ddf_dir/<name>.xdf. Returns false with *error set.
bool WriteDataset(const std::string& root, const std::string& ddf_dir, const Dataset& data,
                  std::string* error);

// Creates one data file from a definition file and loads the records.
bool WriteDataFile(const std::string& path, const std::string& xdf_path,
                   const std::vector<std::string>& records, std::string* error);

}  // namespace demodata

#endif  // TELVORAN_TOOLS_DEMODATA_DATA_WRITER_H_
