#include "rawdata/ZrRDFrame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

ZrRDCamera* MakeCamera(int id, std::vector<ZrRDGlob> globs) {
  ZrRDCamera* camera = new ZrRDCamera(id);
  camera->globs.resize(static_cast<int>(globs.size()));
  for (size_t i = 0; i < globs.size(); ++i) camera->globs[static_cast<int>(i)] = globs[i];
  return camera;
}

std::vector<int> Pixels(const ZrRDCamera& camera) {
  std::vector<int> pixels;
  for (const ZrRDGlob& glob : camera.globs) pixels.push_back(glob.pixels);
  return pixels;
}

TEST(ZrRDFrameTest, NewFrameIsEmpty) {
  ZrRDFrame* frame = ZrRDNewFrame();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->number, 0);
  EXPECT_FALSE(frame->timecode.has_value());
  EXPECT_EQ(frame->cameraCount(), 0);
  EXPECT_EQ(frame->totalGlobCount(), 0);
  ZrRDDeleteFrame(&frame);
  EXPECT_EQ(frame, nullptr);
  ZrRDDeleteFrame(&frame);  // an empty slot is left alone
}

// Cameras that leave the frame must be deleted exactly once; the sanitizer
// build turns a leak or a double delete here into a failure.
TEST(ZrRDFrameTest, SetCameraCountKeepsLowerSlots) {
  ZrRDFrame frame;
  frame.setCameraCount(2);
  ZrRDCamera* first = MakeCamera(1, {{3, 1, 2}});
  ZrRDCamera* second = MakeCamera(2, {});
  frame.setCamera(0, first);
  frame.setCamera(1, second);

  frame.setCameraCount(2);
  EXPECT_EQ(frame.camera(0), first);
  EXPECT_EQ(frame.camera(1), second);

  frame.setCameraCount(4);
  ASSERT_EQ(frame.cameraCount(), 4);
  EXPECT_EQ(frame.camera(0), first);
  EXPECT_EQ(frame.camera(1), second);
  EXPECT_EQ(frame.camera(2), nullptr);
  EXPECT_EQ(frame.camera(3), nullptr);

  frame.setCameraCount(1);
  EXPECT_EQ(frame.camera(0), first);
  frame.setCamera(0, MakeCamera(7, {}));  // replaces and deletes the first
  EXPECT_EQ(frame.camera(0)->id, 7);

  frame.setCameraCount(-3);
  EXPECT_EQ(frame.cameraCount(), 0);
}

TEST(ZrRDFrameTest, Equality) {
  const float nan = std::nanf("");
  struct Case {
    const char* name;
    std::vector<ZrRDGlob> a, b;
    bool equal;
  };
  const Case cases[] = {
      {"no globs", {}, {}, true},
      {"same globs", {{1, 2, 3}, {4, 5, 6}}, {{1, 2, 3}, {4, 5, 6}}, true},
      {"signed zero", {{1, 0.0f, -0.0f}}, {{1, -0.0f, 0.0f}}, true},
      {"pixels differ", {{1, 2, 3}}, {{2, 2, 3}}, false},
      {"x differs", {{1, 2, 3}}, {{1, 2.5f, 3}}, false},
      {"y differs", {{1, 2, 3}}, {{1, 2, 3.5f}}, false},
      {"lengths differ", {{1, 2, 3}}, {{1, 2, 3}, {1, 2, 3}}, false},
      {"NaN in the same place", {{1, nan, 3}}, {{1, nan, 3}}, false},
  };
  for (const Case& c : cases) {
    ZrRDFrame a, b;
    a.number = 1;
    b.number = 2;
    b.timecode = 12345;
    a.setCameraCount(1);
    b.setCameraCount(1);
    a.setCamera(0, MakeCamera(1, c.a));
    b.setCamera(0, MakeCamera(9, c.b));  // ids are not compared
    EXPECT_EQ(*a.camera(0) == *b.camera(0), c.equal) << c.name;
    EXPECT_EQ(a == b, c.equal) << c.name;
  }

  ZrRDFrame a, b;
  a.setCameraCount(2);
  b.setCameraCount(2);
  EXPECT_TRUE(a == b) << "empty slots equal empty slots";
  a.setCamera(1, MakeCamera(2, {}));
  EXPECT_FALSE(a == b) << "an empty slot differs from a camera without globs";
  b.setCameraCount(3);
  EXPECT_FALSE(a == b);
}

