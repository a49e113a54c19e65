// Reads arbitrary text with the stream scanner and with the standard
// extraction, and formats arbitrary floats with the stream printer and with
// the standard insertion.
//
// The scanner must leave every value (bit for bit), stream state and read
// position exactly as the extraction does, whatever the text and however the
// buffer serves it, through its extractions (bounded ones included) and
// through the scans of its window that the decoders use; the printer must give the insertion's text
// for every float, number of decimals and width, and for every integer.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <istream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "streams/ZnStreamPrinter.h"
#include "streams/ZnStreamScanner.h"
#include "tests/streams/ChunkedStreamBuf.h"

namespace {

// The scanner's ways of reading a number: its extractions, and the scans
// over its window that the decoders use, which fall back to the extraction
// where they cannot settle the token.
// The bounded extractions run with a bound beyond any input, so that they
// must read exactly as the standard extraction does.
enum class Op {
  Int,
  Double,
  SkipDouble,
  ScanInt,
  ScanDouble,
  CheckInt,
  CheckDouble,
  BoundedInt,
  BoundedDouble,
  kCount
};

constexpr std::size_t kBeyondAnyInput = std::size_t{1} << 30;

struct Step {
  bool result = false;
  int i = 0;
  uint64_t bits = 0;
  std::ios::iostate state = std::ios::goodbit;
  std::size_t position = 0;

  bool operator==(const Step& o) const {
    return result == o.result && i == o.i && bits == o.bits && state == o.state &&
           position == o.position;
  }
};

uint64_t Bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

bool IsInt(Op op) {
  return op == Op::Int || op == Op::ScanInt || op == Op::CheckInt || op == Op::BoundedInt;
}
bool KeepsValue(Op op) {
  return op != Op::SkipDouble && op != Op::CheckInt && op != Op::CheckDouble;
}

// One scanner operation; the value is left in i or d.
bool Scanned(ZnStreamScanner& scan, Op op, int& i, double& d) {
  const char* p;
  const char* e;
  const char* end = nullptr;
  switch (op) {
    case Op::Int:
      return scan.extract(i);
    case Op::Double:
      return scan.extract(d);
    case Op::SkipDouble:
      return scan.skipDouble();
    case Op::BoundedInt:
      return scan.extract(i, kBeyondAnyInput);
    case Op::BoundedDouble:
      return scan.extract(d, kBeyondAnyInput);
    case Op::ScanInt:
      if (scan.window(&p, &e)) end = ZnStreamScanner::scanInt(p, e, &i);
      if (end == nullptr) return scan.extract(i);
      break;
    case Op::ScanDouble:
      if (scan.window(&p, &e)) end = ZnStreamScanner::scanDouble(p, e, &d);
      if (end == nullptr) return scan.extract(d);
      break;
    case Op::CheckInt:
      if (scan.window(&p, &e)) end = ZnStreamScanner::checkInt(p, e);
      if (end == nullptr) return scan.extract(i);
      break;
    case Op::CheckDouble:
      if (scan.window(&p, &e)) end = ZnStreamScanner::checkDouble(p, e);
      if (end == nullptr) return scan.skipDouble();
      break;
    case Op::kCount:
      break;
  }
  scan.consume(end);
  return true;
}

// The operations through the scanner on a buffer that serves the text
// `chunk` characters at a time, or through the standard extraction.
std::vector<Step> Run(const std::string& text, const std::vector<Op>& ops, std::size_t chunk,
                      bool scanned) {
  ChunkedStreamBuf buf(text, scanned ? chunk : text.size());
  std::istream in(&buf);
  ZnStreamScanner scan(in);
  std::vector<Step> steps;
  for (Op op : ops) {
    Step s;
    int i = 12345;
    double d = -77.25;
    if (scanned) {
      s.result = Scanned(scan, op, i, d);
    } else if (IsInt(op)) {
      s.result = !(in >> i).fail();
    } else {
      s.result = !(in >> d).fail();
    }
    // Values the scanner's operation does not give are not compared.
    if (!KeepsValue(op)) {
      i = 12345;
      d = -77.25;
    }
    s.i = i;
    s.bits = Bits(d);
    s.state = in.rdstate();
    s.position = buf.position();
    steps.push_back(s);
  }
  return steps;
}

void CheckFixed(float value, int decimals, int width) {
  std::ostringstream standard;
  standard << std::fixed << std::left << std::setprecision(decimals) << std::setw(width) << value;
  char text[64 + ZnStreamPrinter::kMaxWidth];
  char* end = ZnStreamPrinter::formatFixedPadded(text, value, decimals, width);
  FUZZ_CHECK(std::string(text, end) == standard.str());

  std::ostringstream printed;
  ZnStreamPrinter out(printed);
  FUZZ_CHECK(out.formatted());
  out.putFixed(value, decimals, width);
  FUZZ_CHECK(printed.str() == standard.str() && printed.width() == standard.width());
}

void CheckInt(long long value) {
  std::ostringstream standard;
  standard << value;
  std::ostringstream printed;
  ZnStreamPrinter(printed).putInt(value);
  FUZZ_CHECK(printed.str() == standard.str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const uint32_t bits = input.ConsumeIntegral<uint32_t>();
  float value;
  std::memcpy(&value, &bits, sizeof value);
  CheckFixed(value, input.ConsumeIntegralInRange<int>(0, 9),
             input.ConsumeIntegralInRange<int>(0, ZnStreamPrinter::kMaxWidth));
  CheckInt(input.ConsumeIntegral<long long>());

  const std::size_t chunk = input.ConsumeIntegralInRange<std::size_t>(1, 80);
  std::vector<Op> ops(input.ConsumeIntegralInRange<std::size_t>(1, 12));
  for (Op& op : ops) {
    op = static_cast<Op>(input.ConsumeIntegralInRange<int>(0, static_cast<int>(Op::kCount) - 1));
  }
  const std::string text = input.ConsumeRemainingBytesAsString();
  FUZZ_CHECK(Run(text, ops, chunk, true) == Run(text, ops, chunk, false));
  return 0;
}
