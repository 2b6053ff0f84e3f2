// The settlement report, in the order of one print run: the communities of
// the range, the figures of one community (owners, carried balance,
// collections, fee), and the statement copies with their eight sections.
#include "driver/report.h"

#include <unistd.h>

#include <array>
#include <cassert>
#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "config/locale.h"
#include "config/settings.h"
#include "datafiles/file_messages.h"
#include "datafiles/record_file.h"
#include "driver/print_channel.h"
#include "driver/records.h"
#include "driver/report_files.h"
#include "driver/statement_layout.h"
#include "format/codes.h"
#include "format/currency.h"
#include "format/dates.h"
#include "format/packed.h"
#include "platform/blanks.h"
#include "platform/console.h"
#include "platform/cp850.h"
#include "platform/env.h"
#include "platform/print_file.h"
#include "platform/statement_register.h"
#include "recmgr/record_manager.h"

namespace driver {

namespace {

const std::string& T(const std::string& text) { return RunText(text); }

// The scans below test every payment and collection read, so they look at
// the fields in the record buffers in place rather than through the views'
// copies. Offsets as laid out in driver/records.h.
// REQUIRES: the buffer holds offset + width bytes (the buffers are sized to
// their records when the files are opened).
std::string_view Bytes(const std::string& buffer, size_t offset, size_t width) {
  assert(offset + width <= buffer.size());
  return std::string_view(buffer).substr(offset, width);
}

constexpr size_t kPaymentDateAt = 2;      // 4 bytes, packed
constexpr size_t kPaymentDescriptionAt = 10;  // 25 bytes
constexpr size_t kPaymentTypeAt = 8;      // 2 bytes, expense type code
constexpr size_t kPaymentSectionAt = 39;  // section letter, then group or flat
constexpr size_t kPaymentGroupAt = 40;    // 2 bytes, group or flat
constexpr size_t kCollectionKeyAt = 0;    // owner key (4) then date (4)

}  // namespace

// --- Fee arithmetic --------------------------------------------------------

namespace {
__extension__ typedef __int128 Int128;  // exact products of a float and 64 bits
}  // namespace

int64_t RoundedPercent(float rate, int64_t base) {
  if (!std::isfinite(rate) || rate == 0.0f || base == 0) return 0;
  int exp = 0;
  float mant = std::frexp(rate, &exp);                   // rate = mant * 2^exp, 0.5 <= |mant| < 1
  Int128 m = static_cast<Int128>(std::ldexp(mant, 24));  // exact: 24-bit significand
  int e = exp - 24;
  Int128 n = m * base;  // below 2^88 in magnitude
  Int128 d = 100;
  const Int128 kMax = static_cast<Int128>(std::numeric_limits<int64_t>::max());
  if (e > 0) {
    for (int i = 0; i < e; ++i) {
      n *= 2;
      if (n > (kMax << 8) || n < -(kMax << 8)) return n > 0 ? INT64_MAX : INT64_MIN;
    }
  } else if (e < 0) {
    if (-e > 110) return 0;  // far below one half
    d <<= -e;
  }
  bool negative = n < 0;
  Int128 a = negative ? -n : n;
  Int128 q = a / d, r = a % d;
  if (2 * r > d || (2 * r == d && (q & 1) != 0)) ++q;
  if (q > kMax) q = kMax;
  return static_cast<int64_t>(negative ? -q : q);
}

namespace {
int64_t HeldToFeeLimit(Int128 v) {
  if (v > kFeeLimit) return kFeeLimit;
  if (v < -kFeeLimit) return -kFeeLimit;
  return static_cast<int64_t>(v);
}
}  // namespace

int64_t FeeBase(int64_t owners, int32_t monthly_fee, int64_t months) {
  // Below 2^127 in magnitude for any three values of these widths that a
  // file can give (owners and months stay far below 2^40).
  const Int128 base = static_cast<Int128>(owners) * monthly_fee * months;
  return HeldToFeeLimit(base);
}

int64_t ComputeFee(int64_t base, float vat_rate, float withholding_rate) {
  return HeldToFeeLimit(static_cast<Int128>(base) + RoundedPercent(vat_rate, base) -
                        RoundedPercent(withholding_rate, base));
}

bool WithholdingApplies(const std::string& administrator_tax_id,
                        const std::string& community_tax_id) {
  auto spanish = [](const std::string& id) {
    return id.size() >= 3 && id.starts_with("ES");
  };
  if (!spanish(administrator_tax_id) || !spanish(community_tax_id)) return false;
  unsigned char a = static_cast<unsigned char>(administrator_tax_id[2]);
  unsigned char c = static_cast<unsigned char>(community_tax_id[2]);
  return (a < 'A' || a > 'W') && (c >= 'A' && c <= 'W');
}

// --- One community's figures -----------------------------------------------

namespace {

// Reads go through these two, which note the run's first read that failed
// for another reason than "no such key" or "no more records" in
// ctx.read_failure (see ReadFailure).
platform::Status Checked(ReportContext& ctx, int16_t file, platform::Status status) {
  if (status != 0 && status != recmgr::kKeyNotFound && status != recmgr::kEndOfFile &&
      ctx.read_failure.status == 0) {
    ctx.read_failure = ReadFailure{file, status, datafiles::ServerFailureText(status)};
  }
  return status;
}

platform::Status Seek(ReportContext& ctx, int16_t file, int16_t key_number, const std::string& key,
                      int16_t direction) {
  platform::Status status = 0;
  datafiles::RecordFileSeek(file, key_number, key, direction, status);
  return Checked(ctx, file, status);
}

platform::Status Next(ReportContext& ctx, int16_t file) {
  platform::Status status = 0;
  datafiles::RecordFileSkip(file, 1, status);
  return Checked(ctx, file, status);
}

// The settlement flags of the receipt types, looked up once per community:
// every owner of a community asks for the same ten or so types. The lookup
// leaves the flag at 9 when the type is missing, which never counts.
class ReceiptFlags {
 public:
  explicit ReceiptFlags(ReportContext& ctx) : ctx_(ctx) {}

