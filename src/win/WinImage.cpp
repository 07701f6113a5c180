#include "win/WinImage.h"

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace sk::win {
namespace {

// Releases a COM interface when it goes.
template <typename T>
struct Com {
  T* p = nullptr;
  ~Com() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
  T** operator&() { return &p; }
};

void Check(HRESULT hr, const char* step) {
  if (SUCCEEDED(hr)) return;
  char text[96];
  std::snprintf(text, sizeof text, "%s (0x%08lX)", step, static_cast<unsigned long>(hr));
  throw std::runtime_error(text);
}

// COM for this thread for as long as it lives (a thread that has it already
// keeps it).
struct ComApartment {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ~ComApartment() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
};

}  // namespace

std::string EncodePng(const void* pixels, int width, int height, int stride) {
  ComApartment apartment;
  Com<IWICImagingFactory> factory;
  Check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                         reinterpret_cast<void**>(&factory)),
        "WIC");
  Com<IStream> stream;
  Check(CreateStreamOnHGlobal(nullptr, TRUE, &stream), "CreateStreamOnHGlobal");
  Com<IWICBitmapEncoder> encoder;
  Check(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder), "PNG encoder");
  Check(encoder->Initialize(stream.p, WICBitmapEncoderNoCache), "PNG encoder");
  Com<IWICBitmapFrameEncode> frame;
  Check(encoder->CreateNewFrame(&frame, nullptr), "PNG frame");
  Check(frame->Initialize(nullptr), "PNG frame");
  Check(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height)), "PNG size");
  // Three bytes a pixel, the format every PNG encoder takes.
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  Check(frame->SetPixelFormat(&format), "PNG pixel format");
  if (!IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) Check(E_NOTIMPL, "PNG pixel format");
  const size_t rowBytes = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
  std::vector<BYTE> rows(rowBytes * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    const BYTE* from = static_cast<const BYTE*>(pixels) + static_cast<size_t>(y) * static_cast<size_t>(stride);
    BYTE* to = rows.data() + static_cast<size_t>(y) * rowBytes;
    for (int x = 0; x < width; ++x, from += 4, to += 3) {
      to[0] = from[0];
      to[1] = from[1];
      to[2] = from[2];
    }
  }
  Check(frame->WritePixels(static_cast<UINT>(height), static_cast<UINT>(rowBytes), static_cast<UINT>(rows.size()),
                           rows.data()),
        "PNG pixels");
  Check(frame->Commit(), "PNG frame");
  Check(encoder->Commit(), "PNG");

  STATSTG stat{};
  Check(stream->Stat(&stat, STATFLAG_NONAME), "PNG size");
  HGLOBAL memory = nullptr;
  Check(GetHGlobalFromStream(stream.p, &memory), "PNG memory");
  const void* bytes = GlobalLock(memory);
  if (!bytes) Check(E_OUTOFMEMORY, "PNG memory");
  std::string png(static_cast<const char*>(bytes), static_cast<size_t>(stat.cbSize.QuadPart));
  GlobalUnlock(memory);
  return png;
}

}  // namespace sk::win
