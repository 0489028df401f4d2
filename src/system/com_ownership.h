// Small owners for COM interface pointers and BSTRs, released when their scope ends. Used by the
// Task Scheduler code on the user-interface thread.
#pragma once
#include <windows.h>
#include <oleauto.h>

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
