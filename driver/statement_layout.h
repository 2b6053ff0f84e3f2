// The page layout of one settlement statement copy: page headers (letterhead
// or blank space for pre-printed paper, page number, title, community line,
// carried balance), section headings, expense lines, section totals and the
// closing summary. Everything goes out to a directive sink (the print
// channel in a print run) as text items at fixed columns; page breaks follow
// fixed thresholds of the sink's line counter. Every fixed text passes
// through the locale translation, once per print run (RunText).
//
// One object per printed copy; it reads the community, the settings and the
// identity it was given and writes to the sink it was given, all of which
// must outlive it.
#ifndef TELVORAN_DRIVER_STATEMENT_LAYOUT_H_
#define TELVORAN_DRIVER_STATEMENT_LAYOUT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/directive_sink.h"
#include "driver/module_state.h"

namespace driver {

// Page geometry, in characters and lines.
inline constexpr int16_t kPageLines = 66;
inline constexpr int kPageWidth = 96;
inline constexpr int16_t kDescriptionColumn = 20;
inline constexpr int16_t kFlatColumn = 6;
inline constexpr int16_t kLineAmountColumn = 73;
inline constexpr int16_t kSummaryAmountColumn = 85;
inline constexpr char kAmountMask[] = "ZZZ,ZZZ,ZZ9";
inline constexpr char kPageNumberMask[] = "ZZZ9";

// The translation of one of the report's fixed texts for this print run:
// the locale file is read for a text the first time the run needs it, not
// for every page and line (a run prints the same few dozen texts tens of
// thousands of times). NewRunTexts starts a run: an edited locale file
// counts from the next run on.
const std::string& RunText(const std::string& catalan);
void NewRunTexts();

// An owner of a community, in key order, for the copies printed once per
// owner.
struct CommunityOwner {
  std::string flat_code;  // as typed ("12")
  std::string flat;       // designation, as stored
  std::string name;       // as stored
};

// Where the address block of a named copy starts on its first page's lines.
inline constexpr int16_t kAddressColumn = 50;
inline constexpr size_t kAddressWidth = 46;

// What the header of every page shows of the community.
struct StatementCommunity {
  std::string code;                 // packed community code, 2 bytes
  std::string name;                 // 30 characters as stored
  std::string previous_settlement;  // packed date; all 0x80 when none
  int64_t carried_balance = 0;
  // A named copy: the owner it goes to, whose name, flat designation and
  // community the first page shows in an address block, on lines it has
  // anyway. Null for every other copy.
  const CommunityOwner* recipient = nullptr;
};

class StatementLayout {
 public:
  StatementLayout(DirectiveSink& sink, const StatementCommunity& community,
                  const AdministratorIdentity& identity, const FeeSettings& fees,
                  const std::string& report_date);
  StatementLayout(const StatementLayout&) = delete;
  StatementLayout& operator=(const StatementLayout&) = delete;

  // Starts section s (1..8) with its title; nothing is printed yet.
  void BeginSection(int s, const std::string& title);
  // An expense line of sections 1..7 (and of section 8 by expense type).
  void PrintLine(std::string_view description, int64_t amount);
  // A particular line of section 8: flat designation and owner name.
  void PrintParticularLine(const std::string& flat, const std::string& owner_name, int64_t amount);
  void SectionTotal();
  void Summary(int64_t collections);

  int page_count() const { return page_count_; }
  bool section_started() const { return section_started_; }
  int64_t total_expenses() const { return total_expenses_; }
  int64_t section_total() const { return section_total_; }

 private:
  void PageHeader();
  void SectionHeading();
  void BeforeLine();
  void Amount(int16_t column, int64_t amount, int16_t line_feeds);
  // Writes a justification code given in its normal form.
  void Justify(std::string_view code);

  DirectiveSink& out_;
  const StatementCommunity& community_;
  const AdministratorIdentity& identity_;
  const FeeSettings& fees_;
  const std::string report_date_;
  int page_count_ = 0;
  int section_ = 0;
  std::string title_;
  bool section_started_ = false;
  int64_t section_total_ = 0;
  int64_t total_expenses_ = 0;
};

// Amounts in cents through the report's amount mask.
std::string StatementAmount(int64_t cents);

}  // namespace driver

#endif  // TELVORAN_DRIVER_STATEMENT_LAYOUT_H_
