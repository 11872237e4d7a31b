// Throughput of the value operations the manifest run leans on: joining
// texts, appending to a text array and removing from it. Arrays keep no
// spare capacity, so every append and every removal resizes the block; these
// figures show what that costs as arrays grow.
//
// Appends per second are reported as items_per_second of the ArrayAppend
// runs; compare the 10,000 and 100,000 rows to see whether the cost of one
// append stays flat as the array grows.
#include <benchmark/benchmark.h>

#include <cstring>

#include "platform/platform.h"
#include "runtime/host/program_description.h"
#include "runtime/host/runtime_application.h"
#include "runtime/values/text_value.h"
#include "runtime/values/value_array.h"
#include "runtime/values/value_memory.h"

namespace {

// A program with constant data that ends in the empty-array constant.
struct BenchConstants {
  char name[16];
  int32_t emptyArray[2];
};
const BenchConstants kConstants = {"Infantry.xml", {1, 0}};
const rt::ProgramDescription kDescription = {
    3, 0, 0, nullptr, &kConstants, sizeof kConstants, nullptr, 0, 0, nullptr, 0, nullptr, nullptr,
};
int32_t Entry() { return 0; }
intptr_t StubA(intptr_t) { return 0; }
void StubB() {}
const rt::ProgramImage kImage = {&kDescription, &Entry, &StubA, &StubB};

// The runtime the benchmarks act on: this platform's own heap, the constant
// data registered as start-up registers it.
rt::RuntimeApplication& BenchRuntime() {
  static rt::RuntimeApplication* app = [] {
    auto* a = new rt::RuntimeApplication(kImage);
    a->RuntimeHeap = os::Os().GetProcessHeap();
    rt::AddStaticRange(&kConstants, sizeof kConstants);
    return a;
  }();
  return *app;
}

void* NewArray() {
  void* a = rt::AllocateBlock(8);
  std::memcpy(a, rt::EmptyArrayConstant(), 8);
  return a;
}

void BM_TextJoin(benchmark::State& state) {
  BenchRuntime();
  const char* parts[3] = {"C:\\Games\\Mods\\MyMod\\Data\\Units", "\\", kConstants.name};
  for (auto _ : state) {
    char* t = rt::TextJoin(3, parts);
    benchmark::DoNotOptimize(t);
    rt::ReleaseBlock(t);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TextJoin);

// An array of n texts.
void* FilledArray(int32_t n) {
  void* a = NewArray();
  for (int32_t i = 0; i < n; ++i) rt::ArrayAppend(&a, kConstants.name);
  return a;
}

// Builds an array of n texts from nothing, then releases it.
void BM_ArrayAppend(benchmark::State& state) {
  BenchRuntime();
  const int64_t n = state.range(0);
  for (auto _ : state) {
    void* a = NewArray();
    for (int64_t i = 0; i < n; ++i) rt::ArrayAppend(&a, kConstants.name);
    benchmark::DoNotOptimize(a);
    state.PauseTiming();
    rt::ArrayRelease(a);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ArrayAppend)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Empties an array of n texts from its end: each removal frees one text and
// shrinks the block, with nothing to move.
void BM_ArrayRemoveLast(benchmark::State& state) {
  BenchRuntime();
  const int32_t n = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    void* a = FilledArray(n);
    state.ResumeTiming();
    for (int32_t i = n - 1; i >= 0; --i) rt::ArrayRemove(&a, i, 1);
    state.PauseTiming();
    rt::ArrayRelease(a);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ArrayRemoveLast)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Empties an array of n texts from its front: every removal moves all the
// slots after it, so the cost of one removal grows with the array.
void BM_ArrayRemoveFirst(benchmark::State& state) {
  BenchRuntime();
  const int32_t n = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    void* a = FilledArray(n);
    state.ResumeTiming();
    for (int32_t i = 0; i < n; ++i) rt::ArrayRemove(&a, 0, 1);
    state.PauseTiming();
    rt::ArrayRelease(a);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ArrayRemoveFirst)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
