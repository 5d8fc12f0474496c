// Downloads through the system's URL moniker, URLDownloadToFileW.
//
// Every request of a download passes the gate of gated_protocol.h before it is made: a
// redirect is checked against the shared rule (logic/ipv4_scope.h), with the new host
// resolved here, before the system looks it up or connects.
//
// A status callback and a watchdog thread watch the download. The callback sees the
// progress reports on the calling thread and stops a download that grows beyond the size
// limit. The watchdog stops a request that gets no answer in time, or a download that runs
// too long in all, through IBinding::Abort from its own thread: a server that accepts and
// then says nothing produces no reports at all, and the synchronous download's wait only
// dispatches the moniker's own messages, so a timer on the calling thread would not run.
#include "platform/win32/win32_impl.h"

// These need windows.h before them.
#include <iphlpapi.h>
#include <wininet.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cwchar>
#include <mutex>
#include <thread>
#include <vector>

#include "logic/ipv4_scope.h"
#include "platform/win32/gated_protocol.h"

namespace platform {

namespace {

// Set by the tests from one thread while workers download on others; never destroyed,
// for workers that outlive main().
std::mutex& limits_lock = *new std::mutex;
DownloadLimits& limits = *new DownloadLimits;

DownloadLimits current_limits() {
  std::lock_guard<std::mutex> hold(limits_lock);
  return limits;
}

shared::IpAddress from_sockaddr(const sockaddr* a) {
  if (a->sa_family == AF_INET)
    return shared::ipv4_mapped(ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr));
  shared::IpAddress bytes{};
  memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, bytes.size());
  return bytes;
}

// Every address the host resolves to, IPv4 and IPv6; none when it does not resolve.
std::vector<shared::IpAddress> resolve(const std::string& host) {
  std::vector<shared::IpAddress> found;
  WSADATA data;
  if (host.empty() || WSAStartup(MAKEWORD(2, 2), &data) != 0) return found;
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* list = nullptr;
  if (GetAddrInfoW(win32::widen(host).c_str(), nullptr, &hints, &list) == 0) {
    for (const ADDRINFOW* a = list; a; a = a->ai_next)
      if (a->ai_family == AF_INET || a->ai_family == AF_INET6)
        found.push_back(from_sockaddr(a->ai_addr));
    FreeAddrInfoW(list);
  }
  WSACleanup();
  return found;
}

// The unicast addresses of the machine's own interfaces.
std::vector<shared::IpAddress> own_addresses() {
  std::vector<shared::IpAddress> own;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    rc = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                              reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (rc != NO_ERROR) return own;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
       adapter = adapter->Next)
    for (auto* u = adapter->FirstUnicastAddress; u; u = u->Next)
      if (u->Address.lpSockaddr->sa_family == AF_INET ||
          u->Address.lpSockaddr->sa_family == AF_INET6)
        own.push_back(from_sockaddr(u->Address.lpSockaddr));
  return own;
}

// The value of header `name` in `block`, the header lines of an answer ("Name: value" and
// CR LF each, the status line first), in ASCII and with the blanks around it trimmed; empty
// when the answer has none.
std::string header_value(const wchar_t* block, const wchar_t* name) {
  if (!block) return {};
  const std::size_t length = wcslen(name);
  for (const wchar_t* line = block; *line;) {
    const wchar_t* end = line + wcscspn(line, L"\r\n");
    if (static_cast<std::size_t>(end - line) > length && line[length] == L':' &&
        _wcsnicmp(line, name, length) == 0) {
      std::string value;
      for (const wchar_t* c = line + length + 1; c < end; ++c)
        value += *c < 0x80 ? static_cast<char>(*c) : '?';
      const std::size_t first = value.find_first_not_of(" \t");
      if (first == std::string::npos) return {};
      return value.substr(first, value.find_last_not_of(" \t") - first + 1);
    }
    line = end + wcsspn(end, L"\r\n");
  }
  return {};
}

