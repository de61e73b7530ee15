#include "platform/win32/picture.h"

#include "platform/forms.h"
#include "platform/win32/com.h"
#include "platform/win32/os_win32.h"

#include <wincodec.h>

namespace platform::win32 {

namespace {

void Check(HRESULT result, const wchar_t* operation)
{
    if (FAILED(result)) {
        throw Failure(operation, L"the picture", ErrorText(static_cast<DWORD>(result)));
    }
}

Bitmap Decode(const BYTE* data, DWORD length, SIZE& size, decltype(&::CoCreateInstance) createInstance)
{
    ComPtr<IWICImagingFactory> factory;
    Check(createInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                         reinterpret_cast<void**>(factory.put())),
          L"Starting the decoder for");
    ComPtr<IWICStream> stream;
    Check(factory->CreateStream(stream.put()), L"Reading");
    Check(stream->InitializeFromMemory(const_cast<BYTE*>(data), length), L"Reading"); // only read
    ComPtr<IWICBitmapDecoder> decoder;
    Check(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, decoder.put()),
          L"Decoding");
    ComPtr<IWICBitmapFrameDecode> frame;
    Check(decoder->GetFrame(0, frame.put()), L"Decoding");
    ComPtr<IWICFormatConverter> converter;
    Check(factory->CreateFormatConverter(converter.put()), L"Converting");
    Check(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, nullptr, 0.0,
                                WICBitmapPaletteTypeCustom),
          L"Converting");
    UINT width = 0;
    UINT height = 0;
    Check(converter->GetSize(&width, &height), L"Measuring");

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height); // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    Bitmap bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap) {
        ThrowLastError(L"Creating", L"the picture's bitmap");
    }
    Check(converter->CopyPixels(nullptr, width * 4, width * height * 4, static_cast<BYTE*>(bits)), L"Copying");
    size = {static_cast<LONG>(width), static_cast<LONG>(height)};
    return bitmap;
}

} // namespace

PictureLoad::PictureLoad(HINSTANCE instance, int resource)
{
    HRSRC found = ::FindResourceW(instance, MAKEINTRESOURCEW(resource), MAKEINTRESOURCEW(10)); // RT_RCDATA
    HGLOBAL loaded = found != nullptr ? ::LoadResource(instance, found) : nullptr;
    if (loaded == nullptr) {
        ThrowLastError(L"Loading", L"the picture resource");
    }
    data_ = static_cast<const BYTE*>(::LockResource(loaded));
    length_ = ::SizeofResource(instance, found);
    thread_ = std::thread([this] {
        try {
            const Library ole32 = LoadSystemLibrary(L"ole32.dll");
            const auto initialize = LibraryFunction<decltype(&::CoInitializeEx)>(ole32, "CoInitializeEx");
            const auto uninitialize = LibraryFunction<decltype(&::CoUninitialize)>(ole32, "CoUninitialize");
            const auto createInstance = LibraryFunction<decltype(&::CoCreateInstance)>(ole32, "CoCreateInstance");
            Check(initialize(nullptr, COINIT_MULTITHREADED), L"Starting COM for");
            try {
                bitmap_ = Decode(data_, length_, size_, createInstance);
            } catch (...) {
                failure_ = std::current_exception();
            }
            uninitialize();
        } catch (...) {
            failure_ = std::current_exception();
        }
    });
}

PictureLoad::~PictureLoad()
{
    if (thread_.joinable()) {
        thread_.join();
    }
}

Bitmap PictureLoad::Take(SIZE& size)
{
    if (thread_.joinable()) {
        thread_.join();
    }
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    size = size_;
    return std::move(bitmap_);
}

} // namespace platform::win32
