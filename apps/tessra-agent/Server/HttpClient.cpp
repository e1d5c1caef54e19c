#include "Server/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <vector>

#include "OrvaneCore/Base/Strings.h"

namespace Orvane {

namespace {

// ASCII only, whatever the process's locale: schemes and header names are ASCII.
bool StartsWithNoCase(std::string_view AText, std::string_view APrefix) {
  const auto LLower = [](char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; };
  return AText.size() >= APrefix.size() && std::equal(APrefix.begin(), APrefix.end(), AText.begin(),
                                                      [&](char A, char B) { return LLower(A) == LLower(B); });
}

bool HasLineBreak(std::string_view AText) {
  return AText.find_first_of("\r\n") != std::string_view::npos;
}

// libcurl's global state is set up once per process, before the first handle, and never torn down:
// handles may live until static destruction.
bool CurlReady() {
  static const bool LReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return LReady;
}

// Frees a header list when the request is over.
class TCurlHeaders {
public:
  TCurlHeaders() = default;
  ~TCurlHeaders() { curl_slist_free_all(FList); }
  TCurlHeaders(const TCurlHeaders&) = delete;
  TCurlHeaders& operator=(const TCurlHeaders&) = delete;

  bool Add(const std::string& ALine) {
    curl_slist* LNew = curl_slist_append(FList, ALine.c_str());
    if (!LNew) return false;
    FList = LNew;
    return true;
  }
  curl_slist* List() const { return FList; }

private:
  curl_slist* FList = nullptr;
};

THttpResult RefusedResult(std::string AWhy) {
  THttpResult L;
  L.Kind = THttpResult::TKind::Refused;
  L.Error = std::move(AWhy);
  return L;
}

// Sets up a request on a reset handle; false when libcurl refuses an option (then AError says which).
bool Configure(CURL* AHandle, const THttpClientOptions& AOptions, const std::string& AUrl, uint64_t AUploadBytes,
               std::string& AError) {
  const char* LProtocols = AOptions.AllowInsecureHttp ? "https,http" : "https";
  const long LBaseMs = AOptions.TimeoutMs > 0 ? AOptions.TimeoutMs : THttpClient::CTimeoutSeconds * 1000L;
  const long LConnectMs = std::min<long>(LBaseMs, THttpClient::CConnectTimeoutSeconds * 1000L);
  // A large upload (a result) on a slow line takes longer than the bound of a small request; a
  // stalled one is still dropped by the low-speed limit.
  const long LTimeoutMs =
      LBaseMs + static_cast<long>(AUploadBytes * 1000 / static_cast<uint64_t>(THttpClient::CUploadBytesPerSecond));
  CURLcode LCode = CURLE_OK;
  const auto Set = [&](CURLoption AOption, auto AValue) {
    if (LCode == CURLE_OK) {
      LCode = curl_easy_setopt(AHandle, AOption, AValue);
      if (LCode != CURLE_OK)
        AError = std::string("cannot set a libcurl option: ") + curl_easy_strerror(LCode);
    }
  };
  Set(CURLOPT_URL, AUrl.c_str());
  // A worker thread must not get SIGALRM from name resolution timeouts.
  Set(CURLOPT_NOSIGNAL, 1L);
  Set(CURLOPT_PROTOCOLS_STR, LProtocols);
  Set(CURLOPT_REDIR_PROTOCOLS_STR, LProtocols);
  Set(CURLOPT_FOLLOWLOCATION, 1L);
  Set(CURLOPT_MAXREDIRS, static_cast<long>(THttpClient::CMaxRedirects));
  Set(CURLOPT_TIMEOUT_MS, LTimeoutMs);
  Set(CURLOPT_CONNECTTIMEOUT_MS, LConnectMs);
  Set(CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(THttpClient::CLowSpeedBytes));
  Set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(THttpClient::CLowSpeedSeconds));
  Set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(THttpClient::CMaxDocumentBytes));
  Set(CURLOPT_SSL_VERIFYPEER, 1L);
  Set(CURLOPT_SSL_VERIFYHOST, 2L);
  if (!AOptions.CaFile.empty()) Set(CURLOPT_CAINFO, AOptions.CaFile.c_str());
  if (!AOptions.ClientCert.empty()) {
    Set(CURLOPT_SSLCERT, AOptions.ClientCert.c_str());
    Set(CURLOPT_SSLKEY, AOptions.ClientKey.c_str());
  }
  Set(CURLOPT_USERAGENT, "tessra-agent");
  // No CURLOPT_PROXY: libcurl takes https_proxy, http_proxy and no_proxy from the environment.
  return LCode == CURLE_OK;
}

