#include "streams/ZnStreamScanner.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <locale>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "streams/ChunkedStreamBuf.h"

// Every scanner operation is compared with the standard operation it stands
// for, on the same text: the value (bit for bit), the stream state and the
// read position after each step must agree. The scanner reads a buffer that
// serves the text in chunks, so that every token also meets the end of the
// buffered characters at every position.

namespace {

// The bounded extractions run with a bound beyond any text here, so that they
// must read exactly as the standard extraction.
enum class Op { Int, Double, SkipDouble, BoundedInt, BoundedDouble };
constexpr std::size_t kNoBound = std::size_t{1} << 30;

struct Step {
  int i = 0;
  uint64_t bits = 0;  // of the double
  std::ios::iostate state = std::ios::goodbit;
  std::size_t position = 0;
  bool result = false;

  bool operator==(const Step& o) const {
    return i == o.i && bits == o.bits && state == o.state && position == o.position &&
           result == o.result;
  }
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
  return os << "{i " << s.i << ", bits " << std::hex << s.bits << std::dec << ", state " << s.state
            << ", at " << s.position << ", " << (s.result ? "ok" : "fail") << "}";
}

uint64_t Bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

// Values the extraction must overwrite or leave alone; both sides start from
// the same ones.
constexpr int kIntSeed = 12345;
constexpr double kDoubleSeed = -77.25;

using StreamSetup = void (*)(std::istream&);
void Plain(std::istream&) {}

std::vector<Step> Standard(const std::string& text, const std::vector<Op>& ops,
                           StreamSetup setup = Plain) {
  ChunkedStreamBuf buf(text, text.size());
  std::istream in(&buf);
  setup(in);
  std::vector<Step> steps;
  for (Op op : ops) {
    Step s;
    int i = kIntSeed;
    double d = kDoubleSeed;
    switch (op) {
      case Op::Int:
      case Op::BoundedInt:
        s.result = !(in >> i).fail();
        break;
      case Op::Double:
      case Op::BoundedDouble:
      case Op::SkipDouble:
        s.result = !(in >> d).fail();
        if (op == Op::SkipDouble) d = kDoubleSeed;
        break;
    }
    s.i = i;
    s.bits = Bits(d);
    s.state = in.rdstate();
    s.position = buf.position();
    steps.push_back(s);
  }
  return steps;
}

std::vector<Step> Scanned(const std::string& text, const std::vector<Op>& ops, std::size_t chunk,
                          StreamSetup setup = Plain) {
  ChunkedStreamBuf buf(text, chunk);
  std::istream in(&buf);
  setup(in);
  ZnStreamScanner scan(in);
  std::vector<Step> steps;
  for (Op op : ops) {
    Step s;
    int i = kIntSeed;
    double d = kDoubleSeed;
    switch (op) {
      case Op::Int:
        s.result = scan.extract(i);
        break;
      case Op::Double:
        s.result = scan.extract(d);
        break;
      case Op::SkipDouble:
        s.result = scan.skipDouble();
        break;
      case Op::BoundedInt:
        s.result = scan.extract(i, kNoBound);
        break;
      case Op::BoundedDouble:
        s.result = scan.extract(d, kNoBound);
        break;
    }
    s.i = i;
    s.bits = Bits(d);
    s.state = in.rdstate();
    s.position = buf.position();
    steps.push_back(s);
  }
  return steps;
}

const std::size_t kChunks[] = {1, 2, 3, 5, 8, 13, 64, 4096};

void ExpectSame(const std::string& text, const std::vector<Op>& ops, StreamSetup setup = Plain) {
  const std::vector<Step> expected = Standard(text, ops, setup);
  for (std::size_t chunk : kChunks) {
    EXPECT_EQ(Scanned(text, ops, chunk, setup), expected)
        << "text \"" << text << "\", chunk " << chunk;
  }
}

const std::vector<Op> kSequences[] = {
    {Op::Int, Op::Int, Op::Int},
    {Op::Double, Op::Double, Op::Double},
    {Op::SkipDouble, Op::SkipDouble, Op::Int},
    {Op::Int, Op::Double, Op::Double, Op::Int},
    {Op::Double, Op::Int, Op::SkipDouble, Op::Double},
    {Op::BoundedInt, Op::BoundedInt, Op::BoundedInt},
    {Op::BoundedDouble, Op::BoundedDouble, Op::BoundedDouble},
    {Op::BoundedInt, Op::BoundedDouble, Op::BoundedDouble, Op::BoundedInt},
};

// Texts whose every prefix is tried as well, so that the input ends at each
// position of each token.
const char* const kTexts[] = {
    "0",
    "7 -8 +9",
    "  \t\n\v\f\r42 x",
    "\x1c"
    "5",  // not white space in the classic locale
    "\xa0"
    "5",
    "00012 -0 +0 -000",
    "2147483647 -2147483648 2147483648 -2147483649",
    "999999999 1000000000 99999999999999999999 -99999999999999999999",
    "123456789012345678 1234567890123456789",
    "0x10 0X1f 010",
    "+ - . +. -. .+ +-1 -+1",
    "1. .5 -.5 +.5 5. 1.2.3",
    "1e 1e+ 1E- 1e5 1.5e-3 2E+08 1e400 -1e400 1e-400 .e1 e1",
    "3.14159 -2.71828 402.5447 310.8257 98.6110  442.0685",
    "0.1 0.2 0.3 0.7 1.1 1e23 8.5 0.03125 511.9921875",
    "9007199254740992 9007199254740993 9007199254740995 18014398509481985",
    "0.000000000000000000001 1234567890.123456789 12345678901234567890.5",
    "0.00000000000000000000000000000000000000000000000001",
    "4.9406564584124654e-324 2.2250738585072014e-308 1.7976931348623157e308",
    "123abc 45.6xyz 7-8 9+1 1.5.5",
    "1\n2\r\n3.5\t\t4.25   \n",
    "-0.0 +0.0 0.0000 -0",
};

TEST(ZnStreamScannerTest, AgreesWithExtractionOnEveryPrefixOfTheTexts) {
  for (const char* text : kTexts) {
    const std::string whole = text;
    for (std::size_t n = 0; n <= whole.size(); ++n) {
      for (const std::vector<Op>& ops : kSequences) ExpectSame(whole.substr(0, n), ops);
    }
  }
}

TEST(ZnStreamScannerTest, AgreesWithExtractionOnRandomTexts) {
  // Short random texts over the characters that matter to numbers, and runs
  // of digits long enough to reach the exactness limits.
  const std::string alphabet = "0123456789000111999+-..eE  \t\n\v\f\rx";
  std::mt19937 random(20240611);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 40);
    for (int k = 0; k < length; ++k) {
      if (random() % 16 == 0) {
        text.append(random() % 25, static_cast<char>('0' + random() % 10));
      } else {
        text += alphabet[random() % alphabet.size()];
      }
    }
    std::vector<Op> ops;
    const int count = 1 + static_cast<int>(random() % 6);
    for (int k = 0; k < count; ++k) ops.push_back(static_cast<Op>(random() % 3));
    const std::vector<Step> expected = Standard(text, ops);
    const std::size_t chunk = 1 + random() % 24;
    ASSERT_EQ(Scanned(text, ops, chunk), expected) << "text \"" << text << "\", chunk " << chunk;
  }
}

