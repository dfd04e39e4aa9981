#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "vl_expression.h"

namespace {
double eval(const std::string &s) { return vlip_expression_interp_double(s.c_str()); }
}  // namespace

TEST(Expression, ArithmeticFunctionsAndConstants) {
  EXPECT_EQ(eval("440*2"), 880.0);
  EXPECT_EQ(eval(" 1 + 2 * 3 "), 7.0);
  EXPECT_EQ(eval("(1 + 2) * 3"), 9.0);
  EXPECT_EQ(eval("2^3^2"), 512.0);  // right-associative
  EXPECT_EQ(eval("-2^2"), -4.0);    // the sign binds looser than the power
  EXPECT_EQ(eval("--3"), 3.0);
  EXPECT_EQ(eval("1.5e3"), 1500.0);
  EXPECT_EQ(eval("6 \xC3\x97 7 \xC3\xB7 2"), 21.0);  // × and ÷
  EXPECT_DOUBLE_EQ(eval("2*pi"), 2.0 * M_PI);
  EXPECT_DOUBLE_EQ(eval("log(e)"), 1.0);
  EXPECT_EQ(eval("min(3, -1, 2)"), -1.0);
  EXPECT_EQ(eval("max(3, -1, 2)"), 3.0);
  EXPECT_EQ(eval("clamp(12, 0, 10)"), 10.0);
  EXPECT_EQ(eval("sign(-0.2)"), -1.0);
  EXPECT_EQ(eval("abs(-2) + sqrt(9) + floor(1.7) + ceil(1.2) + round(2.5)"), 2.0 + 3 + 1 + 2 + 3);
  EXPECT_EQ(eval("pow(2, 10)"), 1024.0);
  EXPECT_NEAR(eval("log10(1000) + exp(0) + sin(0) + cos(0) + tan(0)"), 5.0, 1e-12);
}

TEST(Expression, UnitsAsAUserTypesThem) {
  EXPECT_EQ(eval("1.2k"), 1200.0);
  EXPECT_EQ(eval("1.2 kHz"), 1200.0);
  EXPECT_EQ(eval("1.2KHZ"), 1200.0);
  EXPECT_EQ(eval("440 Hz"), 440.0);
  EXPECT_EQ(eval("-3 dB"), -3.0);
  EXPECT_EQ(eval("2k/4"), 500.0);
  EXPECT_TRUE(std::isnan(eval("3 kg")));
  EXPECT_TRUE(std::isnan(eval("2pi")));
}

TEST(Expression, AnythingElseIsNaNAndHostileTextIsBounded) {
  for (const char *bad : {"", "   ", "abc", "1 +", "(1", "1)", "min()", "clamp(1,2)", "sqrt(-1)", "1/0", "nan",
                          "inf", "1e999", "0x10", "1,5", "foo(2)", "2 3"})
    EXPECT_TRUE(std::isnan(eval(bad))) << bad;
  EXPECT_TRUE(std::isnan(eval(std::string(100000, '(') + "1" + std::string(100000, ')'))));
  EXPECT_TRUE(std::isnan(eval(std::string(60, '(') + "1" + std::string(60, ')'))) == false);
  EXPECT_TRUE(std::isnan(eval(std::string(500, '-') + "1")));
  EXPECT_TRUE(std::isnan(eval("2^2^2^2^2^2^2^2")));  // overflows to infinity
  const char with_nul[] = {'1', '+', '2', '\0', '9'};
  EXPECT_EQ(vlip_expression_interp_double(with_nul, sizeof with_nul), 3.0) << "stops at a NUL";
  const char cut[] = {'1', '2', '3'};
  EXPECT_EQ(vlip_expression_interp_double(cut, 2), 12.0) << "never reads past the length";
  EXPECT_TRUE(std::isnan(vlip_expression_interp_double("\xff\xfe" "1", 3)));
  EXPECT_TRUE(std::isnan(vlip_expression_interp_double(nullptr)));
}
