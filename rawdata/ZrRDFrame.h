// The in-memory raw data records: what every camera saw in one frame.
//
// ZrRDGlob is one 2-D blob seen by one camera, a plain value. ZrRDCamera holds
// one camera's globs of one frame, by value. ZrRDFrame holds one camera slot
// per camera and owns every camera its slots point to: replacing a slot,
// shrinking the slot array and destroying the frame delete those cameras. A
// slot may be empty (no camera); the file encoders treat an empty slot as a
// camera without globs.
//
// Frames are owned by whoever made them. Heap frames come from ZrRDNewFrame()
// and go back through ZrRDDeleteFrame(). Growing an array that cannot get its
// memory ends the process (see foundation/ZnArray.h); nothing here reports
// through the message list.
#ifndef HDRMEND_RAWDATA_ZRRDFRAME_H_
#define HDRMEND_RAWDATA_ZRRDFRAME_H_

#include <cstdint>
#include <optional>

#include "foundation/ZnArray.h"
#include "foundation/ZnTimecode.h"

struct ZrRDGlob {
  int32_t pixels = 0;  // 1 for globs read from a binary file, which does not store it
  float x = 0.0f;      // image coordinates in pixels
  float y = 0.0f;
};

// Ordinary float equality: a NaN coordinate is never equal, 0.0 equals -0.0.
inline bool operator==(const ZrRDGlob& a, const ZrRDGlob& b) {
  return a.pixels == b.pixels && a.x == b.x && a.y == b.y;
}
inline bool operator!=(const ZrRDGlob& a, const ZrRDGlob& b) { return !(a == b); }

struct ZrRDCamera {
  int32_t id = 0;  // counts from 1 within a frame
  ZnDArray<ZrRDGlob> globs;

  ZrRDCamera() = default;
  explicit ZrRDCamera(int cameraId) : id(cameraId) {}
  ZrRDCamera(const ZrRDCamera& other) = default;
  // Copies the id and makes the globs an exact copy of the source's.
  ZrRDCamera& operator=(const ZrRDCamera& other);

  void clearGlobs() { globs.setCount(0); }

  // Sorts the globs by ascending y, in place and not stably: globs with equal
  // y end in the order that a quicksort with the middle element as pivot
  // leaves them.
  void sortByY();
};

// Equal globs position by position; the ids are not compared.
bool operator==(const ZrRDCamera& a, const ZrRDCamera& b);
inline bool operator!=(const ZrRDCamera& a, const ZrRDCamera& b) { return !(a == b); }

class ZrRDFrame {
 public:
  int32_t number = 0;                        // frames count from 1 in files
  std::optional<ZnPackedTimecode> timecode;  // absent unless the record carries one

  ZrRDFrame() = default;
  // Copies number, timecode and every camera; empty slots stay empty.
  ZrRDFrame(const ZrRDFrame& other);
  // As the copy, but cameras already in the target's slots are reused.
  ZrRDFrame& operator=(const ZrRDFrame& other);
  ~ZrRDFrame() { clearCameras(); }

  int cameraCount() const { return cameras_.count(); }
  // The camera in slot i, or null for an empty slot. i must be a valid slot.
  ZrRDCamera* camera(int i) { return cameras_[i]; }
  const ZrRDCamera* camera(int i) const { return cameras_[i]; }
  const ZnDArray<ZrRDCamera*>& cameras() const { return cameras_; }

  // Puts a heap camera (or null) into slot i, taking ownership of it, and
  // deletes the camera the slot held before.
  void setCamera(int i, ZrRDCamera* camera);

  // Resizes the slot array to n: slots below min(n, old count) keep their
  // cameras, the cameras of dropped slots are deleted and added slots are
  // empty. The same count changes nothing; a negative count is taken as 0.
  void setCameraCount(int n);
  // Deletes every camera and leaves no slots.
  void clearCameras();

  // The globs of all cameras together; empty slots count as none.
  int totalGlobCount() const;

 private:
  ZnDArray<ZrRDCamera*> cameras_;
};

// Same number of slots and equal cameras slot by slot; an empty slot equals
// only an empty slot. Numbers and timecodes are not compared.
bool operator==(const ZrRDFrame& a, const ZrRDFrame& b);
inline bool operator!=(const ZrRDFrame& a, const ZrRDFrame& b) { return !(a == b); }

// A new, empty heap frame, or null when memory is exhausted.
ZrRDFrame* ZrRDNewFrame();
// A heap copy of source, or null when memory for the frame is exhausted.
ZrRDFrame* ZrRDNewFrame(const ZrRDFrame& source);
// Deletes the frame in *slot, if any, and empties the slot.
void ZrRDDeleteFrame(ZrRDFrame** slot);

#endif  // HDRMEND_RAWDATA_ZRRDFRAME_H_
