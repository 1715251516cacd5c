// Capture from a PipeWire video stream, fed by a driving source of the test's own on a private
// PipeWire: odd sizes, padded rows, an offset chunk and a crop, as compositors send them.
#include <gtest/gtest.h>
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>

#include <cstring>
#include <future>
#include <thread>

#include "pipewire/stream_capture.hpp"
#include "support/session_services.hpp"

namespace orvane::pc::pipewire {
namespace {

using namespace std::chrono_literals;

constexpr int WIDTH = 333, HEIGHT = 211, OFFSET = 96;
constexpr spa_rectangle SIZE{WIDTH, HEIGHT};
constexpr spa_region CROP{{17, 9}, {300, 190}};
const char* const NAME = "the test's screen";

std::uint8_t pattern(int x, int y, int channel, int seed) {
  return static_cast<std::uint8_t>(x * (channel + 3) + y * (7 - channel) + seed * 50 +
                                   channel * 85);
}

// A screen cast of the test's own: frames go out when the test shows them.
class Producer {
 public:
  Producer(spa_video_format format, int bytes, std::array<int, 3> rgb)
      : _format(format), _bytes(bytes), _rgb(rgb), _stride(WIDTH * bytes + 40) {
    _loop = pw_thread_loop_new("test-producer", nullptr);
    _context = pw_context_new(pw_thread_loop_get_loop(_loop), nullptr, 0);
    pw_thread_loop_start(_loop);
    pw_thread_loop_lock(_loop);
    _core = pw_context_connect(_context, nullptr, 0);
    if (_core == nullptr)
      throw std::runtime_error(std::string("producer: ") + std::strerror(errno));
    _stream =
        pw_stream_new(_core, "test screen", pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", nullptr));
    pw_stream_add_listener(_stream, &_hook, &EVENTS, this);
    std::uint8_t buffer[512];
    spa_pod_builder b;
    spa_pod_builder_init(&b, buffer, sizeof buffer);
    const spa_fraction rate{0, 1};
    const auto* param = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format, SPA_POD_Id(format),
        SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&SIZE), SPA_FORMAT_VIDEO_framerate,
        SPA_POD_Fraction(&rate)));
    pw_stream_connect(
        _stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), &param,
        1);
    pw_thread_loop_unlock(_loop);
    for (int i = 0; i < 500 && node() == SPA_ID_INVALID; ++i) std::this_thread::sleep_for(10ms);
  }
  ~Producer() {
    pw_thread_loop_stop(_loop);
    pw_stream_destroy(_stream);
    pw_core_disconnect(_core);
    pw_context_destroy(_context);
    pw_thread_loop_destroy(_loop);
  }
  std::uint32_t node() {
    pw_thread_loop_lock(_loop);
    const std::uint32_t id = pw_stream_get_node_id(_stream);
    pw_thread_loop_unlock(_loop);
    return id;
  }
  void disconnect() {
    pw_thread_loop_lock(_loop);
    pw_stream_disconnect(_stream);
    pw_thread_loop_unlock(_loop);
  }
  // Sends frame `seed`; does nothing before a consumer is linked.
  void show(int seed, bool corrupted = false) {
    pw_thread_loop_lock(_loop);
    if (pw_buffer* out = pw_stream_dequeue_buffer(_stream)) {
      spa_data& data = out->buffer->datas[0];
      auto* bytes = static_cast<std::uint8_t*>(data.data);
      std::fill_n(bytes, data.maxsize, 0xee);  // padding and alpha: garbage
      for (int y = 0; y < HEIGHT; ++y)
        for (int x = 0; x < WIDTH; ++x)
          for (int c = 0; c < 3; ++c)
            bytes[OFFSET + y * _stride + x * _bytes + _rgb[c]] = pattern(x, y, c, seed);
      *data.chunk = spa_chunk{OFFSET, static_cast<std::uint32_t>(_stride * HEIGHT), _stride, 0};
      if (auto* crop = static_cast<spa_meta_region*>(
              spa_buffer_find_meta_data(out->buffer, SPA_META_VideoCrop, sizeof(spa_meta_region))))
        crop->region = CROP;
      if (auto* header = static_cast<spa_meta_header*>(
              spa_buffer_find_meta_data(out->buffer, SPA_META_Header, sizeof(spa_meta_header))))
        header->flags = corrupted ? SPA_META_HEADER_FLAG_CORRUPTED : 0;
      pw_stream_queue_buffer(_stream, out);
      pw_stream_trigger_process(_stream);
    }
    pw_thread_loop_unlock(_loop);
  }

 private:
  static void on_param(void* data, std::uint32_t id, const spa_pod* param) {
    auto* self = static_cast<Producer*>(data);
    if (id != SPA_PARAM_Format || param == nullptr) return;
    std::uint8_t buffer[512];
    spa_pod_builder b;
    spa_pod_builder_init(&b, buffer, sizeof buffer);
    const spa_pod* params[] = {
        static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
            SPA_PARAM_BUFFERS_size, SPA_POD_Int(OFFSET + self->_stride * HEIGHT),
            SPA_PARAM_BUFFERS_stride, SPA_POD_Int(self->_stride), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd))),
        static_cast<const spa_pod*>(
            spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                       SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
                                       SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header)))),
        static_cast<const spa_pod*>(
            spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                       SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoCrop),
                                       SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))))};
    pw_stream_update_params(self->_stream, params, 3);
  }
  static constexpr pw_stream_events EVENTS{.version = PW_VERSION_STREAM_EVENTS,
                                           .param_changed = on_param};

  spa_video_format _format;
  int _bytes;
  std::array<int, 3> _rgb;  // the bytes red, green and blue sit in
  int _stride;
  pw_thread_loop* _loop;
  pw_context* _context;
  pw_core* _core;
  pw_stream* _stream;
  spa_hook _hook{};
};