TEST(ZnStreamScannerTest, AgreesWithExtractionOnRandomDecimals) {
  // Well-formed decimals of every length, where the scanner converts itself
  // as far as it can: the values must agree bit for bit.
  std::mt19937_64 random(7);
  for (int round = 0; round < 200000; ++round) {
    std::string text;
    if (random() % 4 == 0) text += random() % 2 ? '-' : '+';
    const int whole = static_cast<int>(random() % 12);
    const int decimals = static_cast<int>(random() % 12);
    for (int k = 0; k < whole; ++k) text += static_cast<char>('0' + random() % 10);
    if (decimals > 0 || random() % 2) text += '.';
    for (int k = 0; k < decimals; ++k) text += static_cast<char>('0' + random() % 10);
    text += random() % 2 ? " " : "\n";
    const std::vector<Op> ops = {Op::Double};
    const std::vector<Step> expected = Standard(text, ops);
    ASSERT_EQ(Scanned(text, ops, 4096), expected) << "text \"" << text << "\"";
  }
}

// Streams that the standard extraction reads differently from the plain way
// must be read the standard way.
void Hex(std::istream& in) { in.setf(std::ios::hex, std::ios::basefield); }
void AnyBase(std::istream& in) { in.unsetf(std::ios::basefield); }
void NoSkip(std::istream& in) { in.unsetf(std::ios::skipws); }
void Failed(std::istream& in) { in.setstate(std::ios::failbit); }
void AtEnd(std::istream& in) { in.setstate(std::ios::eofbit); }

