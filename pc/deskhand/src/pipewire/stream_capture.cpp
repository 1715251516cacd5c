#include "pipewire/stream_capture.hpp"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace orvane::pc::pipewire {
namespace {

void init_pipewire_once() {
  static std::once_flag once;
  std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

// Where pw_context_connect looks for the daemon, for the error when it is not there.
std::string daemon_place() {
  if (const char* remote = std::getenv("PIPEWIRE_REMOTE"))
    return std::string("the PipeWire daemon $PIPEWIRE_REMOTE (") + remote + ")";
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr) return "the PipeWire daemon: XDG_RUNTIME_DIR is not set";
  return std::string("the PipeWire daemon's socket pipewire-0 in $XDG_RUNTIME_DIR (") + runtime +
         ")";
}

class LoopLock {
 public:
  explicit LoopLock(pw_thread_loop* loop) : _loop(loop) { pw_thread_loop_lock(_loop); }
  ~LoopLock() { pw_thread_loop_unlock(_loop); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pw_thread_loop* _loop;
};

// Raw video in any format we read, of any size and rate. No modifiers are offered, so the
// compositor sends memory we can map rather than DMA-BUFs.
const spa_pod* enum_format(spa_pod_builder& b) {
  spa_pod_frame object, choice;
  spa_pod_builder_push_object(&b, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
  spa_pod_builder_add(&b, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), 0);
  spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_format, 0);
  spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Enum, 0);
  spa_pod_builder_id(&b, pixel_layouts().front().format);  // the default
  for (const auto& layout : pixel_layouts()) spa_pod_builder_id(&b, layout.format);
  spa_pod_builder_pop(&b, &choice);
  spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_size, 0);
  spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Range, 0);
  spa_pod_builder_rectangle(&b, 1920, 1080);
  spa_pod_builder_rectangle(&b, 1, 1);
  spa_pod_builder_rectangle(&b, 16384, 16384);
  spa_pod_builder_pop(&b, &choice);
  // Mutter announces 0/1: frames come on damage, not at a rate.
  spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_framerate, 0);
  spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Range, 0);
  spa_pod_builder_fraction(&b, 30, 1);
  spa_pod_builder_fraction(&b, 0, 1);
  spa_pod_builder_fraction(&b, 1000, 1);
  spa_pod_builder_pop(&b, &choice);
  return static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &object));
}

const spa_pod* meta(spa_pod_builder& b, std::uint32_t type, std::size_t size) {
  return static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(type),
      SPA_PARAM_META_size, SPA_POD_Int(static_cast<int>(size))));
}

}  // namespace

struct StreamCapture::Events {
  static void core_done(void* data, std::uint32_t id, int seq) {
    auto* self = static_cast<StreamCapture*>(data);
    if (id != PW_ID_CORE || seq != self->_sync) return;
    // Every global the daemon had is listed by now.
    if (!self->_node_seen)
      self->_end(self->_name + ": PipeWire has no node " + std::to_string(self->_node_id));
  }
  static void core_error(void* data, std::uint32_t id, int, int res, const char* message) {
    auto* self = static_cast<StreamCapture*>(data);
    if (id != PW_ID_CORE) return;  // the stream's own errors reach its state
    self->_end(self->_name +
               ": the PipeWire connection failed: " + (message ? message : spa_strerror(res)));
  }
  static void global(void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
                     const spa_dict*) {
    auto* self = static_cast<StreamCapture*>(data);
    if (id == self->_node_id && std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0)
      self->_node_seen = true;
  }
  static void global_remove(void* data, std::uint32_t id) {
    auto* self = static_cast<StreamCapture*>(data);
    if (id == self->_node_id)
      self->_end(self->_name + " ended: its PipeWire node " + std::to_string(id) + " is gone");
  }
  static void state_changed(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* self = static_cast<StreamCapture*>(data);
    if (state == PW_STREAM_STATE_ERROR)
      self->_end(self->_name + " failed: " + (error ? error : "PipeWire gives no reason"));
    else if (state == PW_STREAM_STATE_UNCONNECTED)
      self->_end(self->_name + " was disconnected" + (error ? std::string(": ") + error : ""));
  }
  static void param_changed(void* data, std::uint32_t id, const spa_pod* param) {
    if (id == SPA_PARAM_Format && param != nullptr)
      static_cast<StreamCapture*>(data)->_on_format(param);
  }
  static void process(void* data) { static_cast<StreamCapture*>(data)->_on_process(); }

  static constexpr pw_core_events core_events{
      .version = PW_VERSION_CORE_EVENTS, .done = core_done, .error = core_error};
  static constexpr pw_registry_events registry_events{
      .version = PW_VERSION_REGISTRY_EVENTS, .global = global, .global_remove = global_remove};
  static constexpr pw_stream_events stream_events{.version = PW_VERSION_STREAM_EVENTS,
                                                  .state_changed = state_changed,
                                                  .param_changed = param_changed,
                                                  .process = process};
};