std::vector<std::uint8_t> cropped_pattern(int seed) {
  std::vector<std::uint8_t> rgb;
  for (int y = 0; y < static_cast<int>(CROP.size.height); ++y)
    for (int x = 0; x < static_cast<int>(CROP.size.width); ++x)
      for (int c = 0; c < 3; ++c)
        rgb.push_back(pattern(CROP.position.x + x, CROP.position.y + y, c, seed));
  return rgb;
}

// Like a compositor, the producer sends frames until someone watches.
std::unique_ptr<StreamCapture> open(Producer& producer, int seed) {
  auto opening = std::async(std::launch::async, [id = producer.node()] {
    return std::make_unique<StreamCapture>(id, NAME);
  });
  while (opening.wait_for(20ms) != std::future_status::ready) producer.show(seed);
  return opening.get();
}

class PipewireCapture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pw_init(nullptr, nullptr);
    session = new testing::SessionServices();
  }
  static void TearDownTestSuite() { delete session; }
  static inline testing::SessionServices* session = nullptr;
};

TEST_F(PipewireCapture, EveryPixelFormatArrivesAsTheCroppedPatternInRgb) {
  struct Case {
    const char* name;
    spa_video_format format;
    int bytes;
    std::array<int, 3> rgb;
  };
  for (const Case& c : {Case{"BGRx", SPA_VIDEO_FORMAT_BGRx, 4, {2, 1, 0}},
                        Case{"RGBx", SPA_VIDEO_FORMAT_RGBx, 4, {0, 1, 2}},
                        Case{"ARGB", SPA_VIDEO_FORMAT_ARGB, 4, {1, 2, 3}},
                        Case{"xBGR", SPA_VIDEO_FORMAT_xBGR, 4, {3, 2, 1}},
                        Case{"BGR", SPA_VIDEO_FORMAT_BGR, 3, {2, 1, 0}}}) {
    SCOPED_TRACE(c.name);
    Producer producer(c.format, c.bytes, c.rgb);
    const auto capture = open(producer, 1);
    const ScreenCapture frame = capture->latest();
    EXPECT_EQ(frame.width, static_cast<int>(CROP.size.width));
    EXPECT_EQ(frame.height, static_cast<int>(CROP.size.height));
    EXPECT_EQ(capture->size(), std::make_pair(frame.width, frame.height));
    const auto expected = cropped_pattern(1);
    ASSERT_EQ(frame.rgb.size(), expected.size());
    const auto [got, want] = std::mismatch(frame.rgb.begin(), frame.rgb.end(), expected.begin());
    EXPECT_EQ(got, frame.rgb.end()) << "first difference at byte " << got - frame.rgb.begin();
  }
}

TEST_F(PipewireCapture, AFreshFrameIsAwaitedAndACorruptedOneNeverShown) {
  Producer producer(SPA_VIDEO_FORMAT_BGRx, 4, {2, 1, 0});
  const auto capture = open(producer, 1);
  producer.show(2, true);
  EXPECT_EQ(capture->latest(300ms).rgb, cropped_pattern(1));
  auto fresh = std::async(std::launch::async, [&] { return capture->latest(5s); });
  std::this_thread::sleep_for(200ms);
  producer.show(3);
  EXPECT_EQ(fresh.get().rgb, cropped_pattern(3));
  // A still screen: the newest frame is still what is shown.
  EXPECT_EQ(capture->latest(100ms).rgb, cropped_pattern(3));
}

TEST_F(PipewireCapture, AnEndedStreamThrowsNamingIt) {
  Producer producer(SPA_VIDEO_FORMAT_RGBx, 4, {0, 1, 2});
  const auto capture = open(producer, 1);
  producer.disconnect();
  try {
    capture->latest(5s);
    ADD_FAILURE() << "a frame of a stream that ended";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(NAME), std::string::npos) << e.what();
  }
  EXPECT_THROW(capture->latest(), std::runtime_error);
}

TEST_F(PipewireCapture, ACaptureThatCannotStartThrowsWithinItsTimeoutNamingWhy) {
  const auto started = std::chrono::steady_clock::now();
  try {
    StreamCapture(987654, NAME, -1, 2s);
    ADD_FAILURE() << "a capture of a node that does not exist";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(NAME), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("987654"), std::string::npos) << e.what();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);

  const std::string runtime = session->runtime_dir();
  setenv("XDG_RUNTIME_DIR", session->path("nowhere").c_str(), 1);
  try {
    StreamCapture(1, NAME);
    ADD_FAILURE() << "a capture without a PipeWire daemon";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("XDG_RUNTIME_DIR"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(NAME), std::string::npos) << e.what();
  }
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
}

}  // namespace
}  // namespace orvane::pc::pipewire
