// RightText and ToByteBlock called through CallCommand with arbitrary
// argument records: any count for RightText, any type tag, value and high word
// for ToByteBlock. Where a tag says the value word addresses a text, a
// ByteBlock or a numeric array, it addresses one of exactly the size its
// header gives, so AddressSanitizer sees any read past it. Each result is
// compared with the bytes the record stands for; a block result must have
// exactly the size its contents need, and the arguments must come back
// unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "runtime/services/command.h"
#include "runtime/services/libraries.h"
#include "runtime/values/value_memory.h"

namespace {

using rt::ArgRecord;

// Bytes of a scalar of each basic kind; 0 for a kind the table lacks.
int ScalarWidth(uint32_t base) {
  switch (base) {
    case rt::kTagUInt8: return 1;
    case rt::kTagInt16: return 2;
    case rt::kTagInt32: case rt::kTagFloat: case rt::kTagBasic4: case rt::kTagBasic4b: return 4;
    case rt::kTagInt64: case rt::kTagDouble: case rt::kTagBasic8: case rt::kTagBasic8b: return 8;
    default: return 0;
  }
}

// Element size of a numeric array; 0 for a numeric tag the table lacks.
int ElementSize(uint32_t base) {
  switch (base) {
    case rt::kTagUInt8: return 1;
    case rt::kTagInt16: return 2;
    case rt::kTagInt32: case rt::kTagFloat: return 4;
    case rt::kTagInt64: case rt::kTagDouble: return 8;
    default: return 0;
  }
}

bool IsBasic(uint32_t base) { return (base & 0xC0000000u) == 0x80000000u; }
bool IsNumeric(uint32_t base) { return IsBasic(base) && (base & 0xFFu) == 0x01u; }

const uint32_t kListedTags[] = {rt::kTagUInt8,  rt::kTagInt16,     rt::kTagInt32,  rt::kTagInt64,
                                rt::kTagFloat,  rt::kTagDouble,    rt::kTagBasic4, rt::kTagBasic8,
                                rt::kTagText,   rt::kTagByteBlock, rt::kTagBasic4b,
                                rt::kTagBasic8b};

// Memory a record points at, kept exactly as large as its contents.
struct Pointee {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;
  void Make(const std::string& contents) {
    size = contents.size();
    bytes.reset(new uint8_t[size == 0 ? 1 : size]);
    std::memcpy(bytes.get(), contents.data(), size);
  }
};

std::string Word(uint32_t w) { return std::string(reinterpret_cast<const char*>(&w), 4); }

class Session {
 public:
  Session(const uint8_t* data, size_t size) : in_(data, size) {
    rt::CoreLibrary.notify(1, reinterpret_cast<intptr_t>(&rt::HostRequest), 0);
  }

  void Run() {
    while (in_.remaining_bytes() > 0) {
      if (in_.ConsumeBool()) {
        RightTextOnce();
      } else {
        ToByteBlockOnce();
      }
      FUZZ_CHECK(runtime_.fake().LiveBlocks() == 0, "a result was not the only block");
    }
  }

 private:
  std::string NoNul(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
    return s;
  }

  // Calls the command and checks the result record and the arguments.
  ArgRecord Call(rt::Command command, std::vector<ArgRecord>& args,
                 const std::vector<Pointee*>& pointees) {
    std::vector<ArgRecord> before = args;
    std::vector<std::string> contents;
    for (Pointee* p : pointees) {
      contents.emplace_back(reinterpret_cast<const char*>(p->bytes.get()), p->size);
    }
    ArgRecord r = rt::CallCommand(command, static_cast<int32_t>(args.size()), args.data());
    FUZZ_CHECK(r.high == 0 && r.tag == 0, "only the value word of the result is written");
    FUZZ_CHECK(std::memcmp(before.data(), args.data(), sizeof(ArgRecord) * args.size()) == 0,
               "the argument records changed");
    for (size_t i = 0; i < pointees.size(); ++i) {
      FUZZ_CHECK(std::memcmp(contents[i].data(), pointees[i]->bytes.get(), contents[i].size()) == 0,
                 "an argument's bytes changed");
    }
    return r;
  }

  void RightTextOnce() {
    Pointee text;
    std::string t = NoNul(in_.ConsumeRandomLengthString(300));
    text.Make(t + '\0');
    int32_t n = in_.ConsumeBool() ? in_.ConsumeIntegralInRange<int32_t>(-3, 300)
                                  : in_.ConsumeIntegral<int32_t>();
    // A 32-bit count in a value word: widened with its sign, or with zeros.
    uintptr_t nWord = in_.ConsumeBool() ? static_cast<uintptr_t>(static_cast<intptr_t>(n))
                                        : static_cast<uintptr_t>(static_cast<uint32_t>(n));
    std::vector<ArgRecord> args{
        {reinterpret_cast<uintptr_t>(text.bytes.get()), 0, rt::kTagText},
        {nWord, in_.ConsumeIntegral<uint32_t>(), in_.ConsumeIntegral<uint32_t>()}};
    ArgRecord r = Call(rt::RightText, args, {&text});
    const char* result = reinterpret_cast<const char*>(r.value);
    std::string note = "RightText(" + fuzz::Show(t) + ", " + std::to_string(n) + ")";
    int64_t take = n <= 0 ? 0 : std::min<int64_t>(n, static_cast<int64_t>(t.size()));
    if (take == 0) {
      FUZZ_CHECK(result == nullptr, note + " should be null");
      return;
    }
    std::string expected = t.substr(t.size() - static_cast<size_t>(take));
    FUZZ_CHECK(result != nullptr, note + " should not be null");
    FUZZ_CHECK(runtime_.fake().BlockSize(result) == static_cast<long>(expected.size() + 1),
               note + ": block size");
    FUZZ_CHECK(std::memcmp(result, expected.c_str(), expected.size() + 1) == 0,
               note + " should be " + fuzz::Show(expected));
    rt::ReleaseBlock(const_cast<char*>(result));
  }

