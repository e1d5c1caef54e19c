// TEMP: a stand-in until the real client lands.
#include "Server/HttpClient.h"

#include <curl/curl.h>

#include <cstring>
#include <stdexcept>

namespace Orvane {

struct THttpClient::TCurl {
  CURL* Handle = nullptr;
};

bool THttpResult::Transient() const {
  if (Kind == TKind::NetworkError) return true;
  if (Kind != TKind::Response) return false;
  return Status >= 500 || Status == 408 || Status == 429;
}

THttpClient::THttpClient(THttpClientOptions AOptions) : FOptions(std::move(AOptions)), FCurl(std::make_unique<TCurl>()) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  FCurl->Handle = curl_easy_init();
  if (!FCurl->Handle) throw std::runtime_error("curl");
}

THttpClient::~THttpClient() {
  curl_easy_cleanup(FCurl->Handle);
}

namespace {
size_t WriteBody(char* AData, size_t ASize, size_t ACount, void* AUser) {
  static_cast<std::string*>(AUser)->append(AData, ASize * ACount);
  return ASize * ACount;
}
size_t ReadHeader(char* AData, size_t ASize, size_t ACount, void* AUser) {
  std::string LLine(AData, ASize * ACount);
  if (LLine.size() > 6 && strncasecmp(LLine.c_str(), "etag: ", 6) == 0) {
    std::string LValue = LLine.substr(6);
    while (!LValue.empty() && (LValue.back() == '\r' || LValue.back() == '\n')) LValue.pop_back();
    *static_cast<std::string*>(AUser) = LValue;
  }
  return ASize * ACount;
}
struct TUpload {
  std::string_view Data;
  size_t Offset = 0;
};
size_t ReadBody(char* ABuffer, size_t ASize, size_t ACount, void* AUser) {
  auto* L = static_cast<TUpload*>(AUser);
  const size_t N = std::min(ASize * ACount, L->Data.size() - L->Offset);
  std::memcpy(ABuffer, L->Data.data() + L->Offset, N);
  L->Offset += N;
  return N;
}
}  // namespace

THttpResult THttpClient::Get(const std::string& AUrl, const std::string& AIfNoneMatch) {
  TMutexLock LLock(FLock);
  CURL* H = FCurl->Handle;
  curl_easy_reset(H);
  THttpResult R;
  curl_easy_setopt(H, CURLOPT_URL, AUrl.c_str());
  curl_easy_setopt(H, CURLOPT_TIMEOUT, 15L);
  curl_easy_setopt(H, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(H, CURLOPT_WRITEDATA, &R.Body);
  curl_easy_setopt(H, CURLOPT_HEADERFUNCTION, ReadHeader);
  curl_easy_setopt(H, CURLOPT_HEADERDATA, &R.ETag);
  curl_slist* L = nullptr;
  if (!AIfNoneMatch.empty()) L = curl_slist_append(L, ("If-None-Match: " + AIfNoneMatch).c_str());
  curl_easy_setopt(H, CURLOPT_HTTPHEADER, L);
  const CURLcode C = curl_easy_perform(H);
  curl_slist_free_all(L);
  if (C != CURLE_OK) {
    R.Kind = THttpResult::TKind::NetworkError;
    R.Error = curl_easy_strerror(C);
    return R;
  }
  long S = 0;
  curl_easy_getinfo(H, CURLINFO_RESPONSE_CODE, &S);
  R.Kind = THttpResult::TKind::Response;
  R.Status = static_cast<int32_t>(S);
  return R;
}

THttpResult THttpClient::Put(const std::string& AUrl, std::string_view ABody, const std::string& AContentType,
                             const std::string& AContentEncoding) {
  TMutexLock LLock(FLock);
  CURL* H = FCurl->Handle;
  curl_easy_reset(H);
  THttpResult R;
  std::string LIgnored;
  TUpload LUpload{ABody};
  curl_easy_setopt(H, CURLOPT_URL, AUrl.c_str());
  curl_easy_setopt(H, CURLOPT_TIMEOUT, 15L);
  curl_easy_setopt(H, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(H, CURLOPT_READFUNCTION, ReadBody);
  curl_easy_setopt(H, CURLOPT_READDATA, &LUpload);
  curl_easy_setopt(H, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(ABody.size()));
  curl_easy_setopt(H, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(H, CURLOPT_WRITEDATA, &LIgnored);
  curl_slist* L = curl_slist_append(nullptr, ("Content-Type: " + AContentType).c_str());
  if (!AContentEncoding.empty()) L = curl_slist_append(L, ("Content-Encoding: " + AContentEncoding).c_str());
  curl_easy_setopt(H, CURLOPT_HTTPHEADER, L);
  const CURLcode C = curl_easy_perform(H);
  curl_slist_free_all(L);
  if (C != CURLE_OK) {
    R.Kind = THttpResult::TKind::NetworkError;
    R.Error = curl_easy_strerror(C);
    return R;
  }
  long S = 0;
  curl_easy_getinfo(H, CURLINFO_RESPONSE_CODE, &S);
  R.Kind = THttpResult::TKind::Response;
  R.Status = static_cast<int32_t>(S);
  return R;
}

std::string UrlPathSegment(std::string_view AText) {
  static const char* CHex = "0123456789ABCDEF";
  std::string L;
  for (unsigned char C : AText) {
    if (std::isalnum(C) || C == '-' || C == '.' || C == '_' || C == '~')
      L += static_cast<char>(C);
    else {
      L += '%';
      L += CHex[C >> 4];
      L += CHex[C & 15];
    }
  }
  return L;
}

}  // namespace Orvane
