// The input readers over large files: read_target_list over iplist.txt files
// of 10k, 100k and 1M cards, scan_listing over listings of 10k, 100k and 1M
// names (the module name last, so that the whole listing is read). Besides
// the time, each reports the peak of the heap it used (peak_heap, in bytes,
// counted by the operator new below) and that peak per entry or line.

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>

#include <benchmark/benchmark.h>

#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/card/firmware_version.h"
#include "upgrd_util/inputs/target_list.h"

// Heap accounting: every allocation through operator new, by usable size.
namespace {
std::atomic<long long> g_heap_now{0};
std::atomic<long long> g_heap_peak{0};

void* Allocate(size_t size) {
  void* p = malloc(size ? size : 1);
  if (!p)
    throw std::bad_alloc();
  long long now = g_heap_now += static_cast<long long>(malloc_usable_size(p));
  long long peak = g_heap_peak.load();
  while (now > peak && !g_heap_peak.compare_exchange_weak(peak, now)) {
  }
  return p;
}

void Release(void* p) {
  if (!p)
    return;
  g_heap_now -= static_cast<long long>(malloc_usable_size(p));
  free(p);
}
}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

namespace {

// The generated inputs live in one scratch directory for the process.
std::string ScratchDir() {
  static std::string dir = [] {
    char templ[] = "/tmp/upgrd_parse_bench.XXXXXX";
    if (!mkdtemp(templ)) {
      perror("mkdtemp");
      exit(1);
    }
    return std::string(templ);
  }();
  return dir;
}

std::map<std::string, std::string>& Generated() {
  static std::map<std::string, std::string> files;
  return files;
}

void RemoveGenerated() {
  for (auto& entry : Generated())
    unlink(entry.second.c_str());
  rmdir(ScratchDir().c_str());
}

// iplist.txt with `cards` cards (three lines each) after a comment line.
std::string TargetListFile(long cards) {
  std::string key = "iplist" + std::to_string(cards);
  auto it = Generated().find(key);
  if (it != Generated().end())
    return it->second;
  std::string path = ScratchDir() + "/" + key + ".txt";
  FILE* out = fopen(path.c_str(), "w");
  if (!out) {
    perror(path.c_str());
    exit(1);
  }
  fprintf(out, "; generated for the benchmark\n");
  for (long i = 0; i < cards; ++i)
    fprintf(out, "SystemIP=127.%ld.%ld.%ld\nSystemUserName=admin%ld\n"
            "SystemPassword=pw%ld\n",
            (i >> 16) & 255, (i >> 8) & 255, i & 255, i % 1000, i % 100000);
  fclose(out);
  Generated()[key] = path;
  return path;
}

// A card's listing as Ls leaves it: `lines` names, the ZEL module last.
std::string ListingFile(long lines) {
  std::string key = "listing" + std::to_string(lines);
  auto it = Generated().find(key);
  if (it != Generated().end())
    return it->second;
  std::string path = ScratchDir() + "/" + key + ".txt";
  FILE* out = fopen(path.c_str(), "w");
  if (!out) {
    perror(path.c_str());
    exit(1);
  }
  for (long i = 0; i + 1 < lines; ++i)
    fprintf(out, "event_%07ld.txt\n", i);
  fprintf(out, "kvn_hw02_zel_211.bin\n");
  fclose(out);
  Generated()[key] = path;
  return path;
}

void ReadTargetList(benchmark::State& state) {
  const long cards = state.range(0);
  const std::string path = TargetListFile(cards);
  long long peak = 0;
  for (auto _ : state) {
    FILE* file = fopen(path.c_str(), "r");
    long long base = g_heap_now;
    g_heap_peak = base;
    int count = 0;
    upgrade_target* list = read_target_list(&count, file);
    peak = std::max(peak, g_heap_peak - base);
    state.PauseTiming();
    if (count != cards) {
      state.SkipWithError("wrong number of cards");
      break;
    }
    free_upgrade_targets(list);
    fclose(file);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * cards);
  state.counters["peak_heap"] = static_cast<double>(peak);
  state.counters["heap_per_card"] = static_cast<double>(peak) / cards;
}

void ScanListing(benchmark::State& state) {
  const long lines = state.range(0);
  const std::string path = ListingFile(lines);
  long long peak = 0;
  std::string name;
  for (auto _ : state) {
    FILE* file = fopen(path.c_str(), "r");
    long long base = g_heap_now;
    g_heap_peak = base;
    bool found = scan_listing(file, &name);
    peak = std::max(peak, g_heap_peak - base);
    fclose(file);
    if (!found || name != "kvn_hw02_zel_211.bin") {
      state.SkipWithError("module name not found");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * lines);
  state.counters["peak_heap"] = static_cast<double>(peak);
  state.counters["heap_per_line"] = static_cast<double>(peak) / lines;
}

}  // namespace

BENCHMARK(ReadTargetList)->Arg(10000)->Arg(100000)->Arg(1000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ScanListing)->Arg(10000)->Arg(100000)->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  RemoveGenerated();
  return 0;
}