  void ToByteBlockOnce() {
    uint32_t tag = in_.ConsumeBool() ? kListedTags[in_.ConsumeIntegralInRange<size_t>(0, 11)]
                                     : in_.ConsumeIntegral<uint32_t>();
    if (in_.ConsumeIntegralInRange(0, 3) == 0) tag ^= rt::kTagArrayBit;
    uint32_t base = tag & ~rt::kTagArrayBit;
    bool array = (tag & rt::kTagArrayBit) != 0;
    ArgRecord record{in_.ConsumeIntegral<uintptr_t>(), in_.ConsumeIntegral<uint32_t>(), tag};
    Pointee pointee;
    std::vector<Pointee*> pointees;
    // The bytes the record stands for; nullopt where the result is not settled.
    std::optional<std::string> expected;
    if (array) {
      expected = "";
      if (IsNumeric(base)) {
        // A ValueArray: dimension count, first size, then count x size bytes.
        int32_t count = in_.ConsumeIntegralInRange<int32_t>(0, 40);
        std::string payload = in_.ConsumeBytesAsString(
            static_cast<size_t>(count) * static_cast<size_t>(ElementSize(base)));
        payload.resize(static_cast<size_t>(count) * ElementSize(base), '\x5A');
        // Mostly one dimension; the bytes of other shapes are not settled.
        uint32_t dimensions = in_.ConsumeIntegralInRange<uint32_t>(0, 7) == 0 ? 2 : 1;
        pointee.Make(Word(dimensions) + Word(count) + payload);
        record.value = reinterpret_cast<uintptr_t>(pointee.bytes.get());
        pointees.push_back(&pointee);
        if (dimensions == 1) {
          expected = payload;
        } else {
          expected.reset();
        }
      }
    } else if (base == rt::kTagText) {
      std::string t = NoNul(in_.ConsumeRandomLengthString(300));
      pointee.Make(t + '\0');
      record.value = reinterpret_cast<uintptr_t>(pointee.bytes.get());
      pointees.push_back(&pointee);
      expected = t;
    } else if (base == rt::kTagByteBlock) {
      std::string payload = in_.ConsumeRandomLengthString(300);
      pointee.Make(Word(in_.ConsumeIntegral<uint32_t>()) +
                   Word(static_cast<uint32_t>(payload.size())) + payload);
      record.value = reinterpret_cast<uintptr_t>(pointee.bytes.get());
      pointees.push_back(&pointee);
      expected = payload;
    } else if (!IsBasic(base)) {
      expected = "";
    } else if (int width = ScalarWidth(base); width > 0) {
      // The value word's 32 bits, then the high word.
      std::string bytes = Word(static_cast<uint32_t>(record.value)) + Word(record.high);
      expected = bytes.substr(0, width);
    }

    std::vector<ArgRecord> args{record};
    ArgRecord r = Call(rt::ToByteBlock, args, pointees);
    const auto* block = reinterpret_cast<const uint8_t*>(r.value);
    char tagText[16];
    std::snprintf(tagText, sizeof tagText, "%08X", tag);
    std::string note = std::string("ToByteBlock of tag ") + tagText;
    if (expected && expected->empty()) {
      FUZZ_CHECK(block == nullptr, note + " should be null");
      return;
    }
    if (block == nullptr) {
      FUZZ_CHECK(!expected, note + " should not be null");
      return;
    }
    uint32_t marker = 0, length = 0;
    std::memcpy(&marker, block, 4);
    std::memcpy(&length, block + 4, 4);
    FUZZ_CHECK(marker == 1, note + ": marker");
    FUZZ_CHECK(length > 0, note + ": an empty ByteBlock is returned as null");
    FUZZ_CHECK(runtime_.fake().BlockSize(block) == static_cast<long>(8 + length),
               note + ": block size");
    if (expected) {
      FUZZ_CHECK(length == expected->size() && std::memcmp(block + 8, expected->data(), length) == 0,
                 note + " should hold " + fuzz::Show(*expected));
    }
    rt::ReleaseBlock(const_cast<uint8_t*>(block));
  }

  fuzz::Runtime runtime_;
  FuzzedDataProvider in_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Session(data, size).Run();
  return 0;
}
