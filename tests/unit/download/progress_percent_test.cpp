// The percentage rule of the progress sink: the worked values, the small totals (1 to 99 bytes),
// the edges of 32-bit arithmetic, and a randomised comparison with a 64-bit model.
#include <windows.h>

#include <random>

#include <gtest/gtest.h>

#include "download/progress_sink.h"

namespace {

struct PercentRow {
  ULONG total;
  ULONG progress;
  unsigned percent;
};

// The model, in 64 bits and without any cap-before-add trick: what the rule says, literally.
unsigned long long ModelPercent(unsigned long long progress, unsigned long long total) {
  unsigned long long raw = total >= 100 ? progress / (total / 100) + 1 : progress * 100 / total + 1;
  return raw > 100 ? 100 : raw;
}

TEST(ProgressPercent, WorkedValues) {
  const PercentRow rows[] = {
      {1000, 0, 1},   {1000, 10, 2},   {1000, 500, 51},  {1000, 989, 99}, {1000, 990, 100},
      {1000, 1000, 100}, {150, 98, 99}, {150, 99, 100},   {12345, 6172, 51},
  };
  for (const PercentRow& row : rows) {
    EXPECT_EQ(row.percent, ProgressPercent(row.progress, row.total))
        << row.progress << " of " << row.total;
  }
}

TEST(ProgressPercent, TotalsOfOneHundredToOneNinetyNineCountBytes) {
  // The divisor is 1: the byte count plus 1, capped at 100.
  for (ULONG total = 100; total < 200; ++total) {
    for (ULONG progress = 0; progress <= total; ++progress) {
      unsigned expected = progress + 1 > 100 ? 100 : progress + 1;
      ASSERT_EQ(expected, ProgressPercent(progress, total)) << progress << " of " << total;
    }
  }
}

TEST(ProgressPercent, SmallTotalsScaleTheProgress) {
  const PercentRow rows[] = {
      {1, 0, 1}, {1, 1, 100}, {2, 1, 51}, {3, 1, 34}, {3, 2, 67}, {3, 3, 100}, {50, 25, 51}, {99, 98, 99}, {99, 99, 100},
  };
  for (const PercentRow& row : rows) {
    EXPECT_EQ(row.percent, ProgressPercent(row.progress, row.total)) << row.progress << " of " << row.total;
  }
  for (ULONG total = 1; total < 100; ++total) {
    unsigned previous = 0;
    for (ULONG progress = 0; progress <= total; ++progress) {
      unsigned percent = ProgressPercent(progress, total);
      ASSERT_EQ(ModelPercent(progress, total), percent) << progress << " of " << total;
      ASSERT_GE(percent, previous) << "falls at " << progress << " of " << total;
      previous = percent;
    }
    ASSERT_EQ(100u, previous) << "the whole of " << total << " bytes";
  }
}

TEST(ProgressPercent, EdgesOfThirtyTwoBitArithmetic) {
  const PercentRow rows[] = {
      {100, 0xFFFFFFFFu, 100},       // the quotient would wrap to 0 with the + 1
      {150, 0xFFFFFFFFu, 100},
      {99, 0xFFFFFFFFu, 100},        // progress * 100 overflows 32 bits
      {1, 0xFFFFFFFFu, 100},
      {0xFFFFFFFFu, 0, 1},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 100},
      {0xFFFFFFFFu, 42949671u, 1},   // just below one percent step (42949672)
      {0xFFFFFFFFu, 42949672u, 2},
  };
  for (const PercentRow& row : rows) {
    EXPECT_EQ(row.percent, ProgressPercent(row.progress, row.total)) << row.progress << " of " << row.total;
  }
}

TEST(ProgressPercent, NoTotalShowsNothingAndDoesNotDivide) {
  EXPECT_EQ(0u, ProgressPercent(0, 0));
  EXPECT_EQ(0u, ProgressPercent(12345, 0));
}

TEST(ProgressPercent, AgreesWithTheModelOnRandomValues) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<ULONG> any(0, 0xFFFFFFFFu);
  std::uniform_int_distribution<ULONG> small(1, 300);
  for (int i = 0; i < 200000; ++i) {
    ULONG total = (i % 3 == 0) ? small(random) : any(random);
    if (total == 0) total = 1;
    // Mostly within the total, sometimes beyond it (a server sending more than it announced).
    ULONG progress = (i % 5 == 0) ? any(random) : static_cast<ULONG>(static_cast<unsigned long long>(any(random)) % (static_cast<unsigned long long>(total) + 1));
    ASSERT_EQ(ModelPercent(progress, total), ProgressPercent(progress, total)) << progress << " of " << total;
  }
}

} // namespace
