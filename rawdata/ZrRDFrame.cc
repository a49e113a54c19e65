#include "rawdata/ZrRDFrame.h"

#include <new>
#include <utility>

ZrRDCamera& ZrRDCamera::operator=(const ZrRDCamera& other) {
  id = other.id;
  globs.assign(other.globs);
  return *this;
}

void ZrRDCamera::sortByY() {
  ZrRDGlob* g = globs.begin();
  // Only the part before the pivot is sorted by recursion; the part after it
  // is taken by the loop. The two parts are disjoint, so which one recurses
  // does not change the result, and recursing into the smaller one keeps the
  // depth logarithmic on any input.
  struct Sorter {
    static void sort(ZrRDGlob* g, int first, int last) {
      while (first < last) {
        std::swap(g[first], g[(first + last) / 2]);
        float pivot = g[first].y;
        int store = first;
        for (int i = first + 1; i <= last; ++i) {
          if (g[i].y < pivot) std::swap(g[++store], g[i]);
        }
        std::swap(g[first], g[store]);
        if (store - first < last - store) {
          sort(g, first, store - 1);
          first = store + 1;
        } else {
          sort(g, store + 1, last);
          last = store - 1;
        }
      }
    }
  };
  Sorter::sort(g, 0, globs.count() - 1);
}

bool operator==(const ZrRDCamera& a, const ZrRDCamera& b) {
  int n = a.globs.count();
  if (n != b.globs.count()) return false;
  for (int i = 0; i < n; ++i) {
    if (a.globs[i] != b.globs[i]) return false;
  }
  return true;
}

ZrRDFrame::ZrRDFrame(const ZrRDFrame& other) { *this = other; }

ZrRDFrame& ZrRDFrame::operator=(const ZrRDFrame& other) {
  if (this == &other) return *this;
  number = other.number;
  timecode = other.timecode;
  int n = other.cameraCount();
  setCameraCount(n);
  for (int i = 0; i < n; ++i) {
    const ZrRDCamera* source = other.cameras_[i];
    if (source == nullptr) {
      setCamera(i, nullptr);
    } else if (cameras_[i] != nullptr) {
      *cameras_[i] = *source;
    } else {
      cameras_[i] = new ZrRDCamera(*source);
    }
  }
  return *this;
}

void ZrRDFrame::setCamera(int i, ZrRDCamera* camera) {
  if (cameras_[i] == camera) return;
  delete cameras_[i];
  cameras_[i] = camera;
}

void ZrRDFrame::setCameraCount(int n) {
  if (n < 0) n = 0;
  int old = cameras_.count();
  if (n == old) return;
  for (int i = n; i < old; ++i) delete cameras_[i];
  cameras_.setCount(n);
  for (int i = old; i < n; ++i) cameras_[i] = nullptr;
}

void ZrRDFrame::clearCameras() {
  for (ZrRDCamera* camera : cameras_) delete camera;
  cameras_.setCount(0);
}

int ZrRDFrame::totalGlobCount() const {
  int total = 0;
  for (const ZrRDCamera* camera : cameras_) {
    if (camera != nullptr) total += camera->globs.count();
  }
  return total;
}

bool operator==(const ZrRDFrame& a, const ZrRDFrame& b) {
  int n = a.cameraCount();
  if (n != b.cameraCount()) return false;
  for (int i = 0; i < n; ++i) {
    const ZrRDCamera* ca = a.camera(i);
    const ZrRDCamera* cb = b.camera(i);
    if (ca == nullptr || cb == nullptr) {
      if (ca != cb) return false;
    } else if (*ca != *cb) {
      return false;
    }
  }
  return true;
}

ZrRDFrame* ZrRDNewFrame() { return new (std::nothrow) ZrRDFrame(); }

ZrRDFrame* ZrRDNewFrame(const ZrRDFrame& source) { return new (std::nothrow) ZrRDFrame(source); }

void ZrRDDeleteFrame(ZrRDFrame** slot) {
  delete *slot;
  *slot = nullptr;
}
