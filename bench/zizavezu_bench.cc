// The print program on a large print run: pages per second for PDF and text
// output, output bytes per page and the peak resident memory, which must not
// grow with the page count (pages stream). The print file is generated here:
// statement pages as the page layout writes them (66 lines, "@e", right-
// aligned amounts, dot leaders, bold headings).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/fake_env.h"
#include "tools/zizavezu/print_program.h"

namespace {

std::string Amount(long cents) {
  char buffer[32];
  std::snprintf(
      buffer, sizeof buffer, "%11s",
      (std::to_string(cents / 100) + "," + std::to_string(100 + cents % 100).substr(1)).c_str());
  return buffer;
}

std::string Item(int column, const std::string& text, int feeds) {
  return " " + std::to_string(column) + " ," + text + ", " + std::to_string(feeds) + " \r\n";
}

// One statement page of 60 used lines.
void AppendPage(int n, std::string* out) {
  *out += "PAGE 66 \r\n*@e\r\n";
  *out += Item(1, "COMUNITAT DE PROPIETARIS C. MALLORCA, " + std::to_string(n % 500), 0);
  *out += "JUSD\r\n" + Item(85, "P\xB7GINA " + std::to_string(1000 + n % 9000), 2);
  *out += "JUSA\r\n" + Item(1, "DESPESES < A > GENERALS :", 1);
  *out += Item(1, "-------------------------", 1);
  long total = 0;
  for (int i = 0; i < 52; ++i) {
    long cents = 1234L * (i + 7) + n;
    total += cents;
    *out += Item(20, "Despesa de manteniment i reparaci\xA2 n\xA3m. " + std::to_string(i), 0);
    *out += "JUSD\r\n" + Item(73, Amount(cents), 1);
  }
  *out += Item(73, "-----------", 1);
  *out += "JUSN 72 \\.\\\r\n" + Item(20, "TOTAL GENERALS ", 0);
  *out += "JUSD\r\n" + Item(73, Amount(total), 2);
}

// Writes the print file page by page, so that generating it does not count
// towards the peak memory.
std::string WritePrintFile(int pages, const char* device) {
  char pattern[] = "/tmp/zizavezu_bench_XXXXXX";
  std::string dir = std::string(mkdtemp(pattern)) + "/";
  std::ofstream file(dir + "zizavezu.tmp", std::ios::binary);
  file << "DEVICE" << device << "\r\n";
  std::string page;
  for (int p = 0; p < pages; ++p) {
    page.clear();
    AppendPage(p, &page);
    file << page;
  }
  return dir;
}

void Render(benchmark::State& state, const char* device) {
  const int pages = static_cast<int>(state.range(0));
  const std::string dir = WritePrintFile(pages, device);
  platform::FakeEnv env;
  std::ostringstream out, err;
  zizavezu::PrintRunResult result;
  for (auto _ : state) {
    result = zizavezu::RenderPrintRun(env, dir, out, err);
    if (result.exit_code != 0 || result.pages != pages) state.SkipWithError("render failed");
  }
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  state.counters["pages_per_s"] = benchmark::Counter(
      static_cast<double>(pages) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["bytes_per_page"] = static_cast<double>(result.bytes) / pages;
  state.counters["peak_rss_kib"] = static_cast<double>(usage.ru_maxrss);
  std::filesystem::remove_all(dir);
}

void BM_PrintPdf(benchmark::State& state) {
  Render(state, "PDF:out.pdf");
}
void BM_PrintText(benchmark::State& state) {
  Render(state, "TXT:out.txt");
}

// 1,000 pages first, then 10,000: the peak resident memory stays put.
BENCHMARK(BM_PrintText)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrintPdf)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
