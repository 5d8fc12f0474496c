#include "platform/win32/gated_protocol.h"

// wininet.h needs windows.h before it.
#include <wininet.h>

#include <algorithm>
#include <cstddef>

namespace platform::win32 {

namespace {

// `location` of a reply to `base`, made absolute; empty when it cannot be.
std::wstring absolute_url(const wchar_t* base, const wchar_t* location) {
  if (!base || !location) return {};
  wchar_t buffer[INTERNET_MAX_URL_LENGTH];
  DWORD length = 0;
  if (FAILED(CoInternetCombineUrl(base, location, 0, buffer, INTERNET_MAX_URL_LENGTH, &length, 0)))
    return {};
  return std::wstring(buffer, std::min<DWORD>(length, INTERNET_MAX_URL_LENGTH));
}

// The binding's sink as the system's protocol sees it. A redirect the protocol gives back
// (it is asked not to follow any) is put to the gate before the binding may start the next
// request, and reaches the binding with an absolute Location only when the gate allows it.
class Sink final : public IInternetProtocolSink {
 public:
  Sink(IInternetProtocolSink* inner, Gate* gate, const wchar_t* url)
      : inner_(inner), gate_(gate), url_(url) {
    inner_->AddRef();
    gate_->AddRef();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IInternetProtocolSink) {
      *out = static_cast<IInternetProtocolSink*>(this);
      AddRef();
      return S_OK;
    }
    return inner_->QueryInterface(riid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Switch(PROTOCOLDATA* data) override { return inner_->Switch(data); }
  HRESULT STDMETHODCALLTYPE ReportProgress(ULONG status, LPCWSTR text) override {
    if (status == BINDSTATUS_REDIRECTING) gate_->bypassed();
    return inner_->ReportProgress(status, text);
  }
  HRESULT STDMETHODCALLTYPE ReportData(DWORD flags, ULONG progress, ULONG max) override {
    return inner_->ReportData(flags, progress, max);
  }
  HRESULT STDMETHODCALLTYPE ReportResult(HRESULT result, DWORD error, LPCWSTR text) override {
    if (result != INET_E_REDIRECT_FAILED) return inner_->ReportResult(result, error, text);
    const std::wstring next = absolute_url(url_.c_str(), text);
    if (next.empty() || !gate_->may_follow(next))
      return inner_->ReportResult(INET_E_DOWNLOAD_FAILURE, error, nullptr);
    return inner_->ReportResult(result, error, next.c_str());
  }

 private:
  ~Sink() {
    gate_->Release();
    inner_->Release();
  }
  LONG references_ = 1;
  IInternetProtocolSink* const inner_;
  Gate* const gate_;
  const std::wstring url_;
};

// The system's bind information with two changes: no automatic redirect, no cache.
class BindInfo final : public IInternetBindInfo {
 public:
  explicit BindInfo(IInternetBindInfo* inner) : inner_(inner) { inner_->AddRef(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IInternetBindInfo) {
      *out = static_cast<IInternetBindInfo*>(this);
      AddRef();
      return S_OK;
    }
    return inner_->QueryInterface(riid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override {
    const HRESULT hr = inner_->GetBindInfo(flags, info);
    if (FAILED(hr)) return hr;
    *flags |=
        BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE | BINDF_RESYNCHRONIZE;
    if (info && info->cbSize >= offsetof(BINDINFO, dwOptions) + sizeof(info->dwOptions))
      info->dwOptions |= BINDINFO_OPTIONS_DISABLEAUTOREDIRECTS;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetBindString(ULONG type, LPOLESTR* strings, ULONG count,
                                          ULONG* fetched) override {
    return inner_->GetBindString(type, strings, count, fetched);
  }

 private:
  ~BindInfo() { inner_->Release(); }
  LONG references_ = 1;
  IInternetBindInfo* const inner_;
};

// The system's protocol behind the gate; everything else is passed through.
class GatedProtocol final : public IInternetProtocol {
 public:
  explicit GatedProtocol(IInternetProtocol* inner) : inner_(inner) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IInternetProtocolRoot ||
        riid == IID_IInternetProtocol) {
      *out = static_cast<IInternetProtocol*>(this);
      AddRef();
      return S_OK;
    }
    if (riid == IID_IInternetProtocolEx) {  // Start is where the gate is
      *out = nullptr;
      return E_NOINTERFACE;
    }
    return inner_->QueryInterface(riid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Start(LPCWSTR url, IInternetProtocolSink* sink,
                                  IInternetBindInfo* bind_info, DWORD flags,
                                  HANDLE_PTR reserved) override {
    Gate* gate = sink && bind_info && url ? gate_of(sink) : nullptr;
    if (!gate) return E_ABORT;  // not one of our downloads
    HRESULT hr = E_ABORT;
    if (gate->may_start(url, this)) {
      auto* gated_sink = new Sink(sink, gate, url);
      auto* info = new BindInfo(bind_info);
      hr = inner_->Start(url, gated_sink, info, flags, reserved);
      info->Release();
      gated_sink->Release();
    }
    gate->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Continue(PROTOCOLDATA* data) override { return inner_->Continue(data); }
  HRESULT STDMETHODCALLTYPE Abort(HRESULT reason, DWORD options) override {
    return inner_->Abort(reason, options);
  }
  HRESULT STDMETHODCALLTYPE Terminate(DWORD options) override { return inner_->Terminate(options); }
  HRESULT STDMETHODCALLTYPE Suspend() override { return inner_->Suspend(); }
  HRESULT STDMETHODCALLTYPE Resume() override { return inner_->Resume(); }
  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override {
    return inner_->Read(buffer, size, read);
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                 ULARGE_INTEGER* position) override {
    return inner_->Seek(move, origin, position);
  }
  HRESULT STDMETHODCALLTYPE LockRequest(DWORD options) override {
    return inner_->LockRequest(options);
  }
  HRESULT STDMETHODCALLTYPE UnlockRequest() override { return inner_->UnlockRequest(); }

 private:
  ~GatedProtocol() { inner_->Release(); }

  static Gate* gate_of(IInternetProtocolSink* sink) {
    IServiceProvider* services = nullptr;
    if (FAILED(sink->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&services))))
      return nullptr;
    Gate* gate = nullptr;
    if (FAILED(services->QueryService(kGateIid, kGateIid, reinterpret_cast<void**>(&gate))))
      gate = nullptr;
    services->Release();
    return gate;
  }

  LONG references_ = 1;
  IInternetProtocol* const inner_;
};

class GatedFactory final : public IClassFactory {
 public:
  explicit GatedFactory(const CLSID& system) : system_(system) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Lives as long as the process.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    IInternetProtocol* inner = system_protocol();
    if (!inner) return E_FAIL;
    auto* gated = new GatedProtocol(inner);
    const HRESULT hr = gated->QueryInterface(riid, out);
    gated->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  // urlmon's own class object, asked directly, so that no COM apartment is needed.
  IInternetProtocol* system_protocol() const {
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    const auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"urlmon.dll"), "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    if (!get || FAILED(get(system_, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
      return nullptr;
    IInternetProtocol* protocol = nullptr;
    if (FAILED(factory->CreateInstance(nullptr, IID_IInternetProtocol,
                                       reinterpret_cast<void**>(&protocol))))
      protocol = nullptr;
    factory->Release();
    return protocol;
  }

  const CLSID system_;
};

}  // namespace

bool gated_protocols_registered() {
  static GatedFactory http(CLSID_HttpProtocol), https(CLSID_HttpSProtocol);
  static const bool registered = [] {
    IInternetSession* session = nullptr;
    if (FAILED(CoInternetGetSession(0, &session, 0)) || !session) return false;
    const bool ok =
        SUCCEEDED(session->RegisterNameSpace(&http, CLSID_HttpProtocol, L"http", 0, nullptr, 0)) &&
        SUCCEEDED(session->RegisterNameSpace(&https, CLSID_HttpSProtocol, L"https", 0, nullptr, 0));
    session->Release();
    return ok;
  }();
  return registered;
}

}  // namespace platform::win32