StreamCapture::StreamCapture(std::uint32_t node_id, std::string name, int remote_fd,
                             std::chrono::milliseconds timeout)
    : _node_id(node_id), _name(std::move(name)) {
  init_pipewire_once();
  try {
    _connect(remote_fd);
    std::unique_lock lock(_mutex);
    if (!_changed.wait_for(lock, timeout, [&] { return _frames > 0 || !_ended.empty(); }))
      throw std::runtime_error("no frame from " + _name + " within " +
                               std::to_string(timeout.count()) + " ms");
    _throw_if_ended();
  } catch (...) {
    _close();
    throw;
  }
}

StreamCapture::~StreamCapture() {
  _close();
}

void StreamCapture::_connect(int remote_fd) {
  _loop = pw_thread_loop_new("deskhand-capture", nullptr);
  _context = _loop ? pw_context_new(pw_thread_loop_get_loop(_loop), nullptr, 0) : nullptr;
  if (_context == nullptr || pw_thread_loop_start(_loop) < 0) {
    if (remote_fd >= 0) ::close(remote_fd);
    throw std::runtime_error(_name + ": cannot start a PipeWire loop: " + std::strerror(errno));
  }
  LoopLock lock(_loop);
  _core = remote_fd >= 0 ? pw_context_connect_fd(_context, remote_fd, nullptr, 0)
                         : pw_context_connect(_context, nullptr, 0);
  if (_core == nullptr) {
    // PipeWire says "host is down" when no socket it tried answered.
    const int error = errno;
    throw std::runtime_error(
        _name + ": cannot connect to " +
        (remote_fd >= 0 ? "the PipeWire remote it was given" : daemon_place()) + ": " +
        (error == EHOSTDOWN ? "no daemon answers there" : std::strerror(error)));
  }
  pw_core_add_listener(_core, &_core_hook, &Events::core_events, this);
  _registry = pw_core_get_registry(_core, PW_VERSION_REGISTRY, 0);
  pw_registry_add_listener(_registry, &_registry_hook, &Events::registry_events, this);
  _sync = pw_core_sync(_core, PW_ID_CORE, 0);

  _stream = pw_stream_new(_core, "deskhand screen capture",
                          pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                            "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  if (_stream == nullptr)
    throw std::runtime_error(_name + ": cannot make a PipeWire stream: " + std::strerror(errno));
  pw_stream_add_listener(_stream, &_stream_hook, &Events::stream_events, this);
  std::uint8_t buffer[1024];
  spa_pod_builder b;
  spa_pod_builder_init(&b, buffer, sizeof buffer);
  const spa_pod* params[] = {enum_format(b)};
  const int result = pw_stream_connect(
      _stream, PW_DIRECTION_INPUT, _node_id,
      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params,
      1);
  if (result < 0)
    throw std::runtime_error(_name + ": cannot connect to PipeWire node " +
                             std::to_string(_node_id) + ": " + spa_strerror(result));
}

void StreamCapture::_close() {
  if (_loop != nullptr) pw_thread_loop_stop(_loop);
  // The loop's thread is gone: nothing calls back while the rest is taken down.
  if (_stream != nullptr) {
    spa_hook_remove(&_stream_hook);
    pw_stream_destroy(_stream);
    _stream = nullptr;
  }
  if (_registry != nullptr) {
    spa_hook_remove(&_registry_hook);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(_registry));
    _registry = nullptr;
  }
  if (_core != nullptr) {
    spa_hook_remove(&_core_hook);
    pw_core_disconnect(_core);
    _core = nullptr;
  }
  if (_context != nullptr) pw_context_destroy(_context);
  if (_loop != nullptr) pw_thread_loop_destroy(_loop);
  _context = nullptr;
  _loop = nullptr;
}

void StreamCapture::_end(std::string why) {
  {
    std::lock_guard lock(_mutex);
    if (!_ended.empty()) return;  // the first cause is the one worth telling
    _ended = std::move(why);
    // No frame of an ended stream is shown.
    _frame = Frame{};
  }
  _changed.notify_all();
}

void StreamCapture::_throw_if_ended() const {
  if (!_ended.empty()) throw std::runtime_error(_ended);
}

