// Small owners that release what a scope acquired when it ends, failure paths included: kernel
// handles, COM interface pointers and BSTRs. Copying is deleted. Any thread.
#pragma once
#include <windows.h>
#include <oleauto.h>

// A kernel handle, closed when the scope ends unless release() handed it on.
class ScopedHandle {
public:
  explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
  ~ScopedHandle() {
    if (handle_ && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return handle_; }
  // Gives the handle up to the caller, who closes it from then on.
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }

private:
  HANDLE handle_;
};

// One reference to a COM interface, released exactly once.
template <typename Interface>
class ComPtr {
public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  // For an out-parameter: releases what is held first.
  Interface** Receive() {
    Reset();
    return &pointer_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  void Reset() {
    if (pointer_) {
      pointer_->Release();
      pointer_ = nullptr;
    }
  }

private:
  Interface* pointer_ = nullptr;
};

// A BSTR allocated from a text and freed with SysFreeString; get() is null when the allocation
// failed.
class Bstr {
public:
  explicit Bstr(const wchar_t* text) : text_(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return text_; }

private:
  BSTR text_;
};
