// Nothing of ours is allocated per picture: every packet is built in the one
// buffer the encoder allocated when it opened. Counts every operator new of
// the process while pictures are encoded (libx264 allocates with malloc, and
// only when it opens).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "media/tests/desktop_sequence.h"
#include "media/tests/encoder_test_util.h"
#include "media/x264_encoder.h"

namespace {
std::atomic<long> g_news{0};
}

// Every form of operator new and delete, so none reaches another allocator.
void* operator new(size_t size) {
  ++g_news;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  ++g_news;
  return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

struct CountingSink : OutBitStream {
  long packets = 0, bytes = 0;
  int32_t Write(const uint8_t*, int32_t length) override {
    ++packets;
    bytes += length;
    return 1;
  }
};

TEST(EncoderAllocation, NoAllocationPerPictureNorOnReconfigureOrReopen) {
  for (int profile : {kProfileBaseline, kProfileHigh}) {
    SCOPED_TRACE(profile);
    FrameEncodeParams params = TestParams(640, 360, 30, profile, 704000, 15);
    EncoderConfig config = MakeEncoderConfig(params);
    CountingSink sink;
    IVideoEncoder* encoder = CreateVideoEncoder(&config, &sink);
    ASSERT_NE(encoder, nullptr);
    DesktopSequence source(640, 360, DesktopSequence::Scene::kBusy);

    const long before = g_news.load();
    for (int i = 0; i < 24; ++i) {
      if (i == 6) params.word[FrameEncodeParams::kIdrRequest] = params.word[FrameEncodeParams::kIdrRequest2] = 1;
      if (i == 7) params.word[FrameEncodeParams::kIdrRequest] = params.word[FrameEncodeParams::kIdrRequest2] = 0;
      if (i == 10) params.word[FrameEncodeParams::kBitrate] = 512000;   // reconfigure
      if (i == 14) params.word[FrameEncodeParams::kBitrate] = 2000000;  // reopen
      if (i == 18) params.word[FrameEncodeParams::kFrameRate] = 10;     // reopen
      source.Render(i);
      FramePicture pic = source.picture();
      encoder->Encode(&pic, &params);
    }
    EXPECT_EQ(g_news.load() - before, 0);
    EXPECT_GT(sink.packets, 24);
    delete encoder;
  }
}

}  // namespace
