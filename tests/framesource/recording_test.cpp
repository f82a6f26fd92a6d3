// DV recording date, time and time code read from the packets, and the scene search over them,
// on a capture whose packs were stamped by hand (testutil::WriteDvSceneClip), whole and cut down
// to the blocks the packs are in.
#include <gtest/gtest.h>

#include "classBMPAVI.h"
#include "testutil.h"

using namespace testutil;

namespace {

class DvScenes : public ::testing::TestWithParam<bool> {};

TEST_P(DvScenes, EachFrameTellsItsRecordingAndEveryFrameFindsItsNeighbouringScenes) {
  TempDir dir;
  const std::string avi = dir.File("scenes.avi");
  ASSERT_TRUE(WriteDvSceneClip(avi, GetParam()));
  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(avi), kFalse);
  ASSERT_TRUE(source.IsDv());
  ASSERT_TRUE(source.HasRecordingTimes());

  // The time code from ffprobe's word on frame 0 (00:12:34;05), counted on by hand; the dates
  // as stamped, two-digit years placed in 1970-2069.
  const std::pair<int, const char*> shown[] = {{0, "00:12:34;05"},
                                               {2, "2003/08/15 14:32:07  00:12:34;07"},
                                               {5, "00:12:34;10"},  // no date packs
                                               {11, "2003/08/15 14:32:07  00:12:34;16"},
                                               {14, "00:12:34;19"},  // an unset clock
                                               {19, "2003/08/15 15:40:00  00:12:34;24"},
                                               {20, "1999/12/31 23:59:58  00:12:34;25"},
                                               {25, "2000/01/01 00:00:00  00:12:35;00"},
                                               {29, "2000/01/01 00:00:00  00:12:35;04"}};
  for (const auto& [frame, text] : shown)
    EXPECT_EQ(RecordingText(source.RecordingOf(frame)), text) << "frame " << frame;
  EXPECT_EQ(RecordingText(source.RecordingOf(30)), "");  // past the end

  // From every frame: the first start after it and the last start before it, or none.
  const int starts[] = {2, 12, 20, 25};
  for (int f = 0; f < 30; ++f) {
    int next = -1, previous = -1;
    for (int s : starts) {
      if (s > f && next < 0) next = s;
      if (s < f) previous = s;
    }
    EXPECT_EQ(source.NextScene(f), next) << "from frame " << f;
    EXPECT_EQ(source.PreviousScene(f), previous) << "from frame " << f;
  }
}

INSTANTIATE_TEST_SUITE_P(Packets, DvScenes, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "packs_only" : "whole"; });

TEST(DvScenes, VideoThatIsNotDvHasNoRecordingAndNoScenes) {
  TempDir dir;
  WritePatternClip(dir.File("rgb.avi"), 64, 48, 4);
  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(dir.File("rgb.avi")), kFalse);
  EXPECT_FALSE(source.IsDv() || source.HasRecordingTimes());
  EXPECT_EQ(RecordingText(source.RecordingOf(0)), "");
  EXPECT_EQ(source.NextScene(0), -1);
}

// A camera's own raw DV, read by the other container reader: the date and time as its packs hold
// them (62 ff c8 e7 24, 63 ff d8 d5 d9, read by hand), the time code as ffprobe reports it.
TEST(DvScenes, ACamerasRawDvTellsItsRecording) {
  const std::string dv = std::string(DOVREL_SAMPLES_DIR) + "/dv_sony_ntsc_1f_perfect.dv";
  if (!Exists(dv)) GTEST_SKIP() << "no camcorder samples: " << dv;
  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(dv), kFalse);
  EXPECT_EQ(RecordingText(source.RecordingOf(0)), "2024/07/08 19:55:58  00:00:02;20");
}

}  // namespace