void StreamCapture::_on_format(const spa_pod* format) {
  spa_video_info_raw info{};
  if (spa_format_video_raw_parse(format, &info) < 0) return;
  _layout = pixel_layout(info.format);
  _width = static_cast<int>(info.size.width);
  _height = static_cast<int>(info.size.height);
  std::uint8_t buffer[1024];
  spa_pod_builder b;
  spa_pod_builder_init(&b, buffer, sizeof buffer);
  spa_pod_frame object, choice;
  spa_pod_builder_push_object(&b, &object, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
  spa_pod_builder_prop(&b, SPA_PARAM_BUFFERS_dataType, 0);
  spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Flags, 0);
  spa_pod_builder_int(&b, (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr));
  spa_pod_builder_pop(&b, &choice);
  const auto* buffers = static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &object));
  const spa_pod* params[] = {buffers, meta(b, SPA_META_Header, sizeof(spa_meta_header)),
                             meta(b, SPA_META_VideoCrop, sizeof(spa_meta_region))};
  pw_stream_update_params(_stream, params, 3);
}

void StreamCapture::_on_process() {
  // Only the newest frame matters; the older ones go straight back.
  pw_buffer* newest = nullptr;
  while (pw_buffer* next = pw_stream_dequeue_buffer(_stream)) {
    if (newest != nullptr) pw_stream_queue_buffer(_stream, newest);
    newest = next;
  }
  if (newest == nullptr) return;
  struct Requeue {
    pw_stream* stream;
    pw_buffer* buffer;
    ~Requeue() { pw_stream_queue_buffer(stream, buffer); }
  } requeue{_stream, newest};

  const spa_buffer* buffer = newest->buffer;
  const auto* header = static_cast<const spa_meta_header*>(
      spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
  if (header != nullptr && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) return;
  if (_layout == nullptr || buffer->n_datas < 1) return;
  const spa_data& data = buffer->datas[0];
  const spa_chunk& chunk = *data.chunk;
  if (data.data == nullptr || chunk.size == 0 || (chunk.flags & SPA_CHUNK_FLAG_CORRUPTED)) return;

  int x = 0, y = 0, width = _width, height = _height;
  const auto* crop = static_cast<const spa_meta_region*>(
      spa_buffer_find_meta_data(buffer, SPA_META_VideoCrop, sizeof(spa_meta_region)));
  if (crop != nullptr && spa_meta_region_is_valid(crop)) {
    x = std::clamp(crop->region.position.x, 0, _width);
    y = std::clamp(crop->region.position.y, 0, _height);
    width = std::min(static_cast<int>(crop->region.size.width), _width - x);
    height = std::min(static_cast<int>(crop->region.size.height), _height - y);
  }
  const int bytes = _layout->bytes;
  const std::size_t stride = chunk.stride > 0 ? static_cast<std::size_t>(chunk.stride)
                                              : static_cast<std::size_t>(_width) * bytes;
  const std::size_t row = static_cast<std::size_t>(width) * bytes;
  const std::size_t offset = data.maxsize > 0 ? chunk.offset % data.maxsize : 0;
  if (width <= 0 || height <= 0 || chunk.stride < 0 ||
      stride < static_cast<std::size_t>(_width) * bytes)
    return;
  // A buffer too small for the frame it claims to hold is skipped, not read past.
  const std::size_t needed = (static_cast<std::size_t>(y) + height - 1) * stride +
                             static_cast<std::size_t>(x) * bytes + row;
  if (needed > chunk.size || offset + chunk.size > data.maxsize) return;

  const auto* first = static_cast<const std::uint8_t*>(data.data) + offset +
                      static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * bytes;
  _spare.pixels.resize(row * height);
  for (int i = 0; i < height; ++i)
    std::memcpy(_spare.pixels.data() + row * i, first + stride * i, row);
  _spare.width = width;
  _spare.height = height;
  _spare.layout = _layout;
  {
    std::lock_guard lock(_mutex);
    if (!_ended.empty()) return;
    std::swap(_spare, _frame);
    ++_frames;
  }
  _changed.notify_all();
}

ScreenCapture StreamCapture::latest(std::chrono::milliseconds fresh_within) {
  std::unique_lock lock(_mutex);
  _throw_if_ended();
  if (fresh_within.count() > 0) {
    const std::uint64_t seen = _frames;
    _changed.wait_for(lock, fresh_within, [&] { return _frames != seen || !_ended.empty(); });
    _throw_if_ended();
  }
  if (_frame.layout == nullptr) throw std::runtime_error("no frame from " + _name);
  ScreenCapture capture;
  capture.width = _frame.width;
  capture.height = _frame.height;
  capture.rgb.resize(static_cast<std::size_t>(_frame.width) * _frame.height * 3);
  to_rgb(*_frame.layout, _frame.pixels.data(),
         static_cast<std::size_t>(_frame.width) * _frame.layout->bytes, _frame.width, _frame.height,
         capture.rgb.data());
  return capture;
}

std::pair<int, int> StreamCapture::size() const {
  std::lock_guard lock(_mutex);
  return {_frame.width, _frame.height};
}

}  // namespace orvane::pc::pipewire
