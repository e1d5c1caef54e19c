#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

// How the agent reaches the management server.
struct THttpClientOptions {
  std::string CaFile;      // PEM bundle of trusted CAs; "" for the system's store
  std::string ClientCert;  // PEM client certificate for mutual TLS; "" for none
  std::string ClientKey;   // its PEM key; required with ClientCert
  bool AllowInsecureHttp = false;  // http:// URLs are refused without it (tests only)
  int32_t TimeoutMs = 0;           // the bound of a whole request; 0 for CTimeoutSeconds (tests shorten it)
};

// A PUT's body, read piece by piece so that a large one is never held whole. Read fills ABuffer
// with the bytes from AOffset on (libcurl starts over at 0 for a redirect or a resend) and says how
// many it gave; false gives the request up.
struct TUploadBody {
  uint64_t Size = 0;
  std::function<bool(uint64_t AOffset, std::span<char> ABuffer, std::size_t& ARead)> Read;
};

// What one request came to.
struct THttpResult {
  enum class TKind {
    Response,      // the server answered: Status holds its code
    NetworkError,  // no answer (resolve, connect, TLS, timeout, a broken transfer): Error says which
    Refused,       // not sent or not read on: an insecure URL, a redirect to http, a document over the limit
  };
  TKind Kind = TKind::NetworkError;
  int32_t Status = 0;  // the HTTP status code of a response
  std::string Body;    // a response's body (GET only)
  std::string ETag;    // a response's ETag header, as sent (quotes included); "" when none
  std::string ContentType;  // a response's Content-Type header, as sent; "" when none
  std::string Error;   // for the log: curl's text, or why the request was refused

  bool Ok() const { return Kind == TKind::Response && Status >= 200 && Status < 300; }
  // Worth trying again later: no answer, a server error, 408 or 429. Any other answer is final.
  bool Transient() const;
};

// An HTTPS client for the management server, on libcurl with one handle reused for every request (so
// connections and TLS sessions are kept). TLS peers are always verified. Every request is bounded:
// CTimeout in all (connect, TLS, transfer; a PUT has one second more for each CUploadBytesPerSecond
// of its body), a transfer slower than CLowSpeedBytes a second for CLowSpeedSeconds is dropped, at
// most CMaxRedirects redirects and never from https to http, and a document over CMaxDocumentBytes is
// refused without reading further. Proxies come from the usual environment variables (https_proxy,
// http_proxy, no_proxy).
//
// Threading: any thread; requests are made one at a time (the handle's lock).
class THttpClient {
public:
  static constexpr int32_t CTimeoutSeconds = 15;
  static constexpr int32_t CConnectTimeoutSeconds = 10;
  static constexpr int32_t CLowSpeedBytes = 1024;
  static constexpr int32_t CUploadBytesPerSecond = 16 * 1024;
  static constexpr int32_t CLowSpeedSeconds = 10;
  static constexpr int32_t CMaxRedirects = 3;
  static constexpr uint64_t CMaxDocumentBytes = 16 * 1024 * 1024;

  // Throws std::runtime_error when libcurl cannot be set up.
  explicit THttpClient(THttpClientOptions AOptions);
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  // A GET; with AIfNoneMatch (an ETag as the server sent it) an unchanged document is answered 304
  // with no body.
  THttpResult Get(const std::string& AUrl, const std::string& AIfNoneMatch = "") EXCLUDES(FLock);
  // A PUT of ABody. AContentEncoding "" or "gzip" (ABody is then already compressed). AContinue, when
  // set, is asked about once a second while the request runs: false gives it up (a NetworkError), as
  // does a body that cannot be read.
  THttpResult Put(const std::string& AUrl, const TUploadBody& ABody, const std::string& AContentType,
                  const std::string& AContentEncoding = "", const std::function<bool()>& AContinue = {})
      EXCLUDES(FLock);
  // The same with a body in memory.
  THttpResult Put(const std::string& AUrl, std::string_view ABody, const std::string& AContentType,
                  const std::string& AContentEncoding = "", const std::function<bool()>& AContinue = {})
      EXCLUDES(FLock);

private:
  struct TCurl;
  const THttpClientOptions FOptions;
  TMutex FLock;
  std::unique_ptr<TCurl> FCurl GUARDED_BY(FLock);
};

// Percent-encodes everything but unreserved characters (letters, digits, "-._~"), so that any text
// can be one segment of a URL path.
std::string UrlPathSegment(std::string_view AText);

}  // namespace Orvane
