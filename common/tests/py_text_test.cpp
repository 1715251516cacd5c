#include "orvane/common/py_text.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using orvane::common::py_repr;

TEST(PythonNumberText, FloatsLookLikePythonRepr) {
  EXPECT_EQ(py_repr(2.0), "2.0");
  EXPECT_EQ(py_repr(10.0), "10.0");
  EXPECT_EQ(py_repr(0.1), "0.1");
  EXPECT_EQ(py_repr(0.5), "0.5");
  EXPECT_EQ(py_repr(1e16), "1e+16");
  EXPECT_EQ(py_repr(1e-05), "1e-05");
  EXPECT_EQ(py_repr(0.0001), "0.0001");
  EXPECT_EQ(py_repr(9999999999999998.0), "9999999999999998.0");
  EXPECT_EQ(py_repr(1.2345e-7), "1.2345e-07");
  EXPECT_EQ(py_repr(-0.0), "-0.0");
  EXPECT_EQ(py_repr(-2.5), "-2.5");
  EXPECT_EQ(py_repr(1733659200.123456), "1733659200.123456");
  EXPECT_EQ(py_repr(1.7976931348623157e308), "1.7976931348623157e+308");
  EXPECT_EQ(py_repr(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(py_repr(std::nan("")), "nan");
}

TEST(PythonNumberText, FloatTextRoundTripsExactly) {
  std::mt19937_64 gen(42);
  std::uniform_int_distribution<std::uint64_t> bits;
  for (int i = 0; i < 20000; ++i) {
    double v;
    const auto b = bits(gen);
    std::memcpy(&v, &b, sizeof v);
    if (!std::isfinite(v)) continue;
    const auto text = py_repr(v);
    double back = 0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_EQ(back, v) << text;
    ASSERT_TRUE(text.find_first_of(".en") != std::string::npos) << text;
  }
}

TEST(PythonNumberText, IntegersAndBooleans) {
  EXPECT_EQ(py_repr(std::int64_t{-42}), "-42");
  EXPECT_EQ(py_repr(7), "7");
  EXPECT_EQ(py_repr(true), "True");
  EXPECT_EQ(py_repr(false), "False");
  EXPECT_EQ(orvane::common::py_none(), "None");
}