// The status callback of one download, and its gate. OnResponse of the HTTP negotiation is
// the first sign of an answer the system gives before a body arrives, so a server that
// answered and then stalls gets the total limit, not the connect limit.
class DownloadWatch final : public IBindStatusCallback, public IHttpNegotiate, public win32::Gate {
 public:
  explicit DownloadWatch(const DownloadLimits& limits)
      : limits_(limits), start_(GetTickCount64()), request_start_(start_) {}

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IBindStatusCallback)
      *out = static_cast<IBindStatusCallback*>(this);
    else if (riid == IID_IHttpNegotiate)
      *out = static_cast<IHttpNegotiate*>(this);
    else if (riid == win32::kGateIid)
      *out = static_cast<win32::Gate*>(this);
    else
      *out = nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

  // Gate: the first request is the URL the download was given; each later one must be the
  // redirect allowed last, checked against the rule before the system looks up the new
  // host or connects.
  bool may_start(const wchar_t* url, IInternetProtocol* protocol) override {
    std::lock_guard<std::mutex> hold(hops_lock_);
    if (stopped_ || !(urls_.empty() || follow_allowed_)) {
      stopped_ = true;
      return false;
    }
    {
      std::lock_guard<std::mutex> hold_binding(lock_);
      if (request_) request_->Release();
      request_ = protocol;
      request_->AddRef();
    }
    if (urls_.empty()) origin_host_ = shared::url_parts(win32::narrow(url)).host;
    urls_.push_back(url);
    follow_allowed_ = false;
    request_start_ = GetTickCount64();
    answered_ = false;
    return true;
  }
  bool may_follow(const std::wstring& next) override {
    std::lock_guard<std::mutex> hold(hops_lock_);
    const int hop = ++hops_;
    // The origin and the machine's own addresses are looked up at the first redirect only,
    // so that a download without one waits for no extra lookup.
    if (hop == 1) {
      origin_ = resolve(origin_host_);
      own_ = own_addresses();
    }
    const shared::UrlParts parts = shared::url_parts(win32::narrow(next));
    const std::vector<shared::IpAddress> target =
        hop <= shared::kMaxRedirects && shared::followed_scheme(parts.scheme)
            ? resolve(parts.host)
            : std::vector<shared::IpAddress>{};
    follow_allowed_ =
        !stopped_ && shared::redirect_allowed(hop, parts.scheme, origin_, target, own_);
    if (!follow_allowed_) stopped_ = true;
    return follow_allowed_;
  }
  void bypassed() override { stopped_ = true; }

  // IHttpNegotiate
  HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* extra) override {
    if (extra) *extra = nullptr;
    return S_OK;
  }
  // Only a 2xx status is an answer: an HTTP error or a redirect the system did not give
  // back to the moniker is not. A connection closed before any status line gets here never.
  HRESULT STDMETHODCALLTYPE OnResponse(DWORD code, LPCWSTR headers, LPCWSTR,
                                       LPWSTR* extra) override {
    if (extra) *extra = nullptr;
    answered_ = true;
    status_ok_ = code >= 200 && code < 300;
    if (!status_ok_) stopped_ = true;
    std::lock_guard<std::mutex> hold(lock_);
    reply_.status = static_cast<int>(code);
    reply_.retry_after = header_value(headers, L"Retry-After");
    return S_OK;
  }

  // IBindStatusCallback
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (binding_) binding_->Release();
    binding_ = binding;
    if (binding_) binding_->AddRef();
    return stopped_ ? E_ABORT : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG, ULONG status, LPCWSTR) override {
    switch (status) {
      case BINDSTATUS_MIMETYPEAVAILABLE:
      case BINDSTATUS_BEGINDOWNLOADDATA:
      case BINDSTATUS_DOWNLOADINGDATA:
      case BINDSTATUS_ENDDOWNLOADDATA:
      case BINDSTATUS_CACHEFILENAMEAVAILABLE:
        answered_ = true;
        if (progress > limits_.max_bytes) stopped_ = true;
        break;
      default:
        break;
    }
    if (over_time()) stopped_ = true;
    return stopped_ ? E_ABORT : S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override {
    let_go();
    return S_OK;
  }
  // Asked for what URLDownloadToFileW may not pass on (see the top of this file).
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override {
    *flags = BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE;
    if (info && info->cbSize >= offsetof(BINDINFO, dwOptions) + sizeof(info->dwOptions))
      info->dwOptions |= BINDINFO_OPTIONS_DISABLEAUTOREDIRECTS;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  // Lets go of the binding and its request, which hold this callback in turn; done when
  // the binding stops and again once the download returned, in case it never said so.
  void let_go() {
    std::lock_guard<std::mutex> hold(lock_);
    if (binding_) binding_->Release();
    if (request_) request_->Release();
    binding_ = nullptr;
    request_ = nullptr;
  }

  bool stopped() const { return stopped_; }
  DownloadReply reply() {
    std::lock_guard<std::mutex> hold(lock_);
    return reply_;
  }
  bool status_ok() const { return status_ok_; }
  // Every URL a request was made for, for the cache entries to remove.
  std::vector<std::wstring> urls() {
    std::lock_guard<std::mutex> hold(hops_lock_);
    return urls_;
  }

  // Runs on the watchdog thread until `done` is signalled: stops the download once it
  // is over time, and keeps asking until the binding is there to be stopped.
  void watch(HANDLE done) {
    bool asked = false;
    for (;;) {
      const ULONGLONG now = GetTickCount64();
      const ULONGLONG deadline = this->deadline();
      if (now >= deadline) {
        stopped_ = true;
        if (asked) break;
        asked = abort_binding();
      }
      const DWORD wait =
          now >= deadline ? 50 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 1000));
      if (WaitForSingleObject(done, wait) == WAIT_OBJECT_0) return;
    }
    WaitForSingleObject(done, INFINITE);
  }

 private:
  ~DownloadWatch() { let_go(); }

  // The total limit for the download, the connect limit for each request until it answers.
  ULONGLONG deadline() const {
    const ULONGLONG total = start_ + static_cast<ULONGLONG>(limits_.total_timeout_ms);
    if (answered_) return total;
    return std::min(total, request_start_ + static_cast<ULONGLONG>(limits_.connect_timeout_ms));
  }
  bool over_time() const { return GetTickCount64() >= deadline(); }

  // The binding and its current request both: after a redirect, Wine's binding no longer
  // passes an abort on to the request.
  bool abort_binding() {
    IBinding* binding = nullptr;
    IInternetProtocol* request = nullptr;
    {
      std::lock_guard<std::mutex> hold(lock_);
      binding = binding_;
      request = request_;
      if (binding) binding->AddRef();
      if (request) request->AddRef();
    }
    if (request) {
      request->Abort(E_ABORT, 0);
      request->Release();
    }
    if (!binding) return false;
    binding->Abort();
    binding->Release();
    return true;
  }

  LONG references_ = 1;
  const DownloadLimits limits_;
  const ULONGLONG start_;
  std::atomic<ULONGLONG> request_start_;
  std::mutex lock_;
  IBinding* binding_ = nullptr;           // under lock_
  IInternetProtocol* request_ = nullptr;  // under lock_
  DownloadReply reply_;                   // under lock_
  std::atomic<bool> answered_{false};
  std::atomic<bool> stopped_{false};
  std::atomic<bool> status_ok_{false};
  std::mutex hops_lock_;  // guards what follows
  std::vector<std::wstring> urls_;
  int hops_ = 0;
  bool follow_allowed_ = false;
  std::string origin_host_;
  std::vector<shared::IpAddress> origin_, own_;
};

