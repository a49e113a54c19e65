#include "streams/ZnStreamPrinter.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <limits>
#include <locale>
#include <random>
#include <sstream>
#include <string>
#include <vector>

// The printer's text is compared with the stream's own insertion of the same
// value, and its effect on a stream (what reaches the buffer, the state, the
// field width) with that of the insertions it stands for.

namespace {

std::string Inserted(float value, int decimals, int width) {
  std::ostringstream os;
  os << std::fixed << std::left << std::setprecision(decimals) << std::setw(width) << value;
  return os.str();
}

std::string Printed(float value, int decimals, int width) {
  std::ostringstream os;
  ZnStreamPrinter out(os);
  EXPECT_TRUE(out.formatted());
  out.putFixed(value, decimals, width);
  return os.str();
}

float FromBits(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

TEST(ZnStreamPrinterTest, FixedTextOfEveryBinaryCoordinate) {
  // Multiples of 1/128 below 512, both signs: many of them lie exactly
  // halfway between two four-decimal texts, where rounding must go to even.
  for (int k = 0; k < 65536; ++k) {
    const float value = static_cast<float>(k) / 128.0f;
    ASSERT_EQ(Printed(value, 4, 8), Inserted(value, 4, 8)) << k;
    ASSERT_EQ(Printed(-value, 4, 8), Inserted(-value, 4, 8)) << k;
  }
}

TEST(ZnStreamPrinterTest, FixedTextOfSpecialValues) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float values[] = {0.0f,
                          -0.0f,
                          inf,
                          -inf,
                          nan,
                          -nan,
                          std::numeric_limits<float>::max(),
                          -std::numeric_limits<float>::max(),
                          std::numeric_limits<float>::min(),
                          std::numeric_limits<float>::denorm_min(),
                          -std::numeric_limits<float>::denorm_min(),
                          0.00005f,
                          -0.00005f,
                          0.00004999f,
                          0.03125f,
                          1.23456f,
                          2.0f,
                          9.99995f,
                          99999.99995f,
                          4503599627.0f,
                          450359962737.0f,  // around the last value converted in place
                          450359962738.0f,
                          4.5035996e11f,
                          1e12f,
                          16777216.0f,
                          16777217.0f};
  for (float value : values) {
    for (int decimals = 0; decimals <= 9; ++decimals) {
      EXPECT_EQ(Printed(value, decimals, 8), Inserted(value, decimals, 8))
          << value << " with " << decimals << " decimals";
    }
  }
}

TEST(ZnStreamPrinterTest, FixedTextOfRandomFloats) {
  std::mt19937 random(11);
  for (int round = 0; round < 300000; ++round) {
    // Any bit pattern, and values of ordinary size, where the text is
    // produced in place rather than by the general routine.
    const float value = round % 2 ? FromBits(static_cast<uint32_t>(random()))
                                  : std::ldexp(static_cast<float>(random() % 16777216),
                                               static_cast<int>(random() % 60) - 50) *
                                        (random() % 2 ? 1.0f : -1.0f);
    const int decimals = static_cast<int>(random() % 10);
    const int width = static_cast<int>(random() % 20);
    ASSERT_EQ(Printed(value, decimals, width), Inserted(value, decimals, width))
        << std::hexfloat << value << " with " << decimals << " decimals, width " << width;
  }
}

TEST(ZnStreamPrinterTest, IntegerText) {
  const long long values[] = {0, 1, -1, 9, 10, 99, 100, INT_MAX, INT_MIN, LLONG_MAX, LLONG_MIN};
  std::vector<long long> all(std::begin(values), std::end(values));
  std::mt19937_64 random(5);
  for (int k = 0; k < 1000; ++k) all.push_back(static_cast<long long>(random()) >> (k % 64));
  for (long long value : all) {
    std::ostringstream expected;
    expected << value;
    std::ostringstream os;
    ZnStreamPrinter(os).putInt(value);
    EXPECT_EQ(os.str(), expected.str());
  }
}

// A buffer that takes `room` characters and refuses the rest; its put area
// is `area` characters wide, so the printer sees both a full area and a
// failing one.
class LimitedBuf : public std::streambuf {
 public:
  LimitedBuf(std::size_t room, std::size_t area) : room_(room), area_(area) { refresh(); }
  std::string text() const { return taken_ + std::string(pbase(), pptr()); }

