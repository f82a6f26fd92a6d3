#include <gtest/gtest.h>

#include "classBMPAVI.h"

TEST(FrameSource, NewInstanceIsEmpty) {
  classBMPAVI s;
  EXPECT_EQ(s.biWidth(), 0);
  EXPECT_EQ(s.biHeight(), 0);
}
