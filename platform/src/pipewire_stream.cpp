// Pictures arrive on PipeWire's thread loop and are read where they lie,
// in the stream's shared-memory buffers: the stream keeps the newest
// buffer (ready) and the one the reader reads (reading) and gives every
// other back to the compositor at once. Both are handed over under the
// thread loop's lock; the read itself runs under a lock of its own, which
// the loop takes only when a buffer in use goes away (a renegotiation).
#include "pipewire_stream.h"

#include <fcntl.h>
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/param/video/raw.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace plat {
namespace pw {

namespace {

std::once_flag pipewireInit;

}  // namespace

struct Stream::Impl {
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  spa_hook coreListener{};
  spa_hook streamListener{};
  bool hooked = false;

  // Negotiated format; under the loop's lock.
  std::int32_t width = 0, height = 0;
  bool swapRedBlue = false;
  bool formatKnown = false;
  pw_buffer* ready = nullptr;    // newest picture, not read yet; loop's lock
  pw_buffer* reading = nullptr;  // the reader's picture; loop's lock
  std::mutex readLock;           // held by the reader while it reads

  mutable std::mutex handOver;  // guards endReason, hasEnded
  std::string endReason;
  bool hasEnded = false;
  std::atomic<std::uint64_t> count{0};
  bool streamed = false;  // loop thread only

  void End(const std::string& why) {
    std::lock_guard<std::mutex> g(handOver);
    if (!hasEnded) endReason = why;
    hasEnded = true;
  }

  static void OnCoreError(void* data, std::uint32_t id, int, int res, const char* message) {
    if (id != PW_ID_CORE) return;
    static_cast<Impl*>(data)->End(std::string("PipeWire: ") + (message ? message : spa_strerror(res)));
  }

  static void OnStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* self = static_cast<Impl*>(data);
    if (state == PW_STREAM_STATE_ERROR) {
      self->End(std::string("PipeWire stream: ") + (error ? error : "error"));
    } else if (state == PW_STREAM_STATE_STREAMING) {
      self->streamed = true;
    } else if (state == PW_STREAM_STATE_UNCONNECTED && self->streamed) {
      self->End("the screen cast ended");
    }
  }

  static void OnParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
    auto* self = static_cast<Impl*>(data);
    if (id != SPA_PARAM_Format || param == nullptr) return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    self->width = static_cast<std::int32_t>(info.size.width);
    self->height = static_cast<std::int32_t>(info.size.height);
    self->swapRedBlue = info.format == SPA_VIDEO_FORMAT_RGBx || info.format == SPA_VIDEO_FORMAT_RGBA;
    self->formatKnown = true;

    // Shared-memory buffers we can read in place.
    std::uint8_t buffer[512];
    spa_pod_builder b{};
    spa_pod_builder_init(&b, buffer, sizeof buffer);
    const std::int32_t stride = self->width * 4;
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(stride * self->height), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride),
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    pw_stream_update_params(self->stream, params, 1);
  }

  static void OnProcess(void* data) {
    auto* self = static_cast<Impl*>(data);
    // Only the newest buffer matters; older ones go straight back.
    pw_buffer* newest = nullptr;
    while (pw_buffer* next = pw_stream_dequeue_buffer(self->stream)) {
      if (newest) pw_stream_queue_buffer(self->stream, newest);
      newest = next;
    }
    if (!newest) return;
    if (!self->Readable(newest->buffer)) {
      pw_stream_queue_buffer(self->stream, newest);
      return;
    }
    if (self->ready) pw_stream_queue_buffer(self->stream, self->ready);  // never read
    self->ready = newest;
    self->count.fetch_add(1);
  }

  // A buffer about to go (a renegotiation): never while it is being read.
  static void OnRemoveBuffer(void* data, pw_buffer* buffer) {
    auto* self = static_cast<Impl*>(data);
    if (buffer == self->ready) self->ready = nullptr;
    if (buffer == self->reading) {
      std::lock_guard<std::mutex> g(self->readLock);
      self->reading = nullptr;
    }
  }

  static const pw_core_events& CoreEvents() {
    static const pw_core_events events = [] {
      pw_core_events e{};
      e.version = PW_VERSION_CORE_EVENTS;
      e.error = &OnCoreError;
      return e;
    }();
    return events;
  }

  static const pw_stream_events& StreamEvents() {
    static const pw_stream_events events = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.state_changed = &OnStateChanged;
      e.param_changed = &OnParamChanged;
      e.process = &OnProcess;
      e.remove_buffer = &OnRemoveBuffer;
      return e;
    }();
    return events;
  }

  // Where a buffer's picture lies, if it fills the negotiated format.
  bool Locate(const spa_buffer* buffer, View* view) const {
    if (!formatKnown || width <= 0 || height <= 0 || buffer->n_datas < 1) return false;
    const spa_data& d = buffer->datas[0];
    if (d.data == nullptr || d.chunk == nullptr || d.chunk->size == 0) return false;
    const std::int64_t rowBytes = std::int64_t{width} * 4;
    const std::int64_t stride = d.chunk->stride > 0 ? d.chunk->stride : rowBytes;
    const std::uint64_t needed = static_cast<std::uint64_t>(stride) * (height - 1) + static_cast<std::uint64_t>(rowBytes);
    // A picture that does not fill the negotiated format (a compositor that
    // changed the size without renegotiating it) would be read as garbage:
    // the last good picture stays instead.
    if (stride < rowBytes || d.chunk->size < needed) return false;
    const std::uint64_t offset = d.chunk->offset % (d.maxsize ? d.maxsize : 1);
    if (offset + needed > d.maxsize) return false;
    view->pixels = static_cast<const std::uint8_t*>(d.data) + offset;
    view->stride = stride;
    view->width = width;
    view->height = height;
    view->swapRedBlue = swapRedBlue;
    return true;
  }

  bool Readable(spa_buffer* buffer) const {
    const spa_data& d = buffer->datas[0];
    if (buffer->n_datas < 1 || d.chunk == nullptr || (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) return false;
    auto* header = static_cast<spa_meta_header*>(spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
    if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) return false;
    View view;
    return Locate(buffer, &view);
  }
};

