#include "tools/demodata/data_writer.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "driver/records.h"
#include "format/packed.h"
#include "platform/little_endian.h"
#include "recmgr/file_definition.h"
#include "recmgr/record_manager.h"

namespace demodata {

namespace {

std::string Digits(long value, int digits) {
  std::string s = std::to_string(value < 0 ? -value : value);
  if (static_cast<int>(s.size()) < digits)
    s = std::string(static_cast<size_t>(digits) - s.size(), '0') + s;
  return s.substr(s.size() - static_cast<size_t>(digits));
}

}  // namespace

std::string Cp850(const std::string& utf8) {
  // The code page 850 bytes of the Latin-1 letters and signs the demo uses.
  static const struct {
    unsigned cp;
    unsigned char b;
  } kMap[] = {{0xC7, 0x80},  {0xFC, 0x81}, {0xE9, 0x82}, {0xE2, 0x83}, {0xE4, 0x84}, {0xE0, 0x85},
              {0xE7, 0x87},  {0xEA, 0x88}, {0xEB, 0x89}, {0xE8, 0x8A}, {0xEF, 0x8B}, {0xEE, 0x8C},
              {0xEC, 0x8D},  {0xC9, 0x90}, {0xF4, 0x93}, {0xF6, 0x94}, {0xF2, 0x95}, {0xFB, 0x96},
              {0xF9, 0x97},  {0xE1, 0xA0}, {0xED, 0xA1}, {0xF3, 0xA2}, {0xFA, 0xA3}, {0xF1, 0xA4},
              {0xD1, 0xA5},  {0xAA, 0xA6}, {0xBA, 0xA7}, {0xC1, 0xB5}, {0xC0, 0xB7}, {0xC8, 0xD4},
              {0xCD, 0xD6},  {0xCF, 0xD8}, {0xD3, 0xE0}, {0xD2, 0xE3}, {0xDA, 0xE9}, {0xB7, 0xFA},
              {0x20AC, 0xD5}};
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    unsigned cp = c;
    size_t n = 1;
    if (c >= 0xE0 && i + 2 < utf8.size()) {
      cp = ((c & 0x0F) << 12) | ((utf8[i + 1] & 0x3F) << 6) | (utf8[i + 2] & 0x3F);
      n = 3;
    } else if (c >= 0xC0 && i + 1 < utf8.size()) {
      cp = ((c & 0x1F) << 6) | (utf8[i + 1] & 0x3F);
      n = 2;
    }
    i += n;
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    char b = '?';
    for (const auto& m : kMap) {
      if (m.cp == cp) b = static_cast<char>(m.b);
    }
    out.push_back(b);
  }
  return out;
}

std::string Code(int value, int digits) {
  return format::PackDigits(Digits(value, digits));
}

std::string Date(int y, int m, int d) {
  return format::PackDigits(Digits(y, 4) + Digits(m, 2) + Digits(d, 2));
}

std::string ExpenseType(const std::string& code2, const std::string& description) {
  std::string b(driver::kExpenseTypeSize, ' ');
  driver::SetFieldText(b, 0, 2, code2);
  driver::SetFieldText(b, 2, 25, description);
  return b;
}

std::string ReceiptType(uint8_t key, int16_t settlement_flag) {
  std::string b(driver::kReceiptTypeSize, ' ');
  b[0] = static_cast<char>(key);
  driver::SetFieldI16(b, 21, settlement_flag);
  return b;
}

std::string Community(const CommunitySpec& c) {
  std::string b(driver::kCommunitySize, ' ');
  b.replace(0, 2, Code(c.code, 4));
  driver::SetFieldText(b, 6, 30, c.name);
  driver::SetFieldI32(b, 110, c.monthly_fee);
  driver::SetFieldI16(b, 114, c.rate_index);
  b.replace(160, 4, c.previous_settlement.empty() ? std::string(4, '\x80') : c.previous_settlement);
  for (int g = 2; g <= 7; ++g) {
    driver::SetFieldText(b, 168 + 34 * static_cast<size_t>(g - 2), 30,
                         c.groups[static_cast<size_t>(g)]);
  }
  driver::SetFieldText(b, 368, 17, c.tax_id);
  return b;
}

std::string GroupAssignment(int community, const std::string& text) {
  std::string b(driver::kGroupAssignmentSize, ' ');
  b.replace(0, 2, Code(community, 4));
  driver::SetFieldText(b, 2, 600, text);
  return b;
}