  bool Settles(const std::string& key) {
    for (const auto& [k, settles] : known_) {
      if (k == key) return settles;
    }
    ReceiptTypeView receipt{ctx_.buffers.receipt_type};
    receipt.SetSettlementFlag(9);
    Seek(ctx_, kReceiptTypeFile, 0, key, 0);
    bool settles = receipt.SettlementFlag() == 1;
    known_.emplace_back(key, settles);
    return settles;
  }

  // Whether fixed receipt type k (1..8, keyed by the byte k) settles; every
  // owner asks for all eight, so their answers are kept by number.
  bool SettlesFixed(int k) {
    int8_t& known = fixed_[static_cast<size_t>(k)];
    if (known < 0) known = Settles(std::string(1, static_cast<char>(k))) ? 1 : 0;
    return known == 1;
  }

  // The receipt type key of an additional entry's type code (two digits,
  // packed); the few codes of a community recur on every owner.
  const std::string& ExtraTypeKey(int16_t code) {
    for (const auto& [c, key] : extra_keys_) {
      if (c == code) return key;
    }
    extra_keys_.emplace_back(code, format::PackDigits(format::ZeroPad(code, 2)));
    return extra_keys_.back().second;
  }

 private:
  ReportContext& ctx_;
  std::vector<std::pair<std::string, bool>> known_;
  std::vector<std::pair<int16_t, std::string>> extra_keys_;
  std::array<int8_t, 9> fixed_ = {-1, -1, -1, -1, -1, -1, -1, -1, -1};  // -1: not asked yet
};

// What a print run has already looked up, so that the lines of every
// statement do not look it up again: the description of each expense type
// (for the whole run) and, for the community being printed, the flat
// designation and name of each owner its figures read. A line whose key is
// not here is looked up in its file as before; what that lookup gives is
// then kept (the owners only for the community's own flats, which its owner
// scan reads in full, so one not kept there does not exist).
struct RunLookups {
  std::unordered_map<std::string, std::string> expense_descriptions;
  // Keyed by the flat code (the owner key after the community code), the
  // first owner read under it: the one a lookup of its key finds.
  std::unordered_map<std::string, std::pair<std::string, std::string>> owners;
};

// Subtracts the owner's amounts of the receipt types whose settlement flag
// is 1.
int64_t CarriedBalanceOf(ReportBuffers& b, ReceiptFlags& flags) {
  OwnerView owner{b.owner};
  int64_t carried = 0;
  for (int k = 1; k <= 8; ++k) {
    if (flags.SettlesFixed(k)) carried -= owner.FixedAmount(k);
  }
  for (int e = 1; e <= 2; ++e) {
    if (flags.Settles(flags.ExtraTypeKey(owner.ExtraTypeCode(e)))) carried -= owner.ExtraAmount(e);
  }
  return carried;
}

// The collections of a community's owners, asked for owner by owner in key
// order: one pass along the collection file's key, which orders them by
// owner key first. After an owner's collections up to the report date the
// scan stands on the first record past them, which is where a search for
// the next owner's key would land unless records of keys between the two
// (the previous owner's later collections, those of owners not on file)
// lie in between: those are stepped over, and after a few of them the key
// is searched instead. An owner key that does not come after the last one
// is searched as well.
class CollectionScan {
 public:
  CollectionScan(ReportContext& ctx, const std::string& report_date)
      : ctx_(ctx), report_date_(report_date) {}

