// The socket library for the host name and local address, and downloads through the
// system's URL moniker.
//
// A download is watched by a status callback and a watchdog thread. The callback sees the
// progress reports on the calling thread: it stops a download that grows beyond the size
// limit or follows a redirect it may not follow. The watchdog stops a download that gets
// no answer in time or runs too long in all, through IBinding::Abort from its own thread:
// a server that accepts and then says nothing produces no reports at all, and the
// synchronous download's wait only dispatches the moniker's own messages, so a timer on
// the calling thread would not run before the download ended.
#include "platform/win32/win32_impl.h"

// These need windows.h before them.
#include <wininet.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "logic/ipv4_scope.h"
#include "platform/win32/redirect_rule.h"

namespace platform {

SocketSession::SocketSession() {
  WSADATA data;
  started_ = WSAStartup(0x0101, &data) == 0;
}

SocketSession::~SocketSession() {
  if (started_) WSACleanup();
}

bool SocketSession::host_name(std::string& name) const {
  char buffer[256];
  if (gethostname(buffer, sizeof(buffer)) != 0) return false;
  buffer[sizeof(buffer) - 1] = '\0';
  name = win32::from_ansi(buffer);
  return true;
}

bool SocketSession::first_ipv4(const std::string& name, std::string& dotted) const {
  const hostent* host = gethostbyname(win32::to_ansi(name).c_str());
  if (!host || host->h_addrtype != AF_INET || !host->h_addr_list || !host->h_addr_list[0])
    return false;
  in_addr address;
  memcpy(&address, host->h_addr_list[0], sizeof(address));
  dotted = win32::from_ansi(inet_ntoa(address));
  return true;
}

namespace {

// Set by the tests from one thread while workers download on others; never destroyed,
// for workers that outlive main().
std::mutex& limits_lock = *new std::mutex;
DownloadLimits& limits = *new DownloadLimits;

DownloadLimits current_limits() {
  std::lock_guard<std::mutex> hold(limits_lock);
  return limits;
}

// Resolves the host; `local` tells whether any of its addresses is local. False when the
// name does not resolve.
bool resolve(const std::string& host, bool& local) {
  WSADATA data;
  if (host.empty() || WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* found = nullptr;
  const bool ok = GetAddrInfoW(win32::widen(host).c_str(), nullptr, &hints, &found) == 0;
  local = false;
  for (const ADDRINFOW* a = ok ? found : nullptr; a; a = a->ai_next) {
    if (a->ai_family == AF_INET) {
      const auto* v4 = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
      local = local || shared::is_local_ipv4(ntohl(v4->sin_addr.s_addr));
    } else if (a->ai_family == AF_INET6) {
      const auto* v6 = reinterpret_cast<const sockaddr_in6*>(a->ai_addr);
      unsigned char bytes[16];
      memcpy(bytes, &v6->sin6_addr, sizeof(bytes));
      local = local || win32::local_ipv6(bytes);
    }
  }
  if (found) FreeAddrInfoW(found);
  WSACleanup();
  return ok;
}

// Also the HTTP negotiation: its OnResponse is the first sign of an answer that the system
// gives before a body arrives, so a server that answered and then stalls gets the total
// limit, not the connect limit.
class DownloadWatch final : public IBindStatusCallback, public IHttpNegotiate {
 public:
  DownloadWatch(const std::string& url, const DownloadLimits& limits)
      : limits_(limits), start_(GetTickCount64()), origin_(url) {}

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
      *out = static_cast<IBindStatusCallback*>(this);
      AddRef();
      return S_OK;
    }
    if (riid == IID_IHttpNegotiate) {
      *out = static_cast<IHttpNegotiate*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

  // IHttpNegotiate
  HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* extra) override {
    if (extra) *extra = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnResponse(DWORD, LPCWSTR, LPCWSTR, LPWSTR* extra) override {
    if (extra) *extra = nullptr;
    answered_ = true;
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
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG, ULONG status, LPCWSTR text) override {
    switch (status) {
      case BINDSTATUS_REDIRECTING:
        if (text) follow(text, true);
        break;
      // The moniker of some systems reports no redirect: a request to a new URL is one.
      // The binding runs ahead of these reports, so the URL it names now may be one or
      // more hops on: every request sent counts as well, and the first is no hop.
      case BINDSTATUS_SENDINGREQUEST:
        if (++requests_ > 1 && !win32::redirect_allowed(requests_ - 1, "http", true, true))
          stopped_ = true;
        follow(current_url(), false);
        break;
      case BINDSTATUS_CONNECTING:
        follow(current_url(), false);
        break;
      case BINDSTATUS_MIMETYPEAVAILABLE:
      case BINDSTATUS_BEGINDOWNLOADDATA:
      case BINDSTATUS_DOWNLOADINGDATA:
      case BINDSTATUS_ENDDOWNLOADDATA:
      case BINDSTATUS_CACHEFILENAMEAVAILABLE:
        answered_ = true;
        follow(current_url(), false);
        // A redirect that was not followed leaves its own empty answer, and an HTTP error
        // is no answer either; only a 2xx status is.
        check_status();
        if (progress > limits_.max_bytes) stopped_ = true;
        break;
      default:
        break;
    }
    if (over_time()) stopped_ = true;
    return stopped_ ? E_ABORT : S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (binding_) binding_->Release();
    binding_ = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO*) override {
    *flags = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  bool stopped() const { return stopped_; }
  bool status_ok() const { return status_ok_; }

  // Runs on the watchdog thread until `done` is signalled: stops the download once it
  // is over time, and keeps asking until the binding is there to be stopped.
  void watch(HANDLE done) {
    bool asked = false;
    for (;;) {
      const ULONGLONG now = GetTickCount64();
      ULONGLONG deadline = start_ + static_cast<ULONGLONG>(limits_.total_timeout_ms);
      if (!answered_)
        deadline = std::min(deadline, start_ + static_cast<ULONGLONG>(limits_.connect_timeout_ms));
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
  ~DownloadWatch() {
    if (binding_) binding_->Release();
  }

  bool over_time() const {
    const ULONGLONG elapsed = GetTickCount64() - start_;
    return elapsed > static_cast<ULONGLONG>(limits_.total_timeout_ms) ||
           (!answered_ && elapsed > static_cast<ULONGLONG>(limits_.connect_timeout_ms));
  }

  bool abort_binding() {
    IBinding* binding = nullptr;
    {
      std::lock_guard<std::mutex> hold(lock_);
      binding = binding_;
      if (binding) binding->AddRef();
    }
    if (!binding) return false;
    binding->Abort();
    binding->Release();
    return true;
  }

  // The URL the binding is fetching now, empty if it cannot tell.
  std::wstring current_url() {
    IWinInetInfo* info = nullptr;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!binding_ ||
          FAILED(binding_->QueryInterface(IID_IWinInetInfo, reinterpret_cast<void**>(&info))))
        return {};
    }
    wchar_t buffer[INTERNET_MAX_URL_LENGTH];
    DWORD size = sizeof(buffer);
    const HRESULT hr = info->QueryOption(INTERNET_OPTION_URL, buffer, &size);
    info->Release();
    if (FAILED(hr)) return {};
    buffer[INTERNET_MAX_URL_LENGTH - 1] = L'\0';
    return buffer;
  }

  // Stops the download on a status other than 2xx: a redirect the system did not follow
  // or an HTTP error. A 2xx status is remembered, since for a connection closed before
  // any status line came the system reports success all the same.
  void check_status() {
    IWinInetHttpInfo* info = nullptr;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!binding_ ||
          FAILED(binding_->QueryInterface(IID_IWinInetHttpInfo, reinterpret_cast<void**>(&info))))
        return;
    }
    DWORD code = 0, size = sizeof(code), flags = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER;
    const HRESULT hr = info->QueryInfo(flags, &code, &size, nullptr, nullptr);
    info->Release();
    if (FAILED(hr)) return;
    if (code >= 200 && code < 300) {
      status_ok_ = true;
    } else {
      stopped_ = true;
    }
  }

  // Counts and checks a move to `url`. The first URL the binding fetches is the one the
  // download began with, as the binding writes it. A reported redirect names the URL
  // before the request goes out; the request that follows it is the same hop.
  void follow(const std::wstring& url, bool reported) {
    if (url.empty() || url == last_url_) return;
    const bool first = last_url_.empty() && !reported;
    last_url_ = url;
    if (first) return;
    if (!reported && after_report_) {
      after_report_ = false;
      return;
    }
    after_report_ = reported;
    const win32::UrlParts parts = win32::url_parts(win32::narrow(url));
    bool local = false;
    const bool scheme_ok = parts.scheme == "http" || parts.scheme == "https";
    const bool resolved = scheme_ok && resolve(parts.host, local);
    if (!win32::redirect_allowed(++hops_, parts.scheme, origin_local(), local) || !resolved)
      stopped_ = true;
  }

  // Whether the first URL resolved to a local address; looked up at the first redirect
  // only, so that a download without one waits for no extra name lookup.
  bool origin_local() {
    if (origin_local_ < 0) {
      bool local = false;
      origin_local_ = resolve(win32::url_parts(origin_).host, local) && local;
    }
    return origin_local_ > 0;
  }

  LONG references_ = 1;
  const DownloadLimits limits_;
  const ULONGLONG start_;
  const std::string origin_;
  int origin_local_ = -1;  // not looked up yet
  std::mutex lock_;
  IBinding* binding_ = nullptr;  // under lock_
  std::atomic<bool> answered_{false};
  std::atomic<bool> stopped_{false};
  std::atomic<bool> status_ok_{false};
  // On the calling thread only.
  std::wstring last_url_;
  bool after_report_ = false;
  int hops_ = 0;
  int requests_ = 0;
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

bool download_to_file(const std::string& url, const std::string& path) {
  const DownloadLimits l = current_limits();
  const std::wstring target = win32::widen(path);
  const std::wstring part = part_file(target);
  if (part.empty()) return false;

  auto* watch = new DownloadWatch(url, l);
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
  const bool ok = hr == S_OK && !watch->stopped() && watch->status_ok() &&
                  size_within(part, l.max_bytes) &&
                  MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
  watch->Release();
  if (!ok) DeleteFileW(part.c_str());
  return ok;
}

}  // namespace platform