std::string Owner(const OwnerSpec& o) {
  std::string b(driver::kOwnerSize, ' ');
  b.replace(0, 2, Code(o.community, 4));
  b.replace(2, 2, Code(o.flat, 4));
  driver::SetFieldText(b, 8, 30, o.name);
  driver::SetFieldText(b, 38, 10, o.flat_designation);
  for (size_t i = 239; i < 239 + 74; ++i) b[i] = '\0';
  for (int k = 1; k <= 8; ++k) {
    driver::SetFieldI32(b, 239 + 7 * static_cast<size_t>(k - 1) + 3,
                        o.fixed_amounts[static_cast<size_t>(k)]);
  }
  for (int e = 1; e <= 2; ++e) {
    size_t at = 239 + 56 + 9 * static_cast<size_t>(e - 1);
    driver::SetFieldI16(b, at, o.extra_types[static_cast<size_t>(e)]);
    driver::SetFieldI32(b, at + 5, o.extra_amounts[static_cast<size_t>(e)]);
  }
  return b;
}

std::string Payment(int community, const std::string& date, const std::string& type2,
                    const std::string& description, int32_t amount, char section,
                    int group_or_flat) {
  std::string b(driver::kPaymentSize, ' ');
  b.replace(0, 2, Code(community, 4));
  b.replace(2, 4, date);
  driver::SetFieldText(b, 8, 2, type2);
  driver::SetFieldText(b, 10, 25, description);
  driver::SetFieldI32(b, 35, amount);
  b[39] = section;
  b.replace(40, 2, Code(group_or_flat, 4));
  return b;
}

std::string Collection(int community, int flat, const std::string& date, int32_t collected,
                       int32_t deducted, char type) {
  std::string b(driver::kCollectionSize, ' ');
  b.replace(0, 2, Code(community, 4));
  b.replace(2, 2, Code(flat, 4));
  b.replace(4, 4, date);
  driver::SetFieldI32(b, 13, collected);
  driver::SetFieldI32(b, 17, deducted);
  b[21] = type;
  return b;
}

bool WriteDataFile(const std::string& path, const std::string& xdf_path,
                   const std::vector<std::string>& records, std::string* error) {
  std::ifstream in(xdf_path, std::ios::binary);
  std::string xdf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (xdf.size() < 2) {
    *error = "cannot read the file definition " + xdf_path;
    return false;
  }
  size_t n = platform::LoadLe16(xdf, 0);
  if (xdf.size() < n + 2 || n > static_cast<size_t>(recmgr::kMaxRecordLength)) {
    *error = "truncated file definition " + xdf_path;
    return false;
  }
  std::string definition = xdf.substr(2, n);
  definition.resize(recmgr::kMaxRecordLength, ' ');
  uint8_t block[recmgr::kPositionBlockSize] = {};
  std::string key = path;
  uint32_t length = static_cast<uint32_t>(definition.size());
  recmgr::Status st =
      recmgr::RecordManagerCall(recmgr::kOpCreate, block, definition.data(), &length, key.data(),
                                static_cast<uint8_t>(key.size()), 0);
  if (st != 0) {
    *error = "cannot create " + path + " (status " + std::to_string(st) + ")";
    return false;
  }
  std::string owner(5, '\0');
  length = 5;
  st = recmgr::RecordManagerCall(recmgr::kOpOpen, block, owner.data(), &length, key.data(),
                                 static_cast<uint8_t>(key.size()), 0);
  if (st != 0) {
    *error = "cannot open " + path + " (status " + std::to_string(st) + ")";
    return false;
  }
  int64_t failed = -1;
  st = recmgr::InsertAll(block, records, &failed);
  uint32_t zero = 0;
  recmgr::RecordManagerCall(recmgr::kOpClose, block, nullptr, &zero, nullptr, 0, 0);
  if (st != 0) {
    *error = "cannot load " + path + " (status " + std::to_string(st) + ", record " +
             std::to_string(failed) + ")";
    return false;
  }
  return true;
}

bool WriteDataset(const std::string& root, const std::string& ddf_dir, const Dataset& d,
                  std::string* error) {
  ::mkdir((root + "DADES").c_str(), 0777);
  const struct {
    const char* name;
    const std::vector<std::string>* records;
  } files[] = {{"TDespesa", &d.expense_types}, {"THRebut", &d.receipt_types},
               {"FinquesH", &d.communities},   {"FinDespH", &d.assignments},
               {"PropietH", &d.owners},        {"PagamH", &d.payments},
               {"CobramH", &d.collections}};
  for (const auto& f : files) {
    if (!WriteDataFile(root + "DADES/" + f.name + ".dat", ddf_dir + f.name + ".xdf", *f.records,
                       error)) {
      return false;
    }
  }
  return true;
}

}  // namespace demodata