  // The owner's collected amounts less deductions, of types "C" and "I",
  // dated up to the report date.
  int64_t Of(const std::string& owner_key) {
    const std::string& rec = ctx_.buffers.collection;
    // Owner key and date, as the views give them: 4 bytes each.
    auto owner_of = [&rec]() { return Bytes(rec, kCollectionKeyAt, 4); };
    if (!positioned_ || owner_key <= last_owner_) {
      status_ = Seek(ctx_, kCollectionFile, 0, owner_key, 1);
    } else {
      for (int stepped = 0; status_ == 0 && owner_of() < owner_key; ++stepped) {
        if (stepped == kStepsBeforeSearch) {
          status_ = Seek(ctx_, kCollectionFile, 0, owner_key, 1);
          break;
        }
        status_ = Next(ctx_, kCollectionFile);
      }
    }
    positioned_ = true;
    last_owner_ = owner_key;
    const std::string limit = owner_key + report_date_;
    CollectionView c{rec};
    int64_t total = 0;
    for (; status_ == 0 && Bytes(rec, kCollectionKeyAt, 8) <= limit;
         status_ = Next(ctx_, kCollectionFile)) {
      if (c.Type() == 'C' || c.Type() == 'I') total += int64_t{c.Collected()} - c.Deducted();
    }
    return total;
  }

 private:
  static constexpr int kStepsBeforeSearch = 8;

  ReportContext& ctx_;
  const std::string& report_date_;
  bool positioned_ = false;
  platform::Status status_ = 0;
  std::string last_owner_;
};

// The figures of the community in the community buffer.
CommunityFigures ComputeFigures(ReportContext& ctx, const ReportParameters& p,
                                RunLookups& lookups) {
  ReportBuffers& b = ctx.buffers;
  CommunityView community{b.community};
  CommunityFigures f;
  const std::string code = community.Code();
  const std::string previous = community.PreviousSettlement();
  // An empty previous settlement counts as settled on the report date: no
  // months elapsed, rather than a fee since year 0.
  f.month_count = format::IsNoDate(previous) ? 0 : format::DateDiff(previous, p.report_date, "m");

  f.titles[1] = T("SEGONS COEFICIENT GENERAL");
  for (int g = 2; g <= 7; ++g) f.titles[static_cast<size_t>(g)] = community.GroupName(g);
  f.titles[8] = T("PARTICULARS");

  int rate = community.RateIndex() == 1 ? 1 : 0;
  f.vat_rate = ctx.fees.vat[static_cast<size_t>(rate)];
  if (WithholdingApplies(ctx.identity.item[7], community.TaxId())) {
    f.withholding_rate = ctx.fees.withholding[static_cast<size_t>(rate)];
  }

  OwnerView owner{b.owner};
  ReceiptFlags flags(ctx);
  lookups.owners.clear();
  CollectionScan collections(ctx, p.report_date);
  for (platform::Status st = Seek(ctx, kOwnerFile, 0, code, 1);
       st == 0 && owner.Key().starts_with(code); st = Next(ctx, kOwnerFile)) {
    lookups.owners.try_emplace(owner.Key().substr(code.size()), owner.Flat(), owner.Name());
    f.owners.push_back({format::CodeToText(owner.Key().substr(code.size())), owner.Flat(),
                        owner.Name()});
    ++f.owner_count;
    f.carried_balance += CarriedBalanceOf(b, flags);
    f.collections += collections.Of(owner.Key());
  }

  const int64_t base = FeeBase(f.owner_count, community.MonthlyFee(), f.month_count);
  f.fee = ComputeFee(base, f.vat_rate, f.withholding_rate);

  f.fee_group = 1;
  if (Seek(ctx, kGroupAssignmentFile, 0, code, 0) == 0) {
    std::string text = GroupAssignmentView{b.group_assignment}.Assignment();
    size_t ho = text.find("HO");
    if (ho != std::string::npos && ho + 2 < text.size()) {
      size_t g = std::string("ABCDEFG").find(text[ho + 2]);
      if (g != std::string::npos) f.fee_group = static_cast<int>(g) + 1;
    }
  }
  return f;
}

// --- One statement copy ----------------------------------------------------

class StatementPrinter {
 public:
  StatementPrinter(ReportContext& ctx, const ReportParameters& p, const CommunityFigures& f,
                   const StatementCommunity& community, RunLookups& lookups)
      : ctx_(ctx),
        b_(ctx.buffers),
        lookups_(lookups),
        p_(p),
        f_(f),
        code_(community.code),
        layout_(ctx.channel, community, ctx.identity, ctx.fees, p.report_date) {}

