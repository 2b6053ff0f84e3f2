// Layout of a statement, in the order a page is filled: the page header,
// section headings, lines, section totals, and the summary that closes the
// statement.
#include "driver/statement_layout.h"

#include <string>
#include <unordered_map>

#include "config/locale.h"
#include "console/upper_text.h"
#include "format/codes.h"
#include "format/dates.h"
#include "format/masks.h"
#include "format/written_date.h"
#include "platform/blanks.h"

namespace driver {

namespace {

std::unordered_map<std::string, std::string>& RunTexts() {
  static auto* texts = new std::unordered_map<std::string, std::string>();
  return *texts;
}

const std::string& T(const std::string& text) { return RunText(text); }

int16_t Centred(const std::string& text) {
  return static_cast<int16_t>((kPageWidth - static_cast<int>(text.size())) / 2);
}

}  // namespace

const std::string& RunText(const std::string& catalan) {
  auto& texts = RunTexts();
  auto it = texts.find(catalan);
  if (it == texts.end()) it = texts.emplace(catalan, config::Translate(catalan)).first;
  return it->second;
}

void NewRunTexts() { RunTexts().clear(); }

std::string StatementAmount(int64_t cents) {
  static const std::string mask = kAmountMask;
  return format::FormatAmount(mask, static_cast<double>(cents));
}

StatementLayout::StatementLayout(DirectiveSink& sink, const StatementCommunity& community,
                                 const AdministratorIdentity& identity, const FeeSettings& fees,
                                 const std::string& report_date)
    : out_(sink),
      community_(community),
      identity_(identity),
      fees_(fees),
      report_date_(report_date) {}

// The layout's codes are all in normal form ("D", "A", "N 72 \\.\\"...).
void StatementLayout::Justify(std::string_view code) {
  out_.Justify(code);
}

void StatementLayout::Amount(int16_t column, int64_t amount, int16_t line_feeds) {
  Justify("D");
  out_.Text(column, StatementAmount(amount), line_feeds);
}

void StatementLayout::PageHeader() {
  ++page_count_;
  out_.Page(kPageLines);
  out_.Raw("@e");
  const std::string page =
      T("P\xb7GINA ") + format::FormatMask(kPageNumberMask, static_cast<double>(page_count_));
  const std::string name = format::DisplayName(community_.name);
  const bool no_letterhead = fees_.letterhead_switch == "N";

  if (page_count_ > 1) {
    if (no_letterhead) {
      Justify("D");
      out_.Text(kSummaryAmountColumn, page, 9);
      out_.Text(1, name, 2);
    } else {
      out_.Text(1, name, 0);
      Justify("D");
      out_.Text(kSummaryAmountColumn, page, 2);
    }
    return;
  }

  // A named copy's address block: the owner, the flat and the community,
  // on three lines the page has anyway, right of the letterhead (or below
  // the page number on pre-printed paper), where a window envelope shows
  // them. Every line feed stays, so every page break stays where it was.
  const CommunityOwner* to = community_.recipient;
  auto address = [to, &name](size_t line) {
    const std::string text = line == 0   ? format::DisplayName(to->name)
                             : line == 1 ? platform::TrimBlanks(to->flat)
                                         : name;
    return text.substr(0, kAddressWidth);
  };
  if (no_letterhead) {
    Justify("D");
    if (to == nullptr) {
      out_.Text(kSummaryAmountColumn, page, 9);
    } else {
      out_.Text(kSummaryAmountColumn, page, 3);
      out_.Text(kAddressColumn, address(0), 1);
      out_.Text(kAddressColumn, address(1), 1);
      out_.Text(kAddressColumn, address(2), 4);
    }
  } else {
    out_.Text(1, identity_.item[1], 0);
    Justify("D");
    out_.Text(kSummaryAmountColumn, page, 1);
    if (!platform::IsBlank(identity_.item[6])) out_.Text(0, identity_.item[6], 1);
    for (int k = 2; k <= 5; ++k) {
      const std::string& item = identity_.item[static_cast<size_t>(k)];
      if (to != nullptr && k <= 4) {
        out_.Text(1, item, 0);
        out_.Text(kAddressColumn, address(static_cast<size_t>(k - 2)), 1);
      } else {
        out_.Text(1, item, 1);
      }
    }
    out_.Text(1, "N.I.F. " + identity_.item[7], 2);
  }

  std::string title = T("RESUM DE DESPESES");
  if (!format::IsNoDate(community_.previous_settlement)) {
    std::string from = format::DateAdd(community_.previous_settlement, 1, "d");
    title += T(" DES DEL ") + console::UpperText(format::WrittenDate(from, 2, "dma"));
  }
  title += T(" FINS AL ") + console::UpperText(format::WrittenDate(report_date_, 2, "dma"));
  out_.Text(Centred(title), title, 1);

  std::string line = T("CORRESPONENT A LA COMUNITAT DE PROPIETARIS (") +
                     format::CodeToText(community_.code) + ") " + name;
  out_.Text(Centred(line), line, 1);
  out_.Text(Centred(line), std::string(line.size(), '='), 2);

  Justify("N 83 \\.\\");
  out_.Text(kDescriptionColumn, T("R\xe3SSEC LIQUIDACI\xe0 ANTERIOR "), 0);
  Amount(kSummaryAmountColumn, community_.carried_balance, 2);
}

void StatementLayout::BeginSection(int s, const std::string& title) {
  section_ = s;
  title_ = title;
  section_started_ = false;
  section_total_ = 0;
}

void StatementLayout::SectionHeading() {
  if (out_.LineCounter() > 58) PageHeader();
  section_started_ = true;
  static const std::string kGroups = "< A >< B >< C >< D >< E >< F >< G >";
  std::string group;
  size_t start = static_cast<size_t>(5 * section_ - 5);
  if (section_ >= 1 && start < kGroups.size()) group = kGroups.substr(start, 5);
  group += " ";
  group.erase(0, group.find_first_not_of(' ') == std::string::npos ? group.size()
                                                                   : group.find_first_not_of(' '));
  std::string heading = T("DESPESES ") + group + platform::TrimRightBlanks(title_) + " :";
  Justify("A");
  out_.Text(1, heading, 1);
  out_.Text(1, std::string(heading.size(), '-'), 1);
}

void StatementLayout::BeforeLine() {
  if (page_count_ == 0) PageHeader();
  if (out_.LineCounter() > 60) {
    PageHeader();
    SectionHeading();
  }
  if (!section_started_) SectionHeading();
}

void StatementLayout::PrintLine(std::string_view description, int64_t amount) {
  BeforeLine();
  out_.Text(kDescriptionColumn, description, 0);
  Amount(kLineAmountColumn, amount, 1);
  section_total_ += amount;
  total_expenses_ += amount;
}

void StatementLayout::PrintParticularLine(const std::string& flat, const std::string& owner_name,
                                          int64_t amount) {
  BeforeLine();
  out_.Text(kFlatColumn, flat, 0);
  out_.Text(kDescriptionColumn, format::DisplayName(owner_name), 0);
  Amount(kLineAmountColumn, amount, 1);
  section_total_ += amount;
  total_expenses_ += amount;
}

void StatementLayout::SectionTotal() {
  out_.Text(kLineAmountColumn, std::string(11, '-'), 1);
  if (out_.LineCounter() > 59) PageHeader();
  Justify("N 72 \\.\\");
  out_.Text(kDescriptionColumn, T("TOTAL ") + platform::TrimRightBlanks(title_) + T(" "), 0);
  Amount(kLineAmountColumn, section_total_, 2);
}

void StatementLayout::Summary(int64_t collections) {
  if (out_.LineCounter() > 60) PageHeader();
  Justify("N 72 \\.\\");
  out_.Text(kDescriptionColumn, T("TOTAL DESPESES "), 0);
  Amount(kSummaryAmountColumn, total_expenses_, 1);

  if (out_.LineCounter() > 59) PageHeader();
  Justify("N 72 \\.\\");
  out_.Text(kDescriptionColumn, T("TOTAL COBRAMENTS "), 0);
  Amount(kSummaryAmountColumn, collections, 1);

  out_.Text(kSummaryAmountColumn, std::string(11, '-'), 1);

  if (out_.LineCounter() > 57) PageHeader();
  int64_t balance = collections + community_.carried_balance - total_expenses_;
  std::string label = T("R\xe3SSEC ACTUAL A FAVOR ") +
                      (balance > 0 ? T("DE LA COMUNITAT") : T("DE L'ADMINISTRADOR"));
  out_.Text(kDescriptionColumn, label, 0);
  Amount(kSummaryAmountColumn, balance, 1);

  out_.Text(kDescriptionColumn, std::string(76, '='), 2);

  std::string place = platform::TrimRightBlanks(identity_.item[8]) + ", " +
                      format::WrittenDate(report_date_, 2, "dma");
  Justify("D");
  out_.Text(static_cast<int16_t>(kPageWidth - static_cast<int>(place.size())), place, 1);
}

}  // namespace driver
