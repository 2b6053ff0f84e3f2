// The browse list opened on the owner file of a generated portfolio (as
// `demodata scale` writes it: communities of 5,000 flats) of 10,000 and
// 1,000,000 records, over the whole file: time from BrowseList to the first
// drawn page (the list waiting for a key), and the resident memory then.
// The lazy reading keeps both flat in the file size.
//
// The files are generated once under the system's temporary directory, in
// a child process so its memory does not count. Run one size per process
// for clean memory figures:
//   browse_bench --benchmark_filter=/10000$
//   browse_bench --benchmark_filter=/1000000$
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "console/browse_list.h"
#include "console/form_set.h"
#include "console/keys.h"
#include "console/screen.h"
#include "datafiles/record_file.h"
#include "driver/module_hooks.h"
#include "driver/report_files.h"
#include "platform/console.h"
#include "tools/demodata/data_writer.h"

namespace {

constexpr int kFlatsPerCommunity = 5000;
constexpr int16_t kOwnerFile = 513;

std::string SampleDdf() {
  return (std::filesystem::path(__FILE__).parent_path().parent_path() / "sample" / "ddf").string() +
         "/";
}

// root/DADES/PropietH.dat with n owners, written by a child process.
std::string OwnerRoot(long n) {
  const std::string root =
      (std::filesystem::temp_directory_path() / ("telvoran-browse-bench-" + std::to_string(n)))
          .string() +
      "/";
  if (std::filesystem::exists(root + "done")) return root;
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root + "DADES");
  std::filesystem::create_directories(root + "tmp");
  const pid_t child = ::fork();
  if (child == 0) {
    std::vector<std::string> owners;
    owners.reserve(static_cast<size_t>(n));
    for (long i = 0; i < n; ++i) {
      demodata::OwnerSpec o;
      o.community = static_cast<int>(1 + i / kFlatsPerCommunity);
      o.flat = static_cast<int>(1 + i % kFlatsPerCommunity);
      o.name = "PROPIETARI " + std::to_string(o.flat) + "*" + std::to_string(o.community);
      o.flat_designation = "PIS " + std::to_string(o.flat);
      owners.push_back(demodata::Owner(o));
    }
    std::string error;
    if (!demodata::WriteDataFile(root + "DADES/PropietH.dat", SampleDdf() + "PropietH.xdf", owners,
                                 &error)) {
      std::fprintf(stderr, "browse_bench: %s\n", error.c_str());
      ::_exit(1);
    }
    std::ofstream(root + "done") << n << "\n";
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::string();
  return root;
}

long ResidentKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) == 0) return std::stol(line.substr(key.size()));
  }
  return -1;
}

void BM_BrowseFirstPage(benchmark::State& state) {
  const long n = state.range(0);
  const std::string root = OwnerRoot(n);
  if (root.empty()) {
    state.SkipWithError("cannot generate the owner file");
    return;
  }
  config::Settings& s = config::ModuleSettings();
  s.root_dir = root;
  s.temp_dir = root + "tmp/";
  s.colours = config::ParseColourTable(config::kDefaultColours);
  // The owner record's buffer, as the module's report context holds it; the
  // file is closed (RecordFilesReset) before it goes.
  driver::ReportBuffers buffers;
  datafiles::Status st = 0;
  datafiles::RecordFileOpen(kOwnerFile, root + "DADES\\PropietH", buffers.owner.data(), st);
  if (st != 0 && st != datafiles::kStatusAlreadyOpen) {
    state.SkipWithError("cannot open the owner file");
    return;
  }

  // The owners' list of the demo's form file, over the whole file.
  console::FormSet& forms = console::Forms();
  forms.lists.resize(3);
  forms.lists[2].attr = {kOwnerFile, 0, 4, 6, 20, 74, 0, 0};
  forms.lists[2].title = "Propietaris";
  console::BrowseHooks hooks;
  hooks.start_key = [](int16_t, std::string& lo, std::string& hi) {
    lo.clear();
    hi.clear();
    return int16_t{0};
  };
  hooks.line = [&buffers](int16_t list) { return driver::BrowseLine(list, buffers); };
  console::SetBrowseHooks(hooks);

  platform::MemoryConsole screen(25, 80);
  platform::ScopedConsoleOverride use(&screen);
  // The first time the list waits for a key it has drawn its first page.
  std::chrono::steady_clock::time_point drawn;
  std::string first_row;
  screen.set_idle_limit(100);
  screen.set_idle_hook([&] {
    drawn = std::chrono::steady_clock::now();
    first_row = screen.RowText(5);
    screen.PushChar(27);
  });

  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    int16_t list = 2, result = 0;
    console::BrowseList(list, result);
    state.SetIterationTime(std::chrono::duration<double>(drawn - start).count());
  }
  state.counters["rss_kib"] = static_cast<double>(ResidentKiB("VmRSS"));
  state.counters["peak_rss_kib"] = static_cast<double>(ResidentKiB("VmHWM"));
  state.counters["records"] = static_cast<double>(n);
  if (first_row.find("PROPIETARI 1*1") == std::string::npos) {
    state.SkipWithError("the first page does not show the first owner");
  }
  datafiles::RecordFilesReset(st);
}
BENCHMARK(BM_BrowseFirstPage)
    ->Arg(10000)
    ->Arg(1000000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