struct CommaPoint : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};
void Comma(std::istream& in) { in.imbue(std::locale(std::locale::classic(), new CommaPoint)); }

TEST(ZnStreamScannerTest, StreamsSetUpOtherwiseGetTheStandardReading) {
  const std::string text = "010 0x1f 1,5 1.234,5 ff -7 2.5";
  const std::vector<Op> ops = {Op::Int, Op::Int, Op::Double, Op::Double,
                               Op::Int, Op::Int, Op::Double};
  for (StreamSetup setup : {Hex, AnyBase, NoSkip, Failed, AtEnd, Comma})
    ExpectSame(text, ops, setup);
}

TEST(ZnStreamScannerTest, ExceptionsEnabledStillThrowWhereExtractionThrows) {
  for (const char* text : {"5 x", "5 6"}) {
    ChunkedStreamBuf standardBuf(text, 64);
    std::istream standard(&standardBuf);
    standard.exceptions(std::ios::failbit);
    ChunkedStreamBuf scannedBuf(text, 64);
    std::istream scanned(&scannedBuf);
    scanned.exceptions(std::ios::failbit);
    ZnStreamScanner scan(scanned);
    for (int k = 0; k < 2; ++k) {
      int a = 0;
      int b = 0;
      bool standardThrew = false;
      bool scannedThrew = false;
      try {
        standard >> a;
      } catch (const std::ios::failure&) {
        standardThrew = true;
      }
      try {
        scan.extract(b);
      } catch (const std::ios::failure&) {
        scannedThrew = true;
      }
      EXPECT_EQ(scannedThrew, standardThrew) << text;
      EXPECT_EQ(b, a) << text;
      EXPECT_EQ(scannedBuf.position(), standardBuf.position()) << text;
    }
  }
}

TEST(ZnStreamScannerTest, BufferedBytesAreThoseReadWouldGive) {
  std::string bytes;
  std::mt19937 random(3);
  for (int k = 0; k < 3000; ++k) bytes += static_cast<char>(random());
  for (std::size_t chunk : kChunks) {
    ChunkedStreamBuf standardBuf(bytes, bytes.size());
    std::istream standard(&standardBuf);
    ChunkedStreamBuf scannedBuf(bytes, chunk);
    std::istream scanned(&scannedBuf);
    ZnStreamScanner scan(scanned);
    int taken = 0;
    while (!standard.fail()) {
      const int n = static_cast<int>(random() % 40);
      char expected[64] = {};
      standard.read(expected, n);
      if (const char* p = scan.buffered(n)) {
        ASSERT_EQ(std::string(p, static_cast<std::size_t>(n)),
                  std::string(expected, static_cast<std::size_t>(n)));
        scan.advance(n);
        ++taken;
      } else {
        char got[64] = {};
        scanned.read(got, n);
        ASSERT_EQ(std::string(got, static_cast<std::size_t>(n)),
                  std::string(expected, static_cast<std::size_t>(n)));
      }
      ASSERT_EQ(scanned.rdstate(), standard.rdstate());
      ASSERT_EQ(scannedBuf.position(), standardBuf.position());
    }
    if (chunk >= 64) {
      EXPECT_GT(taken, 0) << "chunk " << chunk;
    }
  }
}