Stream::Stream() : impl_(new Impl) {}

Stream::~Stream() {
  Impl& s = *impl_;
  if (s.loop) {
    pw_thread_loop_lock(s.loop);
    if (s.stream) {
      pw_stream_disconnect(s.stream);
      pw_stream_destroy(s.stream);
    }
    if (s.core) pw_core_disconnect(s.core);
    pw_thread_loop_unlock(s.loop);
    pw_thread_loop_stop(s.loop);
    if (s.context) pw_context_destroy(s.context);
    pw_thread_loop_destroy(s.loop);
  }
}

bool Stream::Start(int fd, std::uint32_t node, std::string* error) {
  std::call_once(pipewireInit, [] { pw_init(nullptr, nullptr); });
  Impl& s = *impl_;
  s.loop = pw_thread_loop_new("tandeo-cast", nullptr);
  if (!s.loop) {
    close(fd);
    *error = "PipeWire: no thread loop";
    return false;
  }
  s.context = pw_context_new(pw_thread_loop_get_loop(s.loop), nullptr, 0);
  if (!s.context || pw_thread_loop_start(s.loop) < 0) {
    close(fd);
    *error = "PipeWire: no context";
    return false;
  }
  pw_thread_loop_lock(s.loop);
  s.core = pw_context_connect_fd(s.context, fd, nullptr, 0);  // takes fd
  if (!s.core) {
    pw_thread_loop_unlock(s.loop);
    *error = "PipeWire: cannot connect through the portal's descriptor";
    return false;
  }
  pw_core_add_listener(s.core, &s.coreListener, &Impl::CoreEvents(), &s);
  s.stream = pw_stream_new(s.core, "tandeo screen",
                           pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  if (!s.stream) {
    pw_thread_loop_unlock(s.loop);
    *error = "PipeWire: no stream";
    return false;
  }
  pw_stream_add_listener(s.stream, &s.streamListener, &Impl::StreamEvents(), &s);

  std::uint8_t buffer[1024];
  spa_pod_builder b{};
  spa_pod_builder_init(&b, buffer, sizeof buffer);
  spa_rectangle defSize{1920, 1080}, minSize{1, 1}, maxSize{8192, 8192};
  spa_fraction defRate{30, 1}, minRate{0, 1}, maxRate{240, 1};
  const spa_pod* params[1];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                             SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defSize, &minSize, &maxSize),
      SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defRate, &minRate, &maxRate)));
  const int rc = pw_stream_connect(s.stream, PW_DIRECTION_INPUT, node,
                                   static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                                   params, 1);
  pw_thread_loop_unlock(s.loop);
  if (rc < 0) {
    *error = std::string("PipeWire: cannot connect the stream: ") + spa_strerror(rc);
    return false;
  }
  return true;
}

bool Stream::Acquire(View* view) {
  Impl& s = *impl_;
  if (!s.loop || !s.stream) return false;
  pw_thread_loop_lock(s.loop);
  if (s.ready) {
    if (s.reading) pw_stream_queue_buffer(s.stream, s.reading);
    s.reading = s.ready;
    s.ready = nullptr;
  }
  const bool held = s.reading != nullptr && s.Locate(s.reading->buffer, view);
  // Taken before the loop's lock is let go, so the buffer cannot go away
  // between here and the end of the read.
  if (held) s.readLock.lock();
  pw_thread_loop_unlock(s.loop);
  return held;
}

void Stream::Release() { impl_->readLock.unlock(); }

bool Stream::ended(std::string* why) const {
  std::lock_guard<std::mutex> g(impl_->handOver);
  if (impl_->hasEnded && why) *why = impl_->endReason;
  return impl_->hasEnded;
}

std::uint64_t Stream::pictures() const { return impl_->count.load(); }

}  // namespace pw
}  // namespace plat
