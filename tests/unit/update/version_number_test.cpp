// The Version number of a version text: the worked values, and a randomised comparison with two
// independent readings of "%d.%d.%d.%d" (a regular expression with arbitrary-length arithmetic,
// and the C runtime's own swscanf where the numbers fit 32 bits).
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <regex>
#include <string>

#include "support/test_support.h"
#include "update/version_check.h"

namespace {

using testing_support::Narrow;

struct VersionCase {
  const wchar_t* text;
  unsigned expected;
};

const VersionCase kWorkedValues[] = {
    {L"1.2.3.4", 1234},
    {L" 1.2.3.4", 1234},
    {L"01.02.03.04", 1234},
    {L"1.2.3", 0},
    {L"", 0},
    {L"abc", 0},
    {L"1.2.3.x", 0},
    {L"1.2.3.4beta", 1234},
    {L"1.2.3.4.5", 1234},
    {L"1.10.0.0", 2000},
    {L"2.0.0.0", 2000},
    {L"1.0.0.10", 1010},
    {L"1.0.1.0", 1010},
    {L"-1.0.0.0", 4294966296u},
    {L"1.0.0.5", 1005},
    {L"1.0.0.6", 1006},
    {L"0.0.0.1", 1},
    {L"0.0.0.0", 0},
    // White space and signs before each number; the dots follow their numbers directly.
    {L"1. 2.\t3.\n4", 1234},
    {L"+1.+2.+3.+4", 1234},
    {L"1.-2.3.4", 834},
    {L"1 .2.3.4", 0},
    {L"1.2.3. 4 trailing text", 1234},
    {L"- 1.2.3.4", 0},
    {L"+-1.2.3.4", 0},
    {L"1..2.3.4", 0},
    {L"1.2.3.4 5", 1234},
    {L".1.2.3.4", 0},
    {L"\x00A0" L"1.2.3.4", 0}, // a no-break space is not white space to "%d"
    // Numbers too large for 32 bits wrap modulo 2^32.
    {L"4294967296.0.0.7", 7},
    {L"0.0.0.4294967295", 4294967295u},
    {L"0.0.0.4294967297", 1},
    {L"99999999999999999999.0.0.0", 4135582744u},
    {L"2147483647.0.0.0", 4294966296u},
    {L"0.0.0.-2147483648", 2147483648u},
};

TEST(VersionNumber, WorkedValues) {
  for (const VersionCase& c : kWorkedValues) {
    EXPECT_EQ(c.expected, ParseVersionNumber(c.text)) << "text \"" << Narrow(c.text) << "\"";
  }
}

TEST(VersionNumber, NullTextReadsAsEmpty) {
  unsigned value = 99;
  EXPECT_EQ(0u, ParseVersionNumber(nullptr));
  EXPECT_FALSE(ScanVersionNumber(nullptr, &value));
  EXPECT_EQ(0u, value);
}

TEST(VersionNumber, ScanTellsFourNumbersFromAZeroResult) {
  unsigned value = 99;
  EXPECT_TRUE(ScanVersionNumber(L"0.0.0.0", &value));
  EXPECT_EQ(0u, value);
  EXPECT_TRUE(ScanVersionNumber(L"-1.10.0.0", &value)); // -1000 + 1000 wraps to 0
  EXPECT_EQ(0u, value);
  EXPECT_FALSE(ScanVersionNumber(L"1.2.3", &value));
  EXPECT_EQ(0u, value);
}

TEST(VersionNumber, LongTextsAreReadOnlyAsFarAsNeeded) {
  std::wstring digits(100000, L'9');
  EXPECT_EQ(ParseVersionNumber((digits + L".0.0.0").c_str()),
            ParseVersionNumber((L"0.0.0." + digits).c_str()) * 1000u);
  std::wstring tail = L"1.2.3.4" + std::wstring(100000, L'x');
  EXPECT_EQ(1234u, ParseVersionNumber(tail.c_str()));
}

// --- An independent model: a regular expression finds the four numbers, and each is reduced
// modulo 2^32 digit by digit in 64-bit arithmetic.
const std::wregex kVersionPattern(
    L"^[ \\t\\n\\v\\f\\r]*([+-]?)([0-9]+)\\.[ \\t\\n\\v\\f\\r]*([+-]?)([0-9]+)\\."
    L"[ \\t\\n\\v\\f\\r]*([+-]?)([0-9]+)\\.[ \\t\\n\\v\\f\\r]*([+-]?)([0-9]+)");

unsigned long long Modulo32(const std::wstring& sign, const std::wstring& digits) {
  const unsigned long long modulus = 1ull << 32;
  unsigned long long value = 0;
  for (wchar_t d : digits) value = (value * 10 + static_cast<unsigned>(d - L'0')) % modulus;
  return sign == L"-" ? (modulus - value) % modulus : value;
}

unsigned ModelVersionNumber(const std::wstring& text) {
  std::wsmatch match;
  if (!std::regex_search(text, match, kVersionPattern)) return 0;
  const unsigned long long modulus = 1ull << 32;
  unsigned long long result = 0;
  for (int field = 0; field < 4; ++field) {
    result = (result * 10 + Modulo32(match[1 + 2 * field].str(), match[2 + 2 * field].str())) % modulus;
  }
  return static_cast<unsigned>(result);
}

// Texts built from the pieces that matter: blanks, signs, short and overlong numbers, missing or
// doubled dots, and trailing text.
std::wstring RandomVersionText(std::mt19937& random) {
  auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  // Each piece is usually well-formed, so that about half the texts hold four numbers.
  const wchar_t* badDots[] = {L"..", L" .", L"", L","};
  const wchar_t* blanks[] = {L" ", L"\t", L"  ", L"\r\n", L"\v\f"};
  const wchar_t* badSigns[] = {L"+-", L"--", L" -", L"x"};
  const wchar_t* tails[] = {L"", L"", L"beta", L".5", L" 7", L"x", L"-rc1", L". 9", L"\t", L"9"};
  std::wstring text;
  int fields = 3 + pick(3);
  for (int field = 0; field < fields; ++field) {
    if (field > 0) text += pick(100) < 93 ? L"." : badDots[pick(ARRAYSIZE(badDots))];
    if (pick(100) < 15) text += blanks[pick(ARRAYSIZE(blanks))];
    int sign = pick(100);
    if (sign < 8) text += L"-";
    else if (sign < 14) text += L"+";
    else if (sign < 17) text += badSigns[pick(ARRAYSIZE(badSigns))];
    int length = pick(100) < 10 ? 10 + pick(16) : pick(100) < 3 ? 0 : 1 + pick(3);
    for (int i = 0; i < length; ++i) text += static_cast<wchar_t>(L'0' + pick(10));
  }
  text += tails[pick(ARRAYSIZE(tails))];
  return text;
}

TEST(VersionNumber, AgreesWithAnIndependentModelOnRandomTexts) {
  std::mt19937 random(20240611);
  int readable = 0;
  for (int i = 0; i < 20000; ++i) {
    std::wstring text = RandomVersionText(random);
    unsigned expected = ModelVersionNumber(text);
    unsigned value = 12345;
    bool scanned = ScanVersionNumber(text.c_str(), &value);
    ASSERT_EQ(expected, ParseVersionNumber(text.c_str())) << "text \"" << Narrow(text) << "\"";
    ASSERT_EQ(std::regex_search(text, kVersionPattern), scanned) << "text \"" << Narrow(text) << "\"";
    ASSERT_EQ(expected, value) << "text \"" << Narrow(text) << "\"";
    if (scanned) ++readable;
  }
  // The generator must exercise both outcomes, or the comparison proves little.
  EXPECT_GT(readable, 5000);
  EXPECT_LT(readable, 15000);
}

// Numbers of at most nine digits fit a 32-bit int, where the C runtime's own reading is defined.
bool FitsInt(const std::wstring& text) {
  int run = 0;
  for (wchar_t c : text) {
    run = (c >= L'0' && c <= L'9') ? run + 1 : 0;
    if (run > 9) return false;
  }
  return true;
}

TEST(VersionNumber, AgreesWithTheRuntimesScanfWhereNumbersFit) {
  std::mt19937 random(7);
  int compared = 0;
  for (int i = 0; i < 20000; ++i) {
    std::wstring text = RandomVersionText(random);
    if (!FitsInt(text)) continue;
    int a = 0, b = 0, c = 0, d = 0;
    int fields = swscanf(text.c_str(), L"%d.%d.%d.%d", &a, &b, &c, &d);
    unsigned expected = fields == 4 ? ((static_cast<unsigned>(a) * 10u + static_cast<unsigned>(b)) * 10u +
                                       static_cast<unsigned>(c)) * 10u + static_cast<unsigned>(d)
                                    : 0u;
    ASSERT_EQ(expected, ParseVersionNumber(text.c_str())) << "text \"" << Narrow(text) << "\", swscanf read " << fields;
    ++compared;
  }
  EXPECT_GT(compared, 10000);
}

} // namespace