TEST(ZrRDFrameTest, CameraAssignmentCopiesIdAndGlobs) {
  ZrRDCamera target(1);
  target.globs.resize(5);
  ZrRDCamera source(4);
  source.globs.resize(2);
  source.globs[1] = {7, 8, 9};
  target = source;
  EXPECT_EQ(target.id, 4);
  EXPECT_TRUE(target == source);
  source.globs[1].x = 1;  // the copy owns its globs
  EXPECT_EQ(target.globs[1].x, 8);
  target.clearGlobs();
  EXPECT_EQ(target.globs.count(), 0);
}

TEST(ZrRDFrameTest, FrameCopiesAreDeepAndKeepEmptySlots) {
  ZrRDFrame source;
  source.number = 5;
  source.timecode = 99;
  source.setCameraCount(3);
  source.setCamera(0, MakeCamera(1, {{1, 2, 3}}));
  source.setCamera(2, MakeCamera(3, {{4, 5, 6}, {7, 8, 9}}));

  ZrRDFrame* copy = ZrRDNewFrame(source);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->number, 5);
  EXPECT_EQ(copy->timecode, std::optional<ZnPackedTimecode>(99));
  EXPECT_TRUE(*copy == source);
  EXPECT_EQ(copy->camera(1), nullptr);
  EXPECT_EQ(copy->totalGlobCount(), 3);  // the empty slot counts as none
  EXPECT_NE(copy->camera(0), source.camera(0));

  // Assigning over a frame with more cameras and a timecode.
  ZrRDFrame target;
  target.timecode = 1;
  target.setCameraCount(4);
  for (int i = 0; i < 4; ++i) target.setCamera(i, MakeCamera(i + 1, {{1, 1, 1}}));
  source.timecode.reset();
  target = source;
  EXPECT_FALSE(target.timecode.has_value());
  EXPECT_TRUE(target == source);
  EXPECT_EQ(target.camera(2)->id, 3);
  ZrRDDeleteFrame(&copy);
}

TEST(ZrRDFrameTest, SortByYFollowsMiddlePivot) {
  struct Case {
    std::vector<ZrRDGlob> globs;
    std::vector<int> pixels;  // the order of pixels afterwards
  };
  const Case cases[] = {
      {{}, {}},
      {{{1, 0, 5}}, {1}},
      {{{10, 1.5f, 3}, {20, 2.5f, 1}, {30, 3.5f, 2}}, {20, 30, 10}},
      // Equal y values end in the order the partitioning leaves them, not in
      // input order.
      {{{1, 0, 2}, {2, 0, 1}, {3, 0, 2}, {4, 0, 1}, {5, 0, 2}}, {4, 2, 3, 1, 5}},
  };
  for (const Case& c : cases) {
    ZrRDCamera* camera = MakeCamera(1, c.globs);
    camera->sortByY();
    EXPECT_EQ(Pixels(*camera), c.pixels);
    delete camera;
  }
  ZrRDCamera* moved = MakeCamera(1, {{10, 1.5f, 3}, {20, 2.5f, 1}});
  moved->sortByY();
  EXPECT_EQ(moved->globs[0].x, 2.5f);  // whole records move
  delete moved;
}

TEST(ZrRDFrameTest, SortByYSortsLargeInputs) {
  srand(7);
  ZrRDCamera camera;
  camera.globs.resize(20000);
  long long sum = 0;
  for (int i = 0; i < camera.globs.count(); ++i) {
    camera.globs[i] = {i, 0, static_cast<float>(rand() % 500)};
    sum += i;
  }
  camera.sortByY();
  long long after = 0;
  for (int i = 0; i < camera.globs.count(); ++i) {
    after += camera.globs[i].pixels;
    if (i > 0) {
      ASSERT_LE(camera.globs[i - 1].y, camera.globs[i].y) << i;
    }
  }
  EXPECT_EQ(after, sum);
}

}  // namespace
