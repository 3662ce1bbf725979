// Scoped owners for the GDI objects of one paint: every pen, brush, region, bitmap and
// memory context is deleted when its owner goes out of scope, and every selection is
// undone before the object it selected is deleted (declare the owner first, then the
// selection).
#pragma once

#include <windows.h>

template <typename Handle>
class ScopedGdiObject {
  public:
    explicit ScopedGdiObject(Handle handle) : handle_(handle) {}
    ~ScopedGdiObject() {
        if (handle_) {
            DeleteObject(handle_);
        }
    }
    ScopedGdiObject(const ScopedGdiObject&) = delete;
    ScopedGdiObject& operator=(const ScopedGdiObject&) = delete;
    Handle get() const { return handle_; }

  private:
    Handle handle_;
};

using ScopedRegion = ScopedGdiObject<HRGN>;
using ScopedBitmap = ScopedGdiObject<HBITMAP>;

// Selects an object into a context and selects the previous one back on leaving.
// A null object (a failed creation) is not selected.
class ScopedSelect {
  public:
    ScopedSelect(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
    ~ScopedSelect() {
        if (previous_) {
            SelectObject(dc_, previous_);
        }
    }
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

// Confines drawing to a region and leaves the context with no clip region on leaving.
class ScopedClip {
  public:
    ScopedClip(HDC dc, HRGN region) : dc_(dc) { SelectClipRgn(dc_, region); }
    ~ScopedClip() { SelectClipRgn(dc_, nullptr); }
    ScopedClip(const ScopedClip&) = delete;
    ScopedClip& operator=(const ScopedClip&) = delete;

  private:
    HDC dc_;
};

// A memory context compatible with another context, deleted on leaving.
class ScopedMemoryDC {
  public:
    explicit ScopedMemoryDC(HDC compatibleWith) : dc_(CreateCompatibleDC(compatibleWith)) {}
    ~ScopedMemoryDC() {
        if (dc_) {
            DeleteDC(dc_);
        }
    }
    ScopedMemoryDC(const ScopedMemoryDC&) = delete;
    ScopedMemoryDC& operator=(const ScopedMemoryDC&) = delete;
    HDC get() const { return dc_; }

  private:
    HDC dc_;
};

// BeginPaint on construction, EndPaint on leaving.
class ScopedPaint {
  public:
    explicit ScopedPaint(HWND window) : window_(window) { dc_ = BeginPaint(window_, &ps_); }
    ~ScopedPaint() { EndPaint(window_, &ps_); }
    ScopedPaint(const ScopedPaint&) = delete;
    ScopedPaint& operator=(const ScopedPaint&) = delete;
    HDC dc() const { return dc_; }

  private:
    HWND window_;
    PAINTSTRUCT ps_{};
    HDC dc_ = nullptr;
};