// A new, empty file beside `path` for the download, so that a failed download leaves
// whatever `path` held; empty when none can be made.
std::wstring part_file(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  const std::wstring dir = slash == std::wstring::npos ? L"." : path.substr(0, slash + 1);
  wchar_t name[MAX_PATH];
  if (!GetTempFileNameW(dir.c_str(), L"adr", 0, name)) return {};
  return name;
}

bool size_within(const std::wstring& file, std::size_t max_bytes) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return false;
  const unsigned long long size =
      (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return size <= max_bytes;
}

}  // namespace

void set_download_limits(const DownloadLimits& l) {
  std::lock_guard<std::mutex> hold(limits_lock);
  limits = l;
}

bool download_to_file(const std::string& url, const std::string& path, DownloadReply* reply) {
  if (reply) *reply = {};
  if (!win32::gated_protocols_registered()) return false;
  const DownloadLimits l = current_limits();
  const std::wstring target = win32::widen(path);
  const std::wstring part = part_file(target);
  if (part.empty()) return false;

  auto* watch = new DownloadWatch(l);
  const HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!done) {
    watch->Release();
    DeleteFileW(part.c_str());
    return false;
  }
  watch->AddRef();
  std::thread watchdog([watch, done] {
    watch->watch(done);
    watch->Release();
  });
  const HRESULT hr = URLDownloadToFileW(nullptr, win32::widen(url).c_str(), part.c_str(), 0, watch);
  SetEvent(done);
  watchdog.join();
  CloseHandle(done);
  watch->let_go();
  // URLDownloadToFileW copies the reply from a cache file the system insists on; the entry
  // goes as soon as the copy is made. A download stopped part-way may still have its entry
  // written by the system's own thread after that, so the entries are removed again a few
  // times over a quarter of a second.
  const bool stopped_early = hr != S_OK || watch->stopped();
  for (int pass = 0; pass <= (stopped_early ? 5 : 0); ++pass) {
    if (pass > 0) Sleep(50);
    for (const std::wstring& fetched : watch->urls()) DeleteUrlCacheEntryW(fetched.c_str());
  }
  const bool ok = hr == S_OK && !watch->stopped() && watch->status_ok() &&
                  size_within(part, l.max_bytes) &&
                  MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
  if (reply) *reply = watch->reply();
  watch->Release();
  if (!ok) DeleteFileW(part.c_str());
  return ok;
}

}  // namespace platform
