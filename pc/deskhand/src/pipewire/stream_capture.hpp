#pragma once
// A screen as a PipeWire video stream (GNOME's and KDE's screen casts hand one out as a node id):
// one stream kept open for the object's life, its newest complete frame kept for the caller.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <spa/utils/hook.h>

#include "orvane/pc/desktop.hpp"
#include "pipewire/pixels.hpp"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_registry;
struct pw_stream;
struct spa_pod;

namespace orvane::pc::pipewire {

class StreamCapture {
 public:
  // Connects to the session's PipeWire daemon (or the remote given as an fd, taken over) and to
  // node `node_id`; waits up to `timeout` for a negotiated format and the first complete frame.
  // `name` names the stream in every error ("GNOME's screen cast of Meta-0").
  StreamCapture(std::uint32_t node_id, std::string name, int remote_fd = -1,
                std::chrono::milliseconds timeout = std::chrono::seconds(5));
  ~StreamCapture();
  StreamCapture(const StreamCapture&) = delete;
  StreamCapture& operator=(const StreamCapture&) = delete;

  // The newest complete frame, cropped, as packed RGB. If `fresh_within` > 0, first waits up to
  // that long for a frame that completes after this call (compositors send frames on damage, so
  // a still screen sends none: then the newest one is returned, which is still what is shown).
  // Throws std::runtime_error naming the stream when it has ended, errored or was never set up.
  ScreenCapture latest(std::chrono::milliseconds fresh_within = std::chrono::milliseconds(0));
  std::pair<int, int> size() const;  // of the latest frame (after crop)

 private:
  struct Events;  // PipeWire's callbacks

  // A frame's cropped pixels, rows packed, in the stream's format.
  struct Frame {
    std::vector<std::uint8_t> pixels;
    int width = 0, height = 0;
    const PixelLayout* layout = nullptr;
  };

  void _connect(int remote_fd);
  void _close();
  void _end(std::string why);
  void _on_format(const spa_pod* format);
  void _on_process();
  void _throw_if_ended() const;

  const std::uint32_t _node_id;
  const std::string _name;

  pw_thread_loop* _loop = nullptr;
  pw_context* _context = nullptr;
  pw_core* _core = nullptr;
  pw_registry* _registry = nullptr;
  pw_stream* _stream = nullptr;
  spa_hook _core_hook{}, _registry_hook{}, _stream_hook{};

  // PipeWire's thread only.
  const PixelLayout* _layout = nullptr;
  int _width = 0, _height = 0;
  Frame _spare;
  int _sync = -1;
  bool _node_seen = false;

  // Shared with the caller's thread.
  mutable std::mutex _mutex;
  std::condition_variable _changed;
  Frame _frame;
  std::uint64_t _frames = 0;  // complete frames received
  std::string _ended;         // why the stream can give no more frames
};

}  // namespace orvane::pc::pipewire
