/* Test-only: lets Debian 12's xdg-desktop-portal-wlr (0.7.0) share a screen
 * on a machine without a GPU.
 *
 * Before it starts a cast, that version checks that the compositor's
 * screencopy offered a DMA-BUF format, whenever the portal's own interface
 * version is 3 or more, which it always is: the check meant the screencopy
 * version. With no GPU the compositor renders with pixman and offers
 * shared memory only, so every Start is refused. Preloaded into the portal
 * back-end, this reports one DMA-BUF format at the frame's size after the
 * compositor's buffer offers when the compositor sent none, which gets the
 * back-end past the check. The stream's consumer still negotiates shared
 * memory (no modifiers offered, no GBM device here), so the pictures are
 * the compositor's real shared-memory copies. Nothing of this goes into the
 * product. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <string.h>
#include <wayland-client-core.h>

/* zwlr_screencopy_frame_v1 events, version 3, in protocol order. */
struct frame_listener {
  void (*buffer)(void *data, void *frame, uint32_t format, uint32_t width, uint32_t height, uint32_t stride);
  void (*flags)(void *data, void *frame, uint32_t flags);
  void (*ready)(void *data, void *frame, uint32_t sec_hi, uint32_t sec_lo, uint32_t nsec);
  void (*failed)(void *data, void *frame);
  void (*damage)(void *data, void *frame, uint32_t x, uint32_t y, uint32_t width, uint32_t height);
  void (*linux_dmabuf)(void *data, void *frame, uint32_t format, uint32_t width, uint32_t height);
  void (*buffer_done)(void *data, void *frame);
};

#define DRM_FORMAT_XRGB8888 0x34325258u /* 'XR24' */

static const struct frame_listener *original;
static struct frame_listener wrapped;
/* Frames are captured one after the other on the back-end's one thread. */
static uint32_t last_width, last_height;
static int dmabuf_seen;

static void on_buffer(void *data, void *frame, uint32_t format, uint32_t width, uint32_t height, uint32_t stride) {
  last_width = width;
  last_height = height;
  original->buffer(data, frame, format, width, height, stride);
}

static void on_linux_dmabuf(void *data, void *frame, uint32_t format, uint32_t width, uint32_t height) {
  dmabuf_seen = 1;
  original->linux_dmabuf(data, frame, format, width, height);
}

static void on_buffer_done(void *data, void *frame) {
  if (!dmabuf_seen && last_width > 0) original->linux_dmabuf(data, frame, DRM_FORMAT_XRGB8888, last_width, last_height);
  dmabuf_seen = 0;
  original->buffer_done(data, frame);
}

int wl_proxy_add_listener(struct wl_proxy *proxy, void (**implementation)(void), void *data) {
  static int (*real)(struct wl_proxy *, void (**)(void), void *);
  if (!real) real = (int (*)(struct wl_proxy *, void (**)(void), void *))dlsym(RTLD_NEXT, "wl_proxy_add_listener");
  if (strcmp(wl_proxy_get_class(proxy), "zwlr_screencopy_frame_v1") == 0 && wl_proxy_get_version(proxy) >= 3) {
    original = (const struct frame_listener *)implementation;
    wrapped = *original;
    wrapped.buffer = on_buffer;
    wrapped.linux_dmabuf = on_linux_dmabuf;
    wrapped.buffer_done = on_buffer_done;
    return real(proxy, (void (**)(void)) & wrapped, data);
  }
  return real(proxy, implementation, data);
}