struct TRequest {
  const std::string& Url;
  const TUploadBody* Upload = nullptr;  // a PUT's body; none for a GET
  std::vector<std::string> Headers;
  const std::function<bool()>* Continue = nullptr;  // null or empty: the request runs to its end
};

}  // namespace

bool THttpResult::Transient() const {
  if (Kind == TKind::NetworkError) return true;
  if (Kind != TKind::Response) return false;
  return Status >= 500 || Status == 408 || Status == 429;
}

// The easy handle and what one request collects; only touched under THttpClient::FLock.
struct THttpClient::TCurl {
  CURL* Handle = nullptr;
  char ErrorText[CURL_ERROR_SIZE] = {};

  bool KeepBody = false;
  std::string Body;
  uint64_t Received = 0;
  bool TooLarge = false;
  std::string ETag;
  std::string ContentType;
  const TUploadBody* Upload = nullptr;
  uint64_t UploadOffset = 0;
  bool UploadUnread = false;
  const std::function<bool()>* Continue = nullptr;
  bool GivenUp = false;

  TCurl() : Handle(curl_easy_init()) {}
  ~TCurl() {
    if (Handle) curl_easy_cleanup(Handle);
  }
  TCurl(const TCurl&) = delete;
  TCurl& operator=(const TCurl&) = delete;

  // A GET's answer is kept; a PUT's (AUpload set) only counted.
  void StartRequest(const TUploadBody* AUpload) {
    ErrorText[0] = '\0';
    KeepBody = !AUpload;
    Body.clear();
    Received = 0;
    TooLarge = false;
    ETag.clear();
    ContentType.clear();
    Upload = AUpload;
    UploadOffset = 0;
    UploadUnread = false;
  }

  // The body is counted whether it is kept or not: a document without a Content-Length is only
  // found too large while it arrives.
  static size_t OnWrite(char* AData, size_t ASize, size_t ACount, void* AThis) {
    auto* L = static_cast<TCurl*>(AThis);
    const size_t LBytes = ASize * ACount;
    L->Received += LBytes;
    if (L->Received > CMaxDocumentBytes) {
      L->TooLarge = true;
      return 0;  // aborts the transfer
    }
    if (L->KeepBody) L->Body.append(AData, LBytes);
    return LBytes;
  }

  // Every response of a redirect chain (and a proxy's answer to CONNECT) starts with its status
  // line: only the last response's headers are kept.
  static size_t OnHeader(char* AData, size_t ASize, size_t ACount, void* AThis) {
    auto* L = static_cast<TCurl*>(AThis);
    const size_t LBytes = ASize * ACount;
    const std::string_view LLine(AData, LBytes);
    if (StartsWithNoCase(LLine, "HTTP/")) {
      L->ETag.clear();
      L->ContentType.clear();
    } else if (StartsWithNoCase(LLine, "ETag:")) {
      L->ETag = Trim(LLine.substr(5));
    } else if (StartsWithNoCase(LLine, "Content-Type:")) {
      L->ContentType = Trim(LLine.substr(13));
    }
    return LBytes;
  }

  // Called by libcurl about once a second, and more often while data moves.
  static int OnProgress(void* AThis, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* L = static_cast<TCurl*>(AThis);
    if (!(*L->Continue)()) {
      L->GivenUp = true;
      return 1;  // aborts the transfer
    }
    return 0;
  }

  static size_t OnRead(char* ABuffer, size_t ASize, size_t ACount, void* AThis) {
    auto* L = static_cast<TCurl*>(AThis);
    const auto LWanted =
        static_cast<std::size_t>(std::min<uint64_t>(ASize * ACount, L->Upload->Size - L->UploadOffset));
    if (LWanted == 0) return 0;
    std::size_t LRead = 0;
    // A body that ends before its size would leave the server waiting for the rest.
    if (!L->Upload->Read(L->UploadOffset, std::span<char>(ABuffer, LWanted), LRead) || LRead == 0) {
      L->UploadUnread = true;
      return CURL_READFUNC_ABORT;
    }
    L->UploadOffset += LRead;
    return LRead;
  }