  void Print() {
    for (int s = 1; s <= 8; ++s) PrintSection(s);
    if (layout_.page_count() != 0) layout_.Summary(f_.collections);
  }

  int64_t total_expenses() const { return layout_.total_expenses(); }

 private:
  void PrintSection(int s) {
    layout_.BeginSection(s, f_.titles[static_cast<size_t>(s)]);
    pending_key_.clear();
    pending_amount_ = 0;
    by_type_.clear();
    const bool particulars = s == 8;
    const bool by_type = particulars && ctx_.identity.particulars_by_type;
    const std::string key =
        particulars ? code_ + "S" : code_ + "N" + format::PackDigits(format::ZeroPad(s, 4));

    PaymentView pay{b_.payment};
    const std::string& rec = b_.payment;
    for (platform::Status st = Seek(ctx_, kPaymentFile, 2, key, 1); st == 0 && InSection(rec, key);
         st = Next(ctx_, kPaymentFile)) {
      if (LaterThanReportDate(rec)) continue;
      if (particulars) {
        // Community code and flat: the owner's key.
        char owner[4];
        std::memcpy(owner, rec.data(), 2);
        std::memcpy(owner + 2, rec.data() + kPaymentGroupAt, 2);
        const std::string_view owner_key(owner, sizeof owner);
        if (owner_key < p_.range_from_key || owner_key > p_.range_to_key) continue;
      }
      if (by_type) {
        AddByType(Bytes(rec, kPaymentTypeAt, 2), pay.Amount());
        continue;
      }
      const std::string_view pending =
          Bytes(rec, particulars ? kPaymentGroupAt : kPaymentTypeAt, 2);
      if (!particulars && pending.find_first_not_of(' ') == std::string_view::npos) {
        layout_.PrintLine(Bytes(rec, kPaymentDescriptionAt, 25), pay.Amount());
        continue;
      }
      if (pending != pending_key_) {
        if (!pending_key_.empty()) PrintPending(particulars);
        pending_key_ = pending;
        pending_amount_ = 0;
      }
      pending_amount_ += pay.Amount();
    }

    if (by_type) {
      for (const auto& entry : by_type_) ExpenseTypeLine(entry.first, entry.second);
      by_type_.clear();
    } else if (!pending_key_.empty() && pending_amount_ != 0) {
      PrintPending(particulars);
    }
    if (s == f_.fee_group && f_.fee != 0) {
      layout_.PrintLine(T("HONORARIS ADMINISTRACI\xe0"), f_.fee);
    }
    if (layout_.section_started()) layout_.SectionTotal();
  }

  // Whether the payment in rec lies in the section of key: its community
  // code, section letter and group or flat begin with key. The two keys a
  // section has (code and letter; code, letter and group) are compared at
  // their fixed sizes.
  static bool InSection(const std::string& rec, const std::string& key) {
    assert(rec.size() >= kPaymentSectionAt + 3);
    const char* section = rec.data() + kPaymentSectionAt;
    switch (key.size()) {
      case 3:
        return std::memcmp(rec.data(), key.data(), 2) == 0 && section[0] == key[2];
      case 5:
        return std::memcmp(rec.data(), key.data(), 2) == 0 &&
               std::memcmp(section, key.data() + 2, 3) == 0;
      default: {
        char head[5];
        std::memcpy(head, rec.data(), 2);
        std::memcpy(head + 2, section, 3);
        return key.size() <= sizeof head && std::memcmp(head, key.data(), key.size()) == 0;
      }
    }
  }

