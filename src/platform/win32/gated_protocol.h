// The system's HTTP and HTTPS protocols behind a gate, for URLDownloadToFileW. The moniker's
// HTTP and HTTPS protocols are registered again for this process, wrapped: the wrapper asks the
// system's protocol not to follow redirects itself and not to keep the reply in the download
// cache, two wishes URLDownloadToFileW does not pass on from our callback (not under Wine, at
// least). A 3xx then comes back from the protocol with its Location; the wrapper makes it
// absolute and asks the download, which resolves the new host and applies the shared
// redirect rule (logic/ipv4_scope.h). Only an allowed redirect reaches the moniker, which
// starts the protocol again for it, and the wrapper starts no request the download did not
// allow: a refused hop is never asked for, not even looked up by the system.
#pragma once

#include <string>

#include "platform/win32/win32_impl.h"

namespace platform::win32 {

// What the wrapped protocol asks of the download. Found through the binding's service
// provider, which reaches our status callback.
// {5B0C3A1E-6D2F-4E8B-9A41-3C7D2E10F4A9}
inline const IID kGateIid = {
    0x5b0c3a1e, 0x6d2f, 0x4e8b, {0x9a, 0x41, 0x3c, 0x7d, 0x2e, 0x10, 0xf4, 0xa9}};
struct Gate : IUnknown {
  // A request for `url` is about to be made by `protocol`: the download's first, or the
  // redirect it allowed last. Anything else is refused. The download may abort `protocol`
  // from any thread until the binding stops.
  virtual bool may_start(const wchar_t* url, IInternetProtocol* protocol) = 0;
  // The reply redirects to `next`, an absolute URL: whether the download may follow.
  virtual bool may_follow(const std::wstring& next) = 0;
  // The system followed a redirect on its own, unchecked: the download fails.
  virtual void bypassed() = 0;
};

// Registers the gated protocols for this process, once; false when the system refused,
// and then no download may start.
bool gated_protocols_registered();

}  // namespace platform::win32
