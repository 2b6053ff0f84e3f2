// Speed of the text formatting the statement uses on every printed line:
// FormatAmount with the report's money mask, WrittenDate written out in
// words, and one Translate call on a locale file of 400 lines (the file is
// read again on every call).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "config/locale.h"
#include "config/settings.h"
#include "format/currency.h"
#include "format/masks.h"
#include "format/packed.h"
#include "format/written_date.h"
#include "platform/fake_env.h"

namespace {

// A root directory with no Nuva.ini and a LOCALE folder, for the whole run.
class BenchRoot {
 public:
  BenchRoot() {
    char tmpl[] = "/tmp/telvoran-bench-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    dir_ += "/";
    env_ = std::make_unique<platform::FakeEnv>(dir_);
    use_ = std::make_unique<platform::ScopedEnvOverride>(env_.get());
  }
  ~BenchRoot() { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  std::unique_ptr<platform::FakeEnv> env_;
  std::unique_ptr<platform::ScopedEnvOverride> use_;
};

BenchRoot& Root() {
  static BenchRoot root;
  return root;
}

void BM_FormatAmountReportMask(benchmark::State& state) {
  Root();
  format::ResetFormatSettingsForTesting();
  format::SetCurrency("a,E");
  double cents = -123456789;
  for (auto _ : state) {
    benchmark::DoNotOptimize(format::FormatAmount("ZZZ,ZZZ,ZZ9", cents));
    cents += 7919;
    if (cents > 123456789) cents = -123456789;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatAmountReportMask);

void BM_WrittenDateWords(benchmark::State& state) {
  Root();
  format::ResetDateSettingsForTesting();
  config::ModuleSettings().language = "CAT";
  const std::string dates[] = {format::PackDigits("20240405"), format::PackDigits("20241231"),
                               format::PackDigits("20240815")};
  size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(format::WrittenDate(dates[k], 2, "dma"));
    k = (k + 1) % 3;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WrittenDateWords);

void BM_TranslateOn400Lines(benchmark::State& state) {
  const std::string& dir = Root().dir();
  ::mkdir((dir + "LOCALE").c_str(), 0777);
  {
    std::ofstream out(dir + "LOCALE/TELVORAN.LNG", std::ios::binary);
    for (int g = 0; g < 100; ++g) {
      out << "TEXT CATALA " << g << "\r\nTEXTO GALEGO " << g << "\r\nTEXT ARANES " << g
          << "\r\nTEXTO CASTELLANO " << g << "\r\n";
    }
  }
  config::ModuleSettings().root_dir = dir;
  config::ModuleSettings().language = "SPA";
  // The last key: the whole file is read on each call.
  const std::string text = "TEXT CATALA 99";
  for (auto _ : state) benchmark::DoNotOptimize(config::Translate(text));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TranslateOn400Lines);

}  // namespace