  // Whether the payment in rec is dated after the report date (packed
  // dates compare as their bytes).
  bool LaterThanReportDate(const std::string& rec) const {
    const std::string& date = p_.report_date;
    if (date.size() == 4) return std::memcmp(rec.data() + kPaymentDateAt, date.data(), 4) > 0;
    return Bytes(rec, kPaymentDateAt, 4) > date;
  }

  // Totals by expense type in the order the types first appear.
  void AddByType(std::string_view type, int64_t amount) {
    for (auto& entry : by_type_) {
      if (entry.first == type) {
        entry.second += amount;
        return;
      }
    }
    by_type_.emplace_back(type, amount);
  }

  void PrintPending(bool particulars) {
    if (particulars) {
      FlatLine(pending_key_, pending_amount_);
    } else {
      ExpenseTypeLine(pending_key_, pending_amount_);
    }
  }

  void ExpenseTypeLine(const std::string& type, int64_t amount) {
    auto known = lookups_.expense_descriptions.find(type);
    if (known == lookups_.expense_descriptions.end()) {
      ExpenseTypeView t{b_.expense_type};
      t.SetDescription(T("*** despesa no defin. ***"));
      Seek(ctx_, kExpenseTypeFile, 0, type, 0);
      known = lookups_.expense_descriptions.emplace(type, t.Description()).first;
    }
    layout_.PrintLine(known->second, amount);
  }

  void FlatLine(const std::string& flat, int64_t amount) {
    if (auto known = lookups_.owners.find(flat); known != lookups_.owners.end()) {
      layout_.PrintParticularLine(known->second.first, known->second.second, amount);
      return;
    }
    OwnerView o{b_.owner};
    o.SetFlat("");
    o.SetName(T("*** pis inexistent ***"));
    Seek(ctx_, kOwnerFile, 0, code_ + flat, 0);
    layout_.PrintParticularLine(o.Flat(), o.Name(), amount);
  }

