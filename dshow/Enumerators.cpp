#include "dshow/Enumerators.h"

#include "dshow/CaptureFilter.h"

#include <atomic>

namespace tovira::dshow {

namespace {

// The shared part of both enumerators: a position over a fixed list of `count` items.
template <class Interface, class Item> class ListEnumerator : public Interface {
public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == __uuidof(Interface)) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP Next(ULONG count, Item** items, ULONG* fetched) override {
    if (!items || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    while (n < count && position_ < size()) items[n++] = itemAt(position_++);
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    if (count > size() - position_) {
      position_ = size();
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }

protected:
  ListEnumerator() { ++g_serverReferences; }
  virtual ~ListEnumerator() { --g_serverReferences; }
  virtual ULONG size() const = 0;
  virtual Item* itemAt(ULONG i) const = 0;
  ULONG position_ = 0;

private:
  std::atomic<ULONG> references_{1};
};

class PinEnumerator final : public ListEnumerator<IEnumPins, IPin> {
public:
  PinEnumerator(IBaseFilter* filter, IPin* pin) : filter_(filter), pin_(pin) {}
  STDMETHODIMP Clone(IEnumPins** out) override {
    if (!out) return E_POINTER;
    auto* copy = new (std::nothrow) PinEnumerator(filter_.get(), pin_);
    if (!copy) return E_OUTOFMEMORY;
    copy->position_ = position_;
    *out = copy;
    return S_OK;
  }

private:
  ULONG size() const override { return 1; }
  IPin* itemAt(ULONG) const override {
    pin_->AddRef();
    return pin_;
  }
  ComPtr<IBaseFilter> filter_;  // keeps the pin alive
  IPin* pin_;
};

class MediaTypeEnumerator final : public ListEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE> {
public:
  bool init(const std::vector<AM_MEDIA_TYPE>& types) {
    types_.reserve(types.size());
    for (const AM_MEDIA_TYPE& t : types) {
      AM_MEDIA_TYPE copy;
      if (FAILED(copyMediaType(&copy, &t))) return false;
      types_.push_back(copy);
    }
    return true;
  }
  ~MediaTypeEnumerator() override {
    for (AM_MEDIA_TYPE& t : types_) freeMediaType(t);
  }
  STDMETHODIMP Clone(IEnumMediaTypes** out) override {
    if (!out) return E_POINTER;
    auto* copy = new (std::nothrow) MediaTypeEnumerator;
    if (!copy) return E_OUTOFMEMORY;
    if (!copy->init(types_)) {
      copy->Release();
      return E_OUTOFMEMORY;
    }
    copy->position_ = position_;
    *out = copy;
    return S_OK;
  }

private:
  ULONG size() const override { return ULONG(types_.size()); }
  AM_MEDIA_TYPE* itemAt(ULONG i) const override { return newMediaType(types_[i]); }
  std::vector<AM_MEDIA_TYPE> types_;
};

} // namespace

HRESULT createPinEnumerator(IBaseFilter* filter, IPin* pin, IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) PinEnumerator(filter, pin);
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT createMediaTypeEnumerator(const std::vector<AM_MEDIA_TYPE>& types, IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  auto* e = new (std::nothrow) MediaTypeEnumerator;
  if (!e) return E_OUTOFMEMORY;
  if (!e->init(types)) {
    e->Release();
    return E_OUTOFMEMORY;
  }
  *out = e;
  return S_OK;
}

} // namespace tovira::dshow