 protected:
  int_type overflow(int_type c) override {
    taken_.append(pbase(), pptr());
    room_ -= static_cast<std::size_t>(pptr() - pbase());
    refresh();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (room_ == 0) return traits_type::eof();
    *pptr() = static_cast<char>(c);
    pbump(1);
    return c;
  }

 private:
  void refresh() {
    const std::size_t n = std::min(room_, area_);
    setp(area_storage_, area_storage_ + n);
  }
  std::size_t room_;
  std::size_t area_;
  std::string taken_;
  char area_storage_[64];
};

struct Field {
  enum Kind { Text, Int, Fixed } kind;
  const char* text;
  long long i;
  float f;
};

// The same fields through the stream's insertions and through a printer, on
// buffers that run out of room at every position: same characters taken,
// same state, same field width left behind.
TEST(ZnStreamPrinterTest, FailingBuffersSeeTheSameCallsAndLeaveTheSameState) {
  const std::vector<Field> fields = {
      {Field::Int, nullptr, 12, 0},           {Field::Text, "\n", 0, 0},
      {Field::Int, nullptr, -7, 0},           {Field::Text, " ", 0, 0},
      {Field::Fixed, nullptr, 0, 3.5f},       {Field::Text, " ", 0, 0},
      {Field::Fixed, nullptr, 0, 402.54468f}, {Field::Text, "\n", 0, 0},
      {Field::Fixed, nullptr, 0, -0.0f}};
  for (std::size_t room = 0; room < 60; ++room) {
    for (std::size_t area : {1, 4, 7, 64}) {
      LimitedBuf standardBuf(room, area);
      std::ostream standard(&standardBuf);
      LimitedBuf printedBuf(room, area);
      std::ostream printed(&printedBuf);
      ZnStreamPrinter out(printed);
      ASSERT_TRUE(out.formatted());
      for (const Field& field : fields) {
        switch (field.kind) {
          case Field::Text:
            standard << field.text;
            out.put(field.text, std::strlen(field.text));
            break;
          case Field::Int:
            standard << field.i;
            out.putInt(field.i);
            break;
          case Field::Fixed:
            standard << std::left << std::fixed << std::setprecision(4) << std::setw(8) << field.f;
            standard.unsetf(std::ios::left | std::ios::fixed);
            out.putFixed(field.f, 4, 8);
            break;
        }
        ASSERT_EQ(printed.rdstate(), standard.rdstate()) << "room " << room << ", area " << area;
        ASSERT_EQ(printed.width(), standard.width()) << "room " << room << ", area " << area;
      }
      EXPECT_EQ(printedBuf.text(), standardBuf.text()) << "room " << room << ", area " << area;
    }
  }
}

TEST(ZnStreamPrinterTest, StreamsThatFormatOtherwiseAreLeftToTheirInsertions) {
  struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
  };
  using Setup = void (*)(std::ostream&);
  const Setup setups[] = {
      [](std::ostream& os) { os.setf(std::ios::showpos); },
      [](std::ostream& os) { os.setf(std::ios::uppercase); },
      [](std::ostream& os) { os.setf(std::ios::showpoint); },
      [](std::ostream& os) { os.setf(std::ios::hex, std::ios::basefield); },
      [](std::ostream& os) { os.width(3); },
      [](std::ostream& os) { os.fill('*'); },
      [](std::ostream& os) { os.imbue(std::locale(std::locale::classic(), new CommaPoint)); },
  };
  for (Setup setup : setups) {
    std::ostringstream os;
    setup(os);
    EXPECT_TRUE(ZnStreamPrinter(os).raw());
    EXPECT_FALSE(ZnStreamPrinter(os).formatted());
  }
  std::ostringstream tied;
  tied.tie(&std::cerr);
  EXPECT_FALSE(ZnStreamPrinter(tied).raw());
  std::ostringstream unit;
  unit.setf(std::ios::unitbuf);
  EXPECT_FALSE(ZnStreamPrinter(unit).raw());
  std::ostringstream throwing;
  throwing.exceptions(std::ios::badbit);
  EXPECT_FALSE(ZnStreamPrinter(throwing).raw());

  std::ostringstream rounding;
  std::fesetround(FE_UPWARD);
  EXPECT_FALSE(ZnStreamPrinter(rounding).formatted());
  std::fesetround(FE_TONEAREST);
  EXPECT_TRUE(ZnStreamPrinter(rounding).formatted());
}

}  // namespace
