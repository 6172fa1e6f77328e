// Grabbing rectangles of the desktop into a packed 24-bit bitmap.
#pragma once
#include <cstdint>
#include <memory>

namespace plat {

// A rectangle in desktop pixels; right and bottom are exclusive.
struct ScreenRect {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};

// A grab produces one packed bitmap: a 40-byte header (size 40, width,
// height positive so the rows are stored bottom-up, 1 plane, 24 bits,
// uncompressed, image size; every other field 0), no colour table, then the
// rows, 3 bytes a pixel in the order blue, green, red, each row padded to a
// multiple of 4 bytes. All header fields are little-endian.
constexpr int kPackedHeaderSize = 40;
constexpr std::int64_t PackedRowBytes(std::int64_t width) { return (3 * width + 3) & ~std::int64_t{3}; }

// What the header of a packed bitmap says.
struct PackedInfo {
  std::int32_t headerSize;
  std::int32_t width;
  std::int32_t height;
  std::int32_t bitCount;
  std::int32_t rowBytes;
};
PackedInfo ReadPackedHeader(const std::uint8_t* packed);

// How an X11 grab reads the server's pixels. On Windows there is one way,
// through GDI, whichever is asked for.
enum class GrabMethod {
  Auto,          // shared memory where the server offers it, else GetImage
  SharedMemory,  // shared memory only; fails where the server cannot do it
  GetImage,      // the core protocol's image request only
};

enum class GrabResult {
  Ok,          // the new frame is there
  NoDisplay,   // no display could be reached; nothing was grabbed
  Failed,      // the grab failed (bad area, server refused)
  Unsuitable,  // GrabXrgb only: this area or server needs Grab
};

enum class ScreenChange { Unchanged, Part, Whole };

// The server's own pixels, read in place: top-down rows of 32-bit
// little-endian words 0x00RRGGBB, so each pixel's bytes are blue, green,
// red, unused.
struct XrgbImage {
  const std::uint8_t* pixels;
  std::int64_t stride;  // bytes from one row to the next
  std::int32_t width;
  std::int32_t height;
};

// Packs count 32-bit pixels as above into 3-byte blue, green, red pixels.
void PackXrgbRow(const std::uint8_t* src, std::uint8_t* dst, std::int32_t count);

// Grabs the desktop with the pointer's image drawn in. One grabber serves
// one thread. It connects to the display on its first grab and tries again,
// at most once a second, after a failed connection or a lost one. The packed
// bitmap and the server image are allocated once (the server image again
// only when the grabbed size changes), never per frame.
class ScreenGrabber {
 public:
  // capacityPixels bounds width x height of every grab.
  explicit ScreenGrabber(std::int64_t capacityPixels, GrabMethod method = GrabMethod::Auto);
  ~ScreenGrabber();
  ScreenGrabber(const ScreenGrabber&) = delete;
  ScreenGrabber& operator=(const ScreenGrabber&) = delete;

  // Grabs area into packed(). Parts of the area that lie outside the screen
  // come out black. The pointer is drawn with its hot spot at the pointer's
  // position, alpha-blended, unless withCursor is false or the pointer's
  // image is invisible (fully transparent) or on another screen.
  GrabResult Grab(const ScreenRect& area, bool withCursor = true);

  // The same grab without the packing pass: on Ok, *image shows the
  // server's pixels with the pointer drawn in, valid until the next grab.
  // Unsuitable when the area does not lie wholly on the screen or the
  // server's pixels are not 32-bit XRGB; Grab serves those.
  GrabResult GrabXrgb(const ScreenRect& area, XrgbImage* image, bool withCursor = true);

  // What a grab of area now would show that the last good grab of it did
  // not. Unchanged: that grab was of the same area (and pointer choice), the
  // server has reported nothing drawn inside it since, the screen kept its
  // size and the pointer neither moved nor changed its image. Part: only
  // drawing inside *dirty (within area); the rest is as it was. Whole:
  // anything else, and whenever it cannot be known (no display, a server
  // without damage reports). Each call takes the drawing reported so far,
  // so call it right before the grab it may save or shrink.
  ScreenChange Changes(const ScreenRect& area, ScreenRect* dirty, bool withCursor = true);

  // After a grab of only the dirty part: the picture of area that the caller
  // keeps is whole again, and later Changes are counted from it.
  void Completed(const ScreenRect& area, bool withCursor = true);

  // Waits until the server reports something drawn or the pointer drawn
  // into the last grab moves (looked for every few milliseconds), or until
  // the monotonic clock reaches untilUs. False on time-out and when drawing
  // cannot be reported at all (then at once).
  bool WaitForDrawing(std::int64_t untilUs);

  // The packed bitmap; holds a whole frame only after a grab that gave Ok.
  const std::uint8_t* packed() const;

  // The method in use: SharedMemory or GetImage once connected (Auto
  // settles on one at the first grab), the requested one before.
  GrabMethod method() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
