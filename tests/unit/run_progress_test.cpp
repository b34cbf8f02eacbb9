#include "core/run_progress.h"

#include <gtest/gtest.h>

using vk::PaintPace;
using vk::RunProgress;

TEST(RunProgress, LabelBarStepsAndWrap) {
  RunProgress p;
  p.FileStart("Daten/Teil 1/a.txt", 3 * RunProgress::kStep);
  EXPECT_EQ(p.Label(), "Daten\\Teil 1\\a.txt");
  EXPECT_EQ(p.Maximum(), 3 * RunProgress::kStep);
  EXPECT_EQ(p.Position(), 0);
  for (int i = 1; i <= 3; ++i) {
    p.Step();
    EXPECT_EQ(p.Position(), i * RunProgress::kStep);  // reaching the maximum exactly stays
  }
  p.Step();
  EXPECT_EQ(p.Position(), 0);  // passing it starts over

  p.FileStart("gross.bin", -5);  // 2 GiB and more
  EXPECT_EQ(p.Maximum(), 0x7FFFFFFF);
  for (int i = 0; i < 70000; ++i) p.Step();  // never overflows
  EXPECT_GE(p.Position(), 0);

  p.FileStart("leer.txt", 0);
  p.Step();
  EXPECT_EQ(p.Position(), 0);
  p.BatchEnd();
  EXPECT_EQ(p.Position(), 0);
  EXPECT_EQ(p.Label(), "leer.txt");  // the end keeps naming the last file
}

TEST(PaintPace, FirstForcedAndOncePerInterval) {
  PaintPace pace;
  const uint64_t t0 = 1000;
  EXPECT_TRUE(pace.Due(t0, false));  // the first event always draws
  EXPECT_FALSE(pace.Due(t0, false));
  EXPECT_FALSE(pace.Due(t0 + PaintPace::kIntervalMs - 1, false));
  EXPECT_TRUE(pace.Due(t0 + PaintPace::kIntervalMs - 1, true));  // forced: a run's end
  EXPECT_FALSE(pace.Due(t0 + 2 * PaintPace::kIntervalMs - 2, false));  // counted from the forced draw
  EXPECT_TRUE(pace.Due(t0 + 2 * PaintPace::kIntervalMs - 1, false));
  pace.Restart();
  EXPECT_TRUE(pace.Due(t0 + 2 * PaintPace::kIntervalMs - 1, false));  // a new run draws at once
}
