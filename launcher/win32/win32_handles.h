// Owners of the Windows objects that the launcher opens: kernel handles,
// GDI objects and device contexts, shell item lists and the COM apartment.
// Each releases its object exactly once, in its destructor, and can be moved
// but not copied.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <utility>

namespace tremcvt::win32 {

template <typename T, T kEmpty, typename Release>
class UniqueObject {
public:
    UniqueObject() = default;
    explicit UniqueObject(T object) : object_(object) {}
    ~UniqueObject() { reset(); }
    UniqueObject(UniqueObject&& other) noexcept : object_(std::exchange(other.object_, kEmpty)) {}
    UniqueObject& operator=(UniqueObject&& other) noexcept
    {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, kEmpty);
        }
        return *this;
    }
    UniqueObject(const UniqueObject&) = delete;
    UniqueObject& operator=(const UniqueObject&) = delete;

    T get() const { return object_; }
    explicit operator bool() const { return object_ != kEmpty; }
    T release() { return std::exchange(object_, kEmpty); }
    void reset(T object = kEmpty)
    {
        if (object_ != kEmpty) Release{}(object_);
        object_ = object;
    }

private:
    T object_ = kEmpty;
};

struct CloseHandleCall {
    void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
struct DeleteObjectCall {
    void operator()(HGDIOBJ object) const { ::DeleteObject(object); }
};
struct DeleteDcCall {
    void operator()(HDC dc) const { ::DeleteDC(dc); }
};
struct CoTaskMemFreeCall {
    void operator()(PIDLIST_ABSOLUTE list) const { ::CoTaskMemFree(list); }
};

// A kernel handle: process, thread, pipe end, file. Functions that fail
// with INVALID_HANDLE_VALUE (CreateFile) are stored as empty by the caller.
using UniqueHandle = UniqueObject<HANDLE, nullptr, CloseHandleCall>;
// A GDI object made by the launcher (bitmap, font, brush).
using UniqueGdiObject = UniqueObject<HGDIOBJ, nullptr, DeleteObjectCall>;
// A memory device context made with CreateCompatibleDC.
using UniqueMemoryDc = UniqueObject<HDC, nullptr, DeleteDcCall>;
// An item list returned by the shell's folder browser.
using UniqueItemList = UniqueObject<PIDLIST_ABSOLUTE, nullptr, CoTaskMemFreeCall>;

// Puts a GDI object into a device context and takes it out again.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~SelectedObject() { ::SelectObject(dc_, previous_); }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// The single-threaded COM apartment that the shell's folder browser needs,
// entered for the life of the object.
class ComApartment {
public:
    ComApartment() : entered_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment()
    {
        if (entered_) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool entered_;
};

}  // namespace tremcvt::win32
