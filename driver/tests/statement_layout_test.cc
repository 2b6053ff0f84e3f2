// The statement layout on a sink of the test's own: its page breaks at the
// exact line counts where they change.
#include "driver/statement_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "driver/directive_sink.h"
#include "format/packed.h"
#include "platform/fake_env.h"
#include "testsupport/scratch_dir.h"

namespace driver {
namespace {

// Counts lines as the print channel does and the pages the layout starts.
class CountingSink : public DirectiveSink {
 public:
  void Page(int16_t length) override {
    ++pages_;
    page_length_ = length;
    line_counter_ = 0;
  }
  void Raw(std::string_view) override {}
  void Justify(std::string_view) override {}
  void Text(int16_t, std::string_view text, int16_t line_feeds) override {
    texts.emplace_back(text);
    line_counter_ += line_feeds;
  }
  int32_t LineCounter() const override { return line_counter_; }
  int16_t PageLength() const override { return page_length_; }

  // Lines of the test's own until the page holds `lines` lines.
  void FillTo(int32_t lines) {
    while (line_counter_ < lines) Text(1, "", 1);
  }
  int pages() const { return pages_; }
  // The texts written, in order.
  std::vector<std::string> texts;

 private:
  int pages_ = 0;
  int16_t page_length_ = 0;
  int32_t line_counter_ = 0;
};

class StatementLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = config::ModuleSettings();
    config::ModuleSettings().language = "CAT";  // the texts as written, no locale file
    // The number and date formats find no settings file: their defaults.
    env_ = std::make_unique<platform::FakeEnv>(::testing::TempDir() + "telvoran-layout-none/");
    use_ = std::make_unique<platform::ScopedEnvOverride>(env_.get());
    community_.code = format::PackDigits("0001");
    community_.name = "C. MAJOR, 24";
    community_.previous_settlement = format::PackDigits("20261031");
    for (std::string& item : identity_.item) item.assign(kIdentityWidth, 'x');
  }
  void TearDown() override {
    use_.reset();
    config::ModuleSettings() = saved_;
  }

  config::Settings saved_;
  std::unique_ptr<platform::FakeEnv> env_;
  std::unique_ptr<platform::ScopedEnvOverride> use_;
  StatementCommunity community_;
  AdministratorIdentity identity_;
  FeeSettings fees_;
};

// Each threshold at the last line count that keeps the page and the first
// that starts a new one. The page already holds its header, the heading of
// section 1 and one line of it; the step starts with `lines` lines used.
TEST_F(StatementLayoutTest, PageBreakThresholds) {
  using Step = std::function<void(StatementLayout&)>;
  const Step first_line_of_a_section = [](StatementLayout& l) {
    l.BeginSection(2, "ESCALA A");
    l.PrintLine("y", 200);  // the heading comes first
  };
  const Step next_line = [](StatementLayout& l) { l.PrintLine("z", 300); };
  const Step section_total = [](StatementLayout& l) { l.SectionTotal(); };  // its rule first
  const struct {
    const char* step_name;
    Step step;
    int32_t lines;
    bool new_page;
  } cases[] = {
      {"section heading", first_line_of_a_section, 58, false},
      {"section heading", first_line_of_a_section, 59, true},
      {"expense line", next_line, 60, false},
      {"expense line", next_line, 61, true},
      {"section total", section_total, 58, false},
      {"section total", section_total, 59, true},
  };
  for (const auto& c : cases) {
    CountingSink sink;
    StatementLayout layout(sink, community_, identity_, fees_, format::PackDigits("20261130"));
    layout.BeginSection(1, "SEGONS COEFICIENT GENERAL");
    layout.PrintLine("x", 100);
    ASSERT_EQ(sink.pages(), 1);
    ASSERT_LT(sink.LineCounter(), c.lines);
    sink.FillTo(c.lines);
    c.step(layout);
    EXPECT_EQ(sink.pages(), c.new_page ? 2 : 1) << c.step_name << " after " << c.lines << " lines";
    EXPECT_EQ(layout.page_count(), sink.pages()) << c.step_name << " after " << c.lines;
  }
}

// Every quoted text of the total line goes through the locale, the blank
// after the section's title too (a language may want a colon there).
TEST_F(StatementLayoutTest, SectionTotalLineIsTranslatedWhole) {
  testsupport::ScratchDir root{"telvoran-layout-locale"};
  testsupport::WriteFile(root.path() + "LOCALE/TELVORAN.LNG",
                         "TOTAL \r\nTOTAL \r\nTOTAU \r\nTOTAL \r\n"
                         " \r\n:\r\n:\r\n: \r\n");
  config::ModuleSettings().root_dir = root.path();
  config::ModuleSettings().language = "SPA";
  CountingSink sink;
  StatementLayout layout(sink, community_, identity_, fees_, format::PackDigits("20261130"));
  layout.BeginSection(1, "ESCALA A   ");
  layout.PrintLine("x", 100);
  layout.SectionTotal();
  EXPECT_NE(std::find(sink.texts.begin(), sink.texts.end(), "TOTAL ESCALA A: "), sink.texts.end());
}

}  // namespace
}  // namespace driver