TEST(ZnStreamScannerTest, BufferedLineStopsAtTheFeedWithinTheLimit) {
  std::istringstream in("ab c\r\nrest");
  ZnStreamScanner scan(in);
  int length = -1;
  EXPECT_EQ(scan.bufferedLine(4, &length), nullptr);  // the feed lies after 5 characters
  const char* line = scan.bufferedLine(5, &length);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(std::string(line, static_cast<std::size_t>(length)), "ab c\r");
  scan.advance(length + 1);
  EXPECT_EQ(scan.bufferedLine(100, &length), nullptr);  // no feed left
  std::string rest;
  in >> rest;
  EXPECT_EQ(rest, "rest");
}

}  // namespace

namespace {

// Serves `length` copies of a character and then a space, without holding
// them: a token longer than memory could be.
class RepeatingBuf : public std::streambuf {
 public:
  RepeatingBuf(char c, std::size_t length) : remaining_(length) { std::memset(block_, c, sizeof block_); }
  std::size_t served() const { return served_ - static_cast<std::size_t>(egptr() - gptr()); }

 protected:
  int_type underflow() override {
    if (remaining_ == 0) {
      if (spaceServed_) return traits_type::eof();
      spaceServed_ = true;
      block_[0] = ' ';
      setg(block_, block_, block_ + 1);
      served_ += 1;
      return traits_type::to_int_type(' ');
    }
    const std::size_t n = remaining_ < sizeof block_ ? remaining_ : sizeof block_;
    remaining_ -= n;
    served_ += n;
    setg(block_, block_, block_ + n);
    return traits_type::to_int_type(block_[0]);
  }

 private:
  char block_[4096];
  std::size_t remaining_;
  std::size_t served_ = 0;
  bool spaceServed_ = false;
};

}  // namespace

// A token longer than its field's values is no value: the stream fails after
// the bound and one more character, whatever the token's length.
TEST(ZnStreamScannerTest, BoundedExtractionRefusesLongerTokens) {
  struct Case {
    std::string text;
    bool decimal;
    bool read;
    std::size_t position;  // where the stream stands afterwards
  } cases[] = {
      {std::string(31, '7') + " ", false, false, 31},  // fits, but overflows an int
      {"-" + std::string(30, '0') + "5 ", false, true, 32},
      {"-" + std::string(31, '0') + "5 ", false, false, 33},
      {"  " + std::string(40, '1') + " ", false, false, 35},
      {"0." + std::string(30, '5') + " ", true, true, 32},
      {"0." + std::string(31, '5') + " ", true, false, 33},
      {std::string(20, '0') + "." + std::string(12, '0') + "e5 ", true, false, 33},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    for (std::size_t chunk : {1, 7, 4096}) {
      ChunkedStreamBuf buf(c.text, chunk);
      std::istream in(&buf);
      ZnStreamScanner scan(in);
      int i = kIntSeed;
      double d = kDoubleSeed;
      const bool read = c.decimal ? scan.extract(d, 32) : scan.extract(i, 32);
      EXPECT_EQ(read, c.read);
      EXPECT_EQ(in.fail(), !c.read);
      EXPECT_EQ(buf.position(), c.position);
    }
  }
  // Ten million digits cost no more than the bound.
  RepeatingBuf digits('9', 10 * 1000 * 1000);
  std::istream in(&digits);
  ZnStreamScanner scan(in);
  double d = kDoubleSeed;
  EXPECT_FALSE(scan.extract(d, 256));
  EXPECT_EQ(d, kDoubleSeed);
  EXPECT_EQ(digits.served(), 257u);
}
