#include "windows/desktop_duplication.hpp"

#include <d3d11.h>
#include <dxgi1_2.h>
#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace orvane::pc::windows {

using Microsoft::WRL::ComPtr;

namespace {

void check(HRESULT result, const char* step) {
  if (SUCCEEDED(result)) return;
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(result));
  throw std::runtime_error(std::string(step) + " failed: " + code);
}

}  // namespace

struct DesktopDuplication::Parts {
  ComPtr<ID3D11Device> device;
  ComPtr<ID3D11DeviceContext> context;
  ComPtr<IDXGIOutputDuplication> duplication;
  // A CPU-readable copy of the last frame: when nothing has changed since, no new frame comes.
  ComPtr<ID3D11Texture2D> staging;
};

DesktopDuplication::DesktopDuplication(std::unique_ptr<Parts> parts) : _parts(std::move(parts)) {}

DesktopDuplication::~DesktopDuplication() = default;

std::unique_ptr<DesktopDuplication> DesktopDuplication::open() {
  // Kept loaded once loaded: unloading Direct3D under live objects is not worth the memory.
  const HMODULE d3d11 = ::LoadLibraryW(L"d3d11.dll");
  if (d3d11 == nullptr) throw std::runtime_error("d3d11.dll cannot be loaded");
  const auto create = reinterpret_cast<PFN_D3D11_CREATE_DEVICE>(
      reinterpret_cast<void*>(::GetProcAddress(d3d11, "D3D11CreateDevice")));
  if (create == nullptr) throw std::runtime_error("d3d11.dll has no D3D11CreateDevice");

  auto parts = std::make_unique<Parts>();
  check(create(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
               &parts->device, nullptr, &parts->context),
        "D3D11CreateDevice");
  ComPtr<IDXGIDevice> dxgi_device;
  check(parts->device.As(&dxgi_device), "IDXGIDevice");
  ComPtr<IDXGIAdapter> adapter;
  check(dxgi_device->GetAdapter(&adapter), "GetAdapter");

  // The primary screen is the output at the desktop's origin; on another adapter (a hybrid
  // laptop's) it is not found here and GDI takes over.
  ComPtr<IDXGIOutput> primary;
  ComPtr<IDXGIOutput> output;
  for (UINT i = 0; adapter->EnumOutputs(i, &output) != DXGI_ERROR_NOT_FOUND; ++i) {
    DXGI_OUTPUT_DESC desc{};
    if (SUCCEEDED(output->GetDesc(&desc)) && desc.AttachedToDesktop &&
        desc.DesktopCoordinates.left == 0 && desc.DesktopCoordinates.top == 0) {
      primary = output;
      break;
    }
    output.Reset();
  }
  if (!primary) throw std::runtime_error("the primary screen is not on Direct3D's adapter");
  ComPtr<IDXGIOutput1> output1;
  check(primary.As(&output1), "IDXGIOutput1");
  check(output1->DuplicateOutput(parts->device.Get(), &parts->duplication), "DuplicateOutput");

  DXGI_OUTDUPL_DESC desc{};
  parts->duplication->GetDesc(&desc);
  if (desc.Rotation != DXGI_MODE_ROTATION_IDENTITY &&
      desc.Rotation != DXGI_MODE_ROTATION_UNSPECIFIED) {
    throw std::runtime_error("the screen is rotated");
  }
  return std::unique_ptr<DesktopDuplication>(new DesktopDuplication(std::move(parts)));
}

ScreenCapture DesktopDuplication::capture() {
  Parts& parts = *_parts;
  DXGI_OUTDUPL_FRAME_INFO info{};
  ComPtr<IDXGIResource> resource;
  // The first frame holds the whole screen; later ones come only with changes, and one refresh
  // is waited for so that a change on its way is seen.
  const HRESULT acquired =
      parts.duplication->AcquireNextFrame(parts.staging ? 16 : 500, &info, &resource);
  if (acquired != DXGI_ERROR_WAIT_TIMEOUT || !parts.staging) {
    check(acquired, "AcquireNextFrame");
    ComPtr<ID3D11Texture2D> frame;
    const HRESULT is_texture = resource.As(&frame);
    if (SUCCEEDED(is_texture) && !parts.staging) {
      D3D11_TEXTURE2D_DESC desc{};
      frame->GetDesc(&desc);
      if (desc.Format != DXGI_FORMAT_B8G8R8A8_UNORM) {
        parts.duplication->ReleaseFrame();
        throw std::runtime_error("the screen's format is not 8-bit BGRA");
      }
      desc.Usage = D3D11_USAGE_STAGING;
      desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
      desc.BindFlags = 0;
      desc.MiscFlags = 0;
      desc.MipLevels = 1;
      desc.ArraySize = 1;
      const HRESULT made = parts.device->CreateTexture2D(&desc, nullptr, &parts.staging);
      if (FAILED(made)) parts.duplication->ReleaseFrame();
      check(made, "CreateTexture2D");
    }
    if (SUCCEEDED(is_texture)) parts.context->CopyResource(parts.staging.Get(), frame.Get());
    parts.duplication->ReleaseFrame();
    check(is_texture, "ID3D11Texture2D");
  }

  D3D11_TEXTURE2D_DESC desc{};
  parts.staging->GetDesc(&desc);
  D3D11_MAPPED_SUBRESOURCE mapped{};
  check(parts.context->Map(parts.staging.Get(), 0, D3D11_MAP_READ, 0, &mapped), "Map");
  ScreenCapture capture;
  capture.width = static_cast<int>(desc.Width);
  capture.height = static_cast<int>(desc.Height);
  capture.rgb.resize(static_cast<std::size_t>(desc.Width) * desc.Height * 3);
  std::uint8_t* out = capture.rgb.data();
  for (UINT y = 0; y < desc.Height; ++y) {
    const auto* row = static_cast<const std::uint8_t*>(mapped.pData) +
                      static_cast<std::size_t>(y) * mapped.RowPitch;
    for (UINT x = 0; x < desc.Width; ++x, row += 4, out += 3) {
      out[0] = row[2];
      out[1] = row[1];
      out[2] = row[0];
    }
  }
  parts.context->Unmap(parts.staging.Get(), 0);
  return capture;
}

}  // namespace orvane::pc::windows
