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
#include "platform/statement_register.h"
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

// A new folder under TMPDIR (or /tmp), so that the file system's own cost
// of creating files can be told apart (TMPDIR=/dev/shm).
std::string ScratchFolder() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                        "/zizavezu_bench_XXXXXX";
  return std::string(mkdtemp(pattern.data())) + "/";
}

// Writes the print file page by page, so that generating it does not count
// towards the peak memory.
std::string WritePrintFile(int pages, const char* device) {
  std::string dir = ScratchFolder();
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

// A run of communities statements of one or two pages (every other one
// has two) and its statement register: 1,000 communities are 1,500 pages.
std::string WriteStatementRun(int communities, const char* device) {
  std::string dir = ScratchFolder();
  std::string reg = platform::RegisterHeader() + "\r\n";
  int64_t pages = 0;
  {
    std::ofstream file(dir + "zizavezu.tmp", std::ios::binary);
    file << "DEVICE" << device << "\r\n";
    std::string page;
    for (int c = 0; c < communities; ++c) {
      platform::StatementEntry e;
      e.community_code = std::to_string(c + 1);
      e.community_name = "COMUNITAT DE PROPIETARIS C. MALLORCA, " + std::to_string(c);
      e.first_page = pages + 1;
      e.pages = 1 + c % 2;
      e.period_to = "20261208";
      e.balance = 1234L * c - 500000;
      for (int p = 0; p < e.pages; ++p) {
        page.clear();
        AppendPage(static_cast<int>(pages++), &page);
        file << page;
      }
      reg += platform::RegisterLine(e) + "\r\n";
    }
  }
  const auto bytes = static_cast<int64_t>(std::filesystem::file_size(dir + "zizavezu.tmp"));
  reg += platform::RegisterTrailer(bytes, pages, static_cast<size_t>(communities)) + "\r\n";
  std::ofstream(dir + platform::kRegisterFileName, std::ios::binary) << reg;
  return dir;
}

void RenderStatements(benchmark::State& state, const char* device) {
  const int communities = static_cast<int>(state.range(0));
  const std::string dir = WriteStatementRun(communities, device);
  platform::FakeEnv env;
  std::ostringstream out, err;
  zizavezu::PrintRunResult result;
  for (auto _ : state) {
    result = zizavezu::RenderPrintRun(env, dir, out, err);
    if (result.exit_code != 0) state.SkipWithError("render failed");
  }
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  state.counters["pages"] = static_cast<double>(result.pages);
  state.counters["files"] = static_cast<double>(result.files);
  state.counters["bytes"] = static_cast<double>(result.bytes);
  state.counters["peak_rss_kib"] = static_cast<double>(usage.ru_maxrss);
  std::filesystem::remove_all(dir);
}

// The one-PDF run with its bookmarks against one PDF per statement (run
// each alone, --benchmark_filter, for its own peak memory).
void BM_StatementsOnePdf(benchmark::State& state) { RenderStatements(state, "PDF:out.pdf"); }
void BM_StatementsFolder(benchmark::State& state) { RenderStatements(state, "DIR:resum"); }
BENCHMARK(BM_StatementsOnePdf)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatementsFolder)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond);

// 1,000 pages first, then 10,000: the peak resident memory stays put.
BENCHMARK(BM_PrintText)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrintPdf)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
