// Pictures arrive on PipeWire's thread loop. The newest is copied out of
// the stream's buffer at once, so the buffer goes back to the compositor
// without waiting for the reader; three pictures rotate between the stream
// (being written), the hand-over slot (newest complete) and the reader.
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

// Copies one row of 32-bit pixels; red and blue change places for the
// RGB-ordered formats.
void CopyRow(const std::uint8_t* src, std::uint8_t* dst, std::int32_t count, bool swapRedBlue) {
  if (!swapRedBlue) {
    std::memcpy(dst, src, static_cast<std::size_t>(count) * 4);
    return;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    dst[4 * i] = src[4 * i + 2];
    dst[4 * i + 1] = src[4 * i + 1];
    dst[4 * i + 2] = src[4 * i];
    dst[4 * i + 3] = 0;
  }
}

}  // namespace

struct Stream::Impl {
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  spa_hook coreListener{};
  spa_hook streamListener{};
  bool hooked = false;

  // Negotiated format; stream thread only.
  std::int32_t width = 0, height = 0;
  bool swapRedBlue = false;
  bool formatKnown = false;
  Picture writing;  // stream thread only

  mutable std::mutex handOver;  // guards ready, fresh, endReason
  Picture ready;
  bool fresh = false;
  std::string endReason;
  bool hasEnded = false;
  std::atomic<std::uint64_t> count{0};
  bool streamed = false;  // stream thread only

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
    self->Copy(newest->buffer);
    pw_stream_queue_buffer(self->stream, newest);
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
      return e;
    }();
    return events;
  }

  void Copy(const spa_buffer* buffer) {
    if (!formatKnown || width <= 0 || height <= 0 || buffer->n_datas < 1) return;
    const spa_data& d = buffer->datas[0];
    if (d.data == nullptr || d.chunk == nullptr || d.chunk->size == 0) return;
    if (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) return;
    auto* header = static_cast<spa_meta_header*>(spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
    if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) return;
    const std::int64_t rowBytes = std::int64_t{width} * 4;
    const std::int64_t stride = d.chunk->stride > 0 ? d.chunk->stride : rowBytes;
    const std::uint64_t needed = static_cast<std::uint64_t>(stride) * (height - 1) + static_cast<std::uint64_t>(rowBytes);
    // A picture that does not fill the negotiated format (a compositor that
    // changed the size without renegotiating it) would be read as garbage:
    // the last good picture stays instead.
    if (stride < rowBytes || d.chunk->size < needed) return;
    const std::uint64_t offset = d.chunk->offset % (d.maxsize ? d.maxsize : 1);
    if (offset + needed > d.maxsize) return;
    const auto* src = static_cast<const std::uint8_t*>(d.data) + offset;

    const std::int64_t outStride = std::int64_t{width} * 4;
    const std::size_t bytes = static_cast<std::size_t>(outStride) * height;
    if (writing.pixels.size() < bytes) writing.pixels.resize(bytes);
    for (std::int32_t y = 0; y < height; ++y) {
      CopyRow(src + y * stride, writing.pixels.data() + y * outStride, width, swapRedBlue);
    }
    writing.width = width;
    writing.height = height;
    writing.stride = outStride;
    {
      std::lock_guard<std::mutex> g(handOver);
      std::swap(writing, ready);
      fresh = true;
    }
    count.fetch_add(1);
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

bool Stream::TakeNewest(Picture* picture) {
  std::lock_guard<std::mutex> g(impl_->handOver);
  if (!impl_->fresh) return false;
  std::swap(impl_->ready, *picture);
  impl_->fresh = false;
  return true;
}

bool Stream::ended(std::string* why) const {
  std::lock_guard<std::mutex> g(impl_->handOver);
  if (impl_->hasEnded && why) *why = impl_->endReason;
  return impl_->hasEnded;
}

std::uint64_t Stream::pictures() const { return impl_->count.load(); }

}  // namespace pw
}  // namespace plat