  ReportContext& ctx_;
  ReportBuffers& b_;
  RunLookups& lookups_;
  const ReportParameters& p_;
  const CommunityFigures& f_;
  const std::string code_;
  StatementLayout layout_;
  std::string pending_key_;
  int64_t pending_amount_ = 0;
  std::vector<std::pair<std::string, int64_t>> by_type_;
};

}  // namespace

namespace {

// The last line a program wrote that is not blank, without its line end.
std::string LastLine(const std::string& text) {
  const size_t end = text.find_last_not_of("\r\n ");
  if (end == std::string::npos) return "";
  const size_t start = text.find_last_of('\n', end);
  const size_t from = start == std::string::npos ? 0 : start + 1;
  return text.substr(from, end + 1 - from);
}

// Whether the print program said, in its output, that it handed the pages
// to the printing system (see platform::kHandedToPrinterMark).
bool HandedToPrinter(const std::string& output) {
  for (size_t at = 0; at < output.size();) {
    if (std::string_view(output).substr(at).starts_with(platform::kHandedToPrinterMark)) {
      return true;
    }
    const size_t end = output.find('\n', at);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return false;
}

}  // namespace

// --- The range -------------------------------------------------------------

int CountCommunities(ReportContext& ctx, const ReportParameters& p) {
  CommunityView community{ctx.buffers.community};
  const std::string upper = p.range_to_key.substr(0, 2);
  int n = 0;
  for (platform::Status st = Seek(ctx, kCommunityFile, 0, p.range_from_key.substr(0, 2), 1);
       st == 0 && community.Code() <= upper; st = Next(ctx, kCommunityFile)) {
    ++n;
  }
  return n;
}

namespace {

// The register's entry of a copy just printed (see platform/statement_register.h).
void RegisterStatement(ReportContext& ctx, const ReportParameters& p, const CommunityFigures& f,
                       const StatementCommunity& header, const CommunityOwner* owner, int copy,
                       int64_t first_page, int64_t pages, int64_t total_expenses) {
  platform::StatementEntry e;
  e.community_code = format::CodeToText(header.code);
  e.community_name = format::DisplayName(header.name);
  if (owner != nullptr) {
    e.flat_code = owner->flat_code;
    e.owner_name = format::DisplayName(owner->name);
    e.flat = platform::TrimBlanks(owner->flat);
  }
  e.copy = copy;
  e.first_page = first_page;
  e.pages = pages;
  if (!format::IsNoDate(header.previous_settlement)) {
    e.period_from = format::UnpackDigits(format::DateAdd(header.previous_settlement, 1, "d"));
  }
  e.period_to = format::UnpackDigits(p.report_date);
  e.carried_balance = f.carried_balance;
  e.total_expenses = total_expenses;
  e.fee = f.fee;
  e.total_collections = f.collections;
  // As the statement's closing lines compute and word it.
  e.balance = f.collections + f.carried_balance - total_expenses;
  e.favours_community = e.balance > 0;
  if (!ctx.register_file->AppendLine(platform::RegisterLine(e))) ctx.register_failed = true;
  ++ctx.register_entries;
}

}  // namespace

bool PrintAllCommunities(ReportContext& ctx, const ReportParameters& p,
                         const ReportProgress& progress) {
  CommunityView community{ctx.buffers.community};
  const std::string upper = p.range_to_key.substr(0, 2);
  int index = 0;
  RunLookups lookups;
  ctx.settled_after_report_date.clear();
  for (platform::Status st = Seek(ctx, kCommunityFile, 0, p.range_from_key.substr(0, 2), 1);
       st == 0 && community.Code() <= upper; st = Next(ctx, kCommunityFile)) {
    if (progress) progress(++index, community.Code());
    CommunityFigures f = ComputeFigures(ctx, p, lookups);
    StatementCommunity header;
    header.code = community.Code();
    header.name = community.Name();
    header.previous_settlement = community.PreviousSettlement();
    // The period starts the day after the previous settlement; a report
    // date on it or before (packed dates compare as their bytes) prints
    // as it always did, and the run says so afterwards.
    if (!format::IsNoDate(header.previous_settlement) &&
        p.report_date <= header.previous_settlement) {
      ctx.settled_after_report_date.push_back(
          {format::CodeToText(header.code), format::DisplayName(header.name)});
    }
    header.carried_balance = f.carried_balance;
    const bool per_owner = p.copies_per_community == 0;
    int64_t copies = per_owner ? f.owner_count : p.copies_per_community;
    for (int64_t c = 0; c < copies; ++c) {
      if (ctx.stop_requested && ctx.stop_requested({})) return false;
      const CommunityOwner* owner = per_owner ? &f.owners[static_cast<size_t>(c)] : nullptr;
      header.recipient = owner != nullptr && ctx.fees.named_copies ? owner : nullptr;
      const int64_t first_page = ctx.channel.PageDirectives() + 1;
      StatementPrinter printer(ctx, p, f, header, lookups);
      printer.Print();
      const int64_t pages = ctx.channel.PageDirectives() + 1 - first_page;
      if (ctx.register_file != nullptr && pages > 0) {
        RegisterStatement(ctx, p, f, header, owner, static_cast<int>(c + 1), first_page, pages,
                          printer.total_expenses());
      }
    }
  }
  return true;
}

namespace {

// The print file of the run in progress, for a termination signal that ends
// the program meanwhile: the run is stopped, so it leaves no print file (the
// signal handlers first wait for the print program, which holds the lock
// too). Plain data: a signal handler reads it.
// Its statement register goes with it.
char g_signal_print_file[4096];
char g_signal_register_file[4096];
volatile sig_atomic_t g_signal_print_file_armed = 0;

void RemovePrintFileFromSignal() {
  if (g_signal_print_file_armed) {
    g_signal_print_file_armed = 0;
    ::unlink(g_signal_print_file);
    ::unlink(g_signal_register_file);
  }
}

// Armed for the length of one print run, under its lock.
class PrintFileRemovedBySignal {
 public:
  PrintFileRemovedBySignal(const std::string& print_file, const std::string& register_file) {
    if (platform::PrepareSignalPath(print_file, g_signal_print_file,
                                    sizeof g_signal_print_file) &&
        platform::PrepareSignalPath(register_file, g_signal_register_file,
                                    sizeof g_signal_register_file)) {
      platform::AddSignalCleanup(&RemovePrintFileFromSignal);
      g_signal_print_file_armed = 1;
    }
  }
  ~PrintFileRemovedBySignal() { g_signal_print_file_armed = 0; }
  PrintFileRemovedBySignal(const PrintFileRemovedBySignal&) = delete;
  PrintFileRemovedBySignal& operator=(const PrintFileRemovedBySignal&) = delete;
};

}  // namespace

std::string ReportDateWarning(const ReportContext& ctx) {
  const std::vector<SettledAfterReportDate>& settled = ctx.settled_after_report_date;
  if (settled.empty()) return std::string();
  std::vector<std::string> named;
  for (size_t i = 0; i < settled.size() && i < kWarnedCommunities; ++i) {
    const SettledAfterReportDate& c = settled[i];
    named.push_back(c.name.empty() || c.name.size() > kWarnedNameLength
                        ? c.code
                        : c.code + " (" + c.name + ")");
  }
  std::string list = named.front();
  for (size_t i = 1; i + 1 < named.size(); ++i) list += ", " + named[i];
  if (settled.size() > named.size()) {
    if (named.size() > 1) list += ", " + named.back();
    list = config::TranslateWith("@1 i @2 m\x82s",
                                 {list, std::to_string(settled.size() - named.size())});
  } else if (named.size() > 1) {
    list = config::TranslateWith("@1 i @2", {list, named.back()});
  }
  return config::TranslateWith(
      settled.size() == 1
          ? "Av\xa1s: la data de l'informe no \x82s posterior a la liquidaci\xa2 anterior de la "
            "comunitat @1; el per\xa1ode i els honoraris del seu full no s\xa2n v\x85lids "
            "(comproveu l'any)."
          : "Av\xa1s: la data de l'informe no \x82s posterior a la liquidaci\xa2 anterior de les "
            "comunitats @1; el per\xa1ode i els honoraris dels seus fulls no s\xa2n v\x85lids "
            "(comproveu l'any).",
      {list});
}

bool RemovePrintFileOfEarlierRun(const config::Settings& settings) {
  platform::Env& env = platform::CurrentEnv();
  bool busy = false;
  std::unique_ptr<platform::FileLock> run_lock =
      env.TryLock(settings.temp_dir + kPrintLockName, &busy);
  if (busy) return false;
  env.DeleteFile(PrintFilePath(settings));
  env.DeleteFile(RegisterFilePath(settings));
  return true;
}

std::string RegisterFilePath(const config::Settings& settings) {
  return settings.temp_dir + platform::kRegisterFileName;
}

PrintRunResult RunPrintRun(ReportContext& ctx, const ReportParameters& p, bool run_print_program,
                           const ReportProgress& progress, std::string* message) {
  NewRunTexts();
  const config::Settings& settings = ctx.settings;
  const std::string print_file = PrintFilePath(settings);
  platform::Env& env = platform::CurrentEnv();
  const std::string program = settings.program_dir + "ZIZAVEZU";
  // One print run per temporary folder: the print file and the print
  // program's run belong to whoever holds the folder's lock, so two runs
  // never mix their lines in one file nor print each other's. A run refused
  // here touches nothing.
  bool busy = false;
  std::unique_ptr<platform::FileLock> run_lock =
      env.TryLock(settings.temp_dir + kPrintLockName, &busy);
  if (run_lock == nullptr && busy) {
    *message = config::TranslateWith(
        "Una altra impressi\xa2 fa servir la carpeta temporal @1; torneu-ho a provar quan acabi",
        {platform::HostPath(settings.temp_dir)});
    return PrintRunResult::kPrintFileInUse;
  }
  // Whatever else ends the run without success, the print file an earlier
  // run left goes (this run's own is never put in place then): the print
  // file present is always the last successful run's, and a print program
  // started by hand never prints statements of another day.
  // The statement register beside it goes the same way.
  const std::string register_file = RegisterFilePath(settings);
  auto failed = [&](PrintRunResult result) {
    ctx.register_file.reset();  // never closed: the new register goes
    env.DeleteFile(print_file);
    env.DeleteFile(register_file);
    return result;
  };
  const PrintFileRemovedBySignal removed_by_signal(print_file, register_file);
  if (run_print_program && !env.IsDirectory(settings.program_dir)) {
    *message = config::TranslateWith("No existeix la carpeta de programes @1",
                                     {platform::HostPath(settings.program_dir)});
    return failed(PrintRunResult::kPrintProgramMissing);
  }
  if (run_print_program && !env.FileExists(program)) {
    *message = config::TranslateWith("La carpeta de programes @1 no t\x82 el programa d'impressi\xa2",
                                     {platform::HostPath(settings.program_dir)});
    return failed(PrintRunResult::kPrintProgramMissing);
  }
  if (!ctx.channel.Open(print_file, settings.output_device)) {
    ctx.channel.Close();
    *message = config::TranslateWith("No es pot crear el fitxer d'impressi\xa2 @1",
                                     {platform::HostPath(print_file)});
    return failed(PrintRunResult::kPrintFileFailed);
  }
  ctx.register_file = env.OpenWritable(register_file);
  ctx.register_entries = 0;
  ctx.register_failed = ctx.register_file == nullptr ||
                        !ctx.register_file->AppendLine(platform::RegisterHeader());
  format::SetCurrency("p");
  ctx.read_failure = ReadFailure{};
  bool complete = PrintAllCommunities(ctx, p, progress);
  format::SetCurrency("");
  // A read given up because the user stopped the run while it waited (for
  // the database server) is the stop, not a failure.
  if (complete && ctx.read_failure.status != 0 && ctx.stop_requested) {
    complete = !ctx.stop_requested({});
  }
  if (!complete) {
    ctx.channel.Abandon();
    message->clear();
    return failed(PrintRunResult::kStopped);
  }
  if (ctx.read_failure.status != 0) {
    // Statements with records missing are never put in place.
    ctx.channel.Abandon();
    const ReadFailure& f = ctx.read_failure;
    *message = f.reason.empty()
                   ? config::TranslateWith("No es pot llegir @1 (estat @2); no s'ha impr\x8as res",
                                           {ReportFileName(f.file), std::to_string(f.status)})
                   : config::TranslateWith(
                         "No es pot llegir @1 (estat @2: @3); no s'ha impr\x8as res",
                         {ReportFileName(f.file), std::to_string(f.status), f.reason});
    return failed(PrintRunResult::kDataReadFailed);
  }
  if (!ctx.channel.Close()) {
    // Never hand on a print file that is only partly written: the channel
    // left nothing of it.
    *message = config::TranslateWith("No es pot escriure el fitxer d'impressi\xa2 @1",
                                     {platform::HostPath(print_file)});
    return failed(PrintRunResult::kPrintFileFailed);
  }
  // The register after its print file, whose size and pages it names.
  if (ctx.register_failed ||
      !ctx.register_file->AppendLine(platform::RegisterTrailer(
          ctx.channel.BytesWritten(), ctx.channel.PageDirectives(), ctx.register_entries)) ||
      !ctx.register_file->Close()) {
    *message = config::TranslateWith("No es pot escriure el registre de fulls @1",
                                     {platform::HostPath(register_file)});
    return failed(PrintRunResult::kPrintFileFailed);
  }
  ctx.register_file.reset();
  if (!run_print_program) return PrintRunResult::kOk;
  if (ctx.print_program_starting) ctx.print_program_starting();
  // The print program holds the folder too: killed meanwhile (even with
  // SIGKILL), this process leaves the lock to it, and no other run starts
  // before it has ended.
  if (run_lock != nullptr) run_lock->ShareWithPrograms();
  std::string said;
  const int code = ctx.capture_print_program
                       ? env.RunProgramCaptured(program, {}, &said, ctx.stop_requested)
                       : env.RunProgram(program, {});
  const std::string last_line = LastLine(platform::Utf8ToCp850(said));
  const std::string shown_program = platform::HostPath(program);
  if (code == platform::Env::kStopped) {
    // Stopped while it worked: its output may be half made (it removes its
    // own unfinished file). Pages it had already handed to the printer may
    // print all the same: the user is told.
    message->clear();
    if (HandedToPrinter(said)) {
      *message = config::Translate(
          "La impressi\xa2 s'ha aturat, per\xa2 el programa d'impressi\xa2 ja havia enviat "
          "les p\x85gines a la impressora: mireu-ne la cua");
    }
    return failed(PrintRunResult::kStopped);
  }
  // One that ran and failed (or was ended by a signal) has said why when it
  // could; the user may fix the printer and try again.
  if (code == platform::Env::kEndedBySignal) {
    *message = config::TranslateWith("El programa d'impressi\xa2 @1 s'ha aturat per un senyal",
                                     {shown_program});
    return failed(PrintRunResult::kPrintProgramFailed);
  }
  if (code < 0) {
    *message = config::TranslateWith("No es pot engegar el programa d'impressi\xa2 @1",
                                     {shown_program});
    return failed(PrintRunResult::kPrintProgramMissing);
  }
  if (code != 0) {
    *message = !last_line.empty()
                   ? last_line
                   : config::TranslateWith(
                         "El programa d'impressi\xa2 @1 ha acabat amb l'estat @2",
                         {shown_program, std::to_string(code)});
    return failed(PrintRunResult::kPrintProgramFailed);
  }
  *message = last_line;
  return PrintRunResult::kOk;
}

}  // namespace driver