  // A redirected or retried upload starts over.
  static int OnSeek(void* AThis, curl_off_t AOffset, int AOrigin) {
    auto* L = static_cast<TCurl*>(AThis);
    if (AOrigin != SEEK_SET || AOffset < 0 || static_cast<uint64_t>(AOffset) > L->Upload->Size)
      return CURL_SEEKFUNC_CANTSEEK;
    L->UploadOffset = static_cast<uint64_t>(AOffset);
    return CURL_SEEKFUNC_OK;
  }

  // Shared by Get and Put: the checks before sending, the handle's setup, and what came back.
  THttpResult Perform(const THttpClientOptions& AOptions, const TRequest& ARequest);
};

THttpResult THttpClient::TCurl::Perform(const THttpClientOptions& AOptions, const TRequest& ARequest) {
  const bool LSecure = StartsWithNoCase(ARequest.Url, "https://");
  if (!LSecure && !(AOptions.AllowInsecureHttp && StartsWithNoCase(ARequest.Url, "http://")))
    return RefusedResult("not an https URL: " + ARequest.Url);
  for (const std::string& LHeader : ARequest.Headers)
    if (HasLineBreak(LHeader)) return RefusedResult("a line break in a request header");

  CURL* LHandle = Handle;
  curl_easy_reset(LHandle);
  StartRequest(ARequest.Upload);
  Continue = ARequest.Continue && *ARequest.Continue ? ARequest.Continue : nullptr;
  GivenUp = false;
  std::string LSetupError;
  TCurlHeaders LHeaders;
  bool LReady = Configure(LHandle, AOptions, ARequest.Url, Upload ? Upload->Size : 0, LSetupError);
  for (const std::string& LHeader : ARequest.Headers) LReady = LReady && LHeaders.Add(LHeader);
  if (LReady) {
    curl_easy_setopt(LHandle, CURLOPT_ERRORBUFFER, ErrorText);
    curl_easy_setopt(LHandle, CURLOPT_HTTPHEADER, LHeaders.List());
    curl_easy_setopt(LHandle, CURLOPT_WRITEFUNCTION, &TCurl::OnWrite);
    curl_easy_setopt(LHandle, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(LHandle, CURLOPT_HEADERFUNCTION, &TCurl::OnHeader);
    curl_easy_setopt(LHandle, CURLOPT_HEADERDATA, this);
    if (Continue) {
      curl_easy_setopt(LHandle, CURLOPT_NOPROGRESS, 0L);
      curl_easy_setopt(LHandle, CURLOPT_XFERINFOFUNCTION, &TCurl::OnProgress);
      curl_easy_setopt(LHandle, CURLOPT_XFERINFODATA, this);
    }
    if (Upload) {
      curl_easy_setopt(LHandle, CURLOPT_UPLOAD, 1L);
      curl_easy_setopt(LHandle, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(Upload->Size));
      curl_easy_setopt(LHandle, CURLOPT_READFUNCTION, &TCurl::OnRead);
      curl_easy_setopt(LHandle, CURLOPT_READDATA, this);
      curl_easy_setopt(LHandle, CURLOPT_SEEKFUNCTION, &TCurl::OnSeek);
      curl_easy_setopt(LHandle, CURLOPT_SEEKDATA, this);
    }
  }
  THttpResult LResult;
  if (!LReady) {
    LResult.Error = LSetupError.empty() ? "cannot set up the request" : LSetupError;
    return LResult;
  }

  const CURLcode LCode = curl_easy_perform(LHandle);
  if (LCode == CURLE_OK) {
    long LStatus = 0;
    curl_easy_getinfo(LHandle, CURLINFO_RESPONSE_CODE, &LStatus);
    LResult.Kind = THttpResult::TKind::Response;
    LResult.Status = static_cast<int32_t>(LStatus);
    LResult.Body = std::move(Body);
    LResult.ETag = std::move(ETag);
    LResult.ContentType = std::move(ContentType);
  } else if (GivenUp) {
    LResult.Error = "given up before its end";
  } else if (UploadUnread) {
    LResult.Error = "the body to send could not be read";
  } else if (TooLarge || LCode == CURLE_FILESIZE_EXCEEDED) {
    LResult =
        RefusedResult("document larger than " + std::to_string(THttpClient::CMaxDocumentBytes) + " bytes");
  } else if (LCode == CURLE_TOO_MANY_REDIRECTS || LCode == CURLE_UNSUPPORTED_PROTOCOL) {
    // Past the redirect limit, or redirected to a scheme not allowed (http from https).
    LResult = RefusedResult(ErrorText[0] ? ErrorText : curl_easy_strerror(LCode));
  } else {
    LResult.Error = ErrorText[0] ? ErrorText : curl_easy_strerror(LCode);
  }
  Body.clear();
  Body.shrink_to_fit();  // a large document is not held between requests
  Upload = nullptr;
  Continue = nullptr;
  return LResult;
}

THttpClient::THttpClient(THttpClientOptions AOptions) : FOptions(std::move(AOptions)) {
  if (!CurlReady()) throw std::runtime_error("libcurl cannot be initialised");
  auto LCurl = std::make_unique<TCurl>();
  if (!LCurl->Handle) throw std::runtime_error("libcurl cannot make a handle");
  TMutexLock LLock(FLock);
  FCurl = std::move(LCurl);
}

THttpClient::~THttpClient() = default;

THttpResult THttpClient::Get(const std::string& AUrl, const std::string& AIfNoneMatch) {
  TRequest LRequest{AUrl, nullptr, {}};
  if (!AIfNoneMatch.empty()) LRequest.Headers.push_back("If-None-Match: " + AIfNoneMatch);
  TMutexLock LLock(FLock);
  return FCurl->Perform(FOptions, LRequest);
}

THttpResult THttpClient::Put(const std::string& AUrl, const TUploadBody& ABody,
                             const std::string& AContentType, const std::string& AContentEncoding,
                             const std::function<bool()>& AContinue) {
  if (!ABody.Read) return RefusedResult("no body to send");
  TRequest LRequest{AUrl, &ABody, {}, &AContinue};
  LRequest.Headers.push_back("Content-Type: " + AContentType);
  if (!AContentEncoding.empty()) LRequest.Headers.push_back("Content-Encoding: " + AContentEncoding);
  // The body goes at once: waiting for "100 Continue" costs a round trip, or a second with a
  // server that never sends it.
  LRequest.Headers.push_back("Expect:");
  TMutexLock LLock(FLock);
  return FCurl->Perform(FOptions, LRequest);
}

THttpResult THttpClient::Put(const std::string& AUrl, std::string_view ABody, const std::string& AContentType,
                             const std::string& AContentEncoding, const std::function<bool()>& AContinue) {
  const TUploadBody LBody{ABody.size(),
                          [ABody](uint64_t AOffset, std::span<char> ABuffer, std::size_t& ARead) {
                            ARead = std::min<std::size_t>(ABuffer.size(), ABody.size() - AOffset);
                            std::memcpy(ABuffer.data(), ABody.data() + AOffset, ARead);
                            return true;
                          }};
  return Put(AUrl, LBody, AContentType, AContentEncoding, AContinue);
}

std::string UrlPathSegment(std::string_view AText) {
  static constexpr char CHex[] = "0123456789ABCDEF";
  std::string LOut;
  LOut.reserve(AText.size());
  for (const char LChar : AText) {
    const auto LByte = static_cast<unsigned char>(LChar);
    const bool LUnreserved = (LChar >= 'a' && LChar <= 'z') || (LChar >= 'A' && LChar <= 'Z') ||
                             (LChar >= '0' && LChar <= '9') || LChar == '-' || LChar == '.' || LChar == '_' ||
                             LChar == '~';
    if (LUnreserved) {
      LOut += LChar;
    } else {
      LOut += '%';
      LOut += CHex[LByte >> 4];
      LOut += CHex[LByte & 0x0F];
    }
  }
  return LOut;
}

}  // namespace Orvane
