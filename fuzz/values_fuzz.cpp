// Random sequences of value operations (join, copy, compare, length, fixed
// texts, release; append, remove, element access, make private, release of
// arrays, arrays of several dimensions) checked after every step against a
// model made of std::string and std::vector: the exact size of every block
// the fake heap holds, every byte of every text, every array header, and the
// number of live blocks, so a leak or a double release shows at once.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "runtime/host/runtime_error.h"
#include "runtime/values/text_value.h"
#include "runtime/values/value_array.h"
#include "runtime/values/value_memory.h"

namespace {

// Constant data of the kind a program carries: fixed texts, then the
// empty-array constant in its last 8 bytes.
struct alignas(8) Constants {
  char texts[24];
  int32_t emptyArray[2];
};
const Constants kConstants{"\0Data\0\\zenter.xml", {1, 0}};
const char* const kFixedTexts[] = {kConstants.texts, kConstants.texts + 1, kConstants.texts + 6};
void* StaticEmptyArray() { return const_cast<int32_t*>(kConstants.emptyArray); }

constexpr int kTexts = 4;
constexpr int kArrays = 2;
constexpr int32_t kW = rt::kTextSlotWidth;

// A text as the model sees it: null, a block the heap holds, or a fixed text.
struct TextModel {
  enum Kind { kNull, kOwned, kFixed } kind = kNull;
  std::string bytes;
  const char* fixed = nullptr;
};

struct ArrayModel {
  bool isStatic = false;
  std::vector<int32_t> sizes{0};
  std::vector<TextModel> slots;
};

int Compare(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  int c = std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

class Session {
 public:
  explicit Session(const uint8_t* data, size_t size) : in_(data, size) {
    rt::AddStaticRange(&kConstants, sizeof kConstants);
    for (int i = 0; i < kArrays; ++i) arrays_[i] = NewEmptyArray(&arrayModels_[i], false);
  }

  void Run() {
    while (in_.remaining_bytes() > 0) {
      if (!Step()) return;  // the run ended through the runtime-error path
      CheckAll();
    }
    for (int i = 0; i < kTexts; ++i) Assign(i, nullptr, TextModel{});
    for (int i = 0; i < kArrays; ++i) rt::ArrayRelease(arrays_[i]);
    FUZZ_CHECK(fake().LiveBlocks() == 0, "blocks left after releasing every value");
  }

 private:
  fake::FakePlatform& fake() { return runtime_.fake(); }

  // A text argument: a variable, a fresh literal, a fixed text or null.
  const char* PickText(TextModel* model) {
    switch (in_.ConsumeIntegralInRange(0, 3)) {
      case 0: {
        int i = in_.ConsumeIntegralInRange(0, kTexts - 1);
        *model = textModels_[i];
        return texts_[i];
      }
      case 1: {
        std::string s = in_.ConsumeRandomLengthString(64);
        s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
        literals_.push_back(s);
        *model = TextModel{TextModel::kOwned, s};
        return literals_.back().c_str();
      }
      case 2: {
        const char* f = kFixedTexts[in_.ConsumeIntegralInRange(0, 2)];
        *model = TextModel{TextModel::kFixed, f, f};
        return f;
      }
      default:
        *model = TextModel{};
        return nullptr;
    }
  }

  // Assignment: the new value is formed first, then the old one released.
  void Assign(int i, char* value, const TextModel& model) {
    rt::ReleaseBlock(texts_[i]);
    texts_[i] = value;
    textModels_[i] = model;
  }

  // A copy as the array stores it: null stays null, anything else is a block.
  static TextModel Stored(const TextModel& v) {
    if (v.kind == TextModel::kNull) return TextModel{};
    return TextModel{TextModel::kOwned, v.bytes};
  }

  void* NewEmptyArray(ArrayModel* model, bool useStatic) {
    *model = ArrayModel{};
    if (useStatic) {
      model->isStatic = true;
      return StaticEmptyArray();
    }
    void* a = rt::AllocateBlock(8);
    std::memcpy(a, kConstants.emptyArray, 8);
    return a;
  }

  bool Step() {
    int a = in_.ConsumeIntegralInRange(0, kArrays - 1);
    ArrayModel& am = arrayModels_[a];
    int32_t n = static_cast<int32_t>(am.slots.size());
    switch (in_.ConsumeIntegralInRange(0, 13)) {
      case 0: {  // join of 1 to 4 parts
        int dst = in_.ConsumeIntegralInRange(0, kTexts - 1);
        int parts = in_.ConsumeIntegralInRange(1, 4);
        std::vector<const char*> p;
        std::string expected;
        for (int k = 0; k < parts; ++k) {
          TextModel m;
          p.push_back(PickText(&m));
          expected += m.bytes;
        }
        char* r = rt::TextJoin(parts, p.data());
        FUZZ_CHECK(r != nullptr, "a join is never null");
        Assign(dst, r, TextModel{TextModel::kOwned, expected});
        break;
      }
      case 1: {  // copy
        int dst = in_.ConsumeIntegralInRange(0, kTexts - 1);
        TextModel m;
        const char* src = PickText(&m);
        char* r = rt::TextCopy(src);
        FUZZ_CHECK((r == nullptr) == (m.kind == TextModel::kNull), "copy of null is null");
        Assign(dst, r, Stored(m));
        break;
      }
      case 2: {  // compare
        TextModel ma, mb;
        const char* x = PickText(&ma);
        const char* y = PickText(&mb);
        int32_t c = rt::TextCompare(x, y);
        FUZZ_CHECK(c == Compare(ma.bytes, mb.bytes),
                   "compare " + fuzz::Show(ma.bytes) + " " + fuzz::Show(mb.bytes) + " gave " +
                       std::to_string(c));
        break;
      }
      case 3: {  // length
        TextModel m;
        const char* t = PickText(&m);
        FUZZ_CHECK(rt::TextLength(t) == static_cast<int32_t>(m.bytes.size()), "length");
        break;
      }
      case 4: {  // assignment of a fixed text: no copy
        int dst = in_.ConsumeIntegralInRange(0, kTexts - 1);
        const char* f = kFixedTexts[in_.ConsumeIntegralInRange(0, 2)];
        Assign(dst, const_cast<char*>(f), TextModel{TextModel::kFixed, f, f});
        break;
      }
      case 5: {  // release, including fixed texts and null
        int dst = in_.ConsumeIntegralInRange(0, kTexts - 1);
        Assign(dst, nullptr, TextModel{});
        break;
      }
      case 6: {  // append
        TextModel m;
        const char* v = PickText(&m);
        rt::ArrayAppend(&arrays_[a], v);
        am.isStatic = false;
        am.sizes = {n + 1};
        am.slots.push_back(Stored(m));
        break;
      }
      case 7: {  // remove k at p, anywhere around the ends
        int32_t p = in_.ConsumeIntegralInRange<int32_t>(-2, n + 2);
        int32_t k = in_.ConsumeIntegralInRange<int32_t>(-2, n + 2);
        if (in_.ConsumeBool()) p = in_.ConsumeIntegral<int32_t>();
        if (in_.ConsumeBool()) k = in_.ConsumeIntegral<int32_t>();
        int32_t r = rt::ArrayRemove(&arrays_[a], p, k);
        am.isStatic = false;  // made private in any case
        int32_t expected = 0;
        if (p >= 0 && n - p > 0) {
          expected = std::min(k, n - p);
          if (expected <= 0) expected = 0;
        }
        FUZZ_CHECK(r == expected, "remove " + std::to_string(p) + "," + std::to_string(k) +
                                      " of " + std::to_string(n) + " gave " + std::to_string(r));
        if (expected > 0) {
          am.slots.erase(am.slots.begin() + p, am.slots.begin() + p + expected);
          am.sizes = {n - expected};
        }
        break;
      }
      case 8: {  // element access within bounds
        if (n == 0) break;
        int32_t p = in_.ConsumeIntegralInRange<int32_t>(0, n - 1);
        const char* t = rt::LoadTextSlot(rt::ArrayElementAt(arrays_[a], p));
        CheckText(t, am.slots[p], "element " + std::to_string(p));
        break;
      }
      case 9: {  // element access out of bounds: the runtime error ends the run
        if (in_.ConsumeIntegralInRange(0, 7) != 0) break;
        int32_t p = in_.ConsumeBool() ? -1 - in_.ConsumeIntegralInRange<int32_t>(0, 1000)
                                      : n + in_.ConsumeIntegralInRange<int32_t>(0, 1000);
        uint32_t code = 0;
        bool ended = false;
        try {
          rt::ArrayElementAt(arrays_[a], p);
        } catch (const fake::FakeExit& e) {
          ended = true;
          code = e.code;
        }
        FUZZ_CHECK(ended, "access at " + std::to_string(p) + " of " + std::to_string(n) +
                              " did not end the run");
        FUZZ_CHECK(code == 0xFFFFFFFFu, "exit code of a runtime error");
        FUZZ_CHECK(fake().boxes.size() == 1, "one runtime-error box");
        return false;
      }
      case 10: {  // release the array, start a new one (heap or the constant)
        rt::ArrayRelease(arrays_[a]);
        arrays_[a] = NewEmptyArray(&am, in_.ConsumeBool());
        break;
      }
      case 11: {  // release the array, build one of 1 to 3 dimensions by hand
        rt::ArrayRelease(arrays_[a]);
        am = ArrayModel{};
        int d = in_.ConsumeIntegralInRange(1, 3);
        am.sizes.clear();
        int32_t count = 1;
        for (int i = 0; i < d; ++i) {
          am.sizes.push_back(in_.ConsumeIntegralInRange(0, 3));
          count *= am.sizes.back();
        }
        auto* block = static_cast<char*>(rt::AllocateBlock(4 + 4 * d + kW * count));
        std::memcpy(block, &d, 4);
        std::memcpy(block + 4, am.sizes.data(), 4 * d);
        for (int32_t i = 0; i < count; ++i) {
          TextModel m;
          const char* v = PickText(&m);
          char* stored = m.kind == TextModel::kFixed ? const_cast<char*>(v) : rt::TextCopy(v);
          if (m.kind != TextModel::kFixed) m = Stored(m);
          rt::StoreTextSlot(block + 4 + 4 * d + kW * i, stored);
          am.slots.push_back(m);
        }
        arrays_[a] = block;
        break;
      }
      case 12: {  // make private
        rt::ArrayMakePrivate(kW, &arrays_[a]);
        am.isStatic = false;
        break;
      }
      default: {  // count and first slot
        FUZZ_CHECK(rt::ArrayCount(arrays_[a]) == n, "count");
        rt::ArraySlots s = rt::ArrayFirstSlot(arrays_[a]);
        FUZZ_CHECK(s.count == n, "first-slot count");
        if (n > 0) {
          FUZZ_CHECK(s.first == static_cast<char*>(arrays_[a]) + 4 + 4 * am.sizes.size(),
                     "first slot follows the header");
        }
        FUZZ_CHECK(rt::ArrayFirstSlot(nullptr).count == 0, "null array has no element");
        break;
      }
    }
    return true;
  }

  void CheckText(const char* t, const TextModel& m, const std::string& what) {
    switch (m.kind) {
      case TextModel::kNull:
        FUZZ_CHECK(t == nullptr, what + " should be null");
        break;
      case TextModel::kFixed:
        FUZZ_CHECK(t == m.fixed, what + " should be the fixed text itself");
        break;
      case TextModel::kOwned:
        FUZZ_CHECK(t != nullptr && fake().BlockSize(t) == static_cast<long>(m.bytes.size() + 1),
                   what + " should be a block of length + 1 bytes for " + fuzz::Show(m.bytes));
        FUZZ_CHECK(std::memcmp(t, m.bytes.c_str(), m.bytes.size() + 1) == 0,
                   what + " should hold " + fuzz::Show(m.bytes) + " and its NUL");
        break;
    }
  }

  void CheckAll() {
    size_t expectedBlocks = 0;
    for (int i = 0; i < kTexts; ++i) {
      CheckText(texts_[i], textModels_[i], "text " + std::to_string(i));
      if (textModels_[i].kind == TextModel::kOwned) ++expectedBlocks;
    }
    for (int i = 0; i < kArrays; ++i) {
      const ArrayModel& am = arrayModels_[i];
      const auto* block = static_cast<const char*>(arrays_[i]);
      std::string what = "array " + std::to_string(i);
      if (am.isStatic) {
        FUZZ_CHECK(arrays_[i] == StaticEmptyArray(), what + " should be the constant");
      } else {
        ++expectedBlocks;
        int32_t d = static_cast<int32_t>(am.sizes.size());
        long size = 4 + 4 * d + kW * static_cast<long>(am.slots.size());
        FUZZ_CHECK(fake().BlockSize(block) == size,
                   what + " block size " + std::to_string(fake().BlockSize(block)) +
                       ", expected " + std::to_string(size));
        int32_t header[4];
        std::memcpy(header, block, 4 + 4 * d);
        FUZZ_CHECK(header[0] == d, what + " dimension count");
        for (int k = 0; k < d; ++k) FUZZ_CHECK(header[1 + k] == am.sizes[k], what + " size");
      }
      for (size_t k = 0; k < am.slots.size(); ++k) {
        const char* slot = block + 4 + 4 * am.sizes.size() + kW * k;
        CheckText(rt::LoadTextSlot(slot), am.slots[k], what + " slot " + std::to_string(k));
        if (am.slots[k].kind == TextModel::kOwned) ++expectedBlocks;
      }
    }
    FUZZ_CHECK(fake().LiveBlocks() == expectedBlocks,
               "live blocks " + std::to_string(fake().LiveBlocks()) + ", expected " +
                   std::to_string(expectedBlocks));
  }

  fuzz::Runtime runtime_;
  FuzzedDataProvider in_;
  std::deque<std::string> literals_;
  char* texts_[kTexts] = {};
  TextModel textModels_[kTexts];
  void* arrays_[kArrays] = {};
  ArrayModel arrayModels_[kArrays];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Session(data, size).Run();
  return 0;
}
