// The whole "screenshot" action on the X display in $DISPLAY (capture, resize, PNG for the model,
// base64, disk copy), with one of the reference frames shown full screen. scripts/bench-screenshot
// starts a 1920x1080 Xvfb for it and runs Pillow's ImageGrab pipeline beside it, then a headless
// sway showing the same frames for the Wayland path.
//
// With --show-frame=N the program only shows frame N, prints "ready" and waits for the end of its
// standard input, so that another program can capture the same screen.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "image/image.hpp"
#include "orvane/pc/deskhand.hpp"
#include "x11/x11_input.hpp"

// Xlib after the others: its macros clash with ordinary names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

namespace img = orvane::pc::image;
const char* const FRAMES[] = {"plain-desktop-1920x1080.png", "photo-desktop-1920x1080.png"};

std::filesystem::path frames_dir() {
  if (const char* dir = std::getenv("ORVANE_FRAMES_DIR")) return dir;
  return std::filesystem::path(__FILE__).parent_path().parent_path() / "pc/deskhand/tests/data";
}

// A full-screen override-redirect window showing one frame.
class FrameWindow {
 public:
  explicit FrameWindow(int index) {
    _display = XOpenDisplay(nullptr);
    if (_display == nullptr) throw std::runtime_error("cannot open $DISPLAY");
    const int screen = DefaultScreen(_display);
    const img::RgbImage frame = img::read_png_file(frames_dir() / FRAMES[index]);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    _window =
        XCreateWindow(_display, RootWindow(_display, screen), 0, 0, frame.width, frame.height, 0,
                      CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
    XMapRaised(_display, _window);
    XSync(_display, False);
    XImage* image =
        XCreateImage(_display, DefaultVisual(_display, screen), DefaultDepth(_display, screen),
                     ZPixmap, 0, nullptr, frame.width, frame.height, 32, 0);
    image->data =
        static_cast<char*>(std::malloc(std::size_t(image->bytes_per_line) * frame.height));
    for (int y = 0; y < frame.height; ++y) {
      for (int x = 0; x < frame.width; ++x) {
        const auto* p = &frame.pixels[(std::size_t(y) * frame.width + x) * 3];
        XPutPixel(image, x, y, (unsigned long)p[0] << 16 | p[1] << 8 | p[2]);
      }
    }
    GC gc = XCreateGC(_display, _window, 0, nullptr);
    XPutImage(_display, _window, gc, image, 0, 0, 0, 0, frame.width, frame.height);
    XFreeGC(_display, gc);
    XDestroyImage(image);
    XSync(_display, False);
  }
  ~FrameWindow() {
    XDestroyWindow(_display, _window);
    XCloseDisplay(_display);
  }

 private:
  Display* _display = nullptr;
  Window _window = 0;
};

// A throw-away home, so that latest.png does not land in the user's.
const std::filesystem::path& bench_home() {
  static const std::filesystem::path home = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "deskhand-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    ::setenv("HOME", pattern.c_str(), 1);
    return std::filesystem::path(pattern);
  }();
  return home;
}

void BM_ScreenshotAction(benchmark::State& state) {
  bench_home();
  const FrameWindow window(static_cast<int>(state.range(0)));
  orvane::pc::DeskhandExecutor executor;
  executor._ensure_initialized();
  std::size_t base64_chars = 0;
  for (auto _ : state) {
    const auto result = executor.execute_action("screenshot", nlohmann::ordered_json::object());
    if (result["type"] != "image") {
      state.SkipWithError(result.dump().c_str());
      break;
    }
    base64_chars = result["base64"].get_ref<const std::string&>().size();
  }
  state.counters["png_bytes"] = static_cast<double>(
      std::filesystem::file_size(bench_home() / ".orvane" / "screenshots" / "latest.png"));
  state.counters["base64_chars"] = static_cast<double>(base64_chars);
  state.SetLabel(state.range(0) == 0 ? "plain" : "photo");
}
BENCHMARK(BM_ScreenshotAction)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

// The same action on whatever the desktop shows, on the desktop the executor chooses (a Wayland
// compositor when $WAYLAND_DISPLAY is set); scripts/bench-screenshot shows a frame there itself.
void BM_DesktopScreenshotAction(benchmark::State& state) {
  bench_home();
  orvane::pc::DeskhandExecutor executor;
  executor._ensure_initialized();
  // The first screenshot opens the desktop's capture (a screen cast's stream, say), once per
  // executor: timed apart from the steady state.
  const auto first = std::chrono::steady_clock::now();
  executor.execute_action("screenshot", nlohmann::ordered_json::object());
  state.counters["first_ms"] =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - first).count();
  for (auto _ : state) {
    const auto result = executor.execute_action("screenshot", nlohmann::ordered_json::object());
    if (result["type"] != "image") {
      state.SkipWithError(result.dump().c_str());
      break;
    }
  }
  state.counters["png_bytes"] = static_cast<double>(
      std::filesystem::file_size(bench_home() / ".orvane" / "screenshots" / "latest.png"));
}
BENCHMARK(BM_DesktopScreenshotAction)->Unit(benchmark::kMillisecond);

void BM_Capture(benchmark::State& state) {
  const FrameWindow window(static_cast<int>(state.range(0)));
  auto input = orvane::pc::x11::X11Input::open();
  for (auto _ : state) benchmark::DoNotOptimize(input->screenshot());
  state.SetLabel(state.range(0) == 0 ? "plain" : "photo");
}
BENCHMARK(BM_Capture)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  const std::string show = "--show-frame=";
  if (argc == 2 && std::string(argv[1]).rfind(show, 0) == 0) {
    const FrameWindow window(std::stoi(std::string(argv[1]).substr(show.size())));
    std::cout << "ready" << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
    }
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  if (std::getenv("HOME")) std::filesystem::remove_all(bench_home(), ignored);
  return 0;
}
