#include "Server/ClientCertificate.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>
#include <utility>

#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/FileReader.h"

namespace Orvane {

namespace {

// A PEM file holds a certificate chain at most; anything larger is not one.
constexpr std::size_t CMaxFileBytes = 1024 * 1024;

template <class T, void (*AFree)(T*)>
struct TOpenSslFree {
  void operator()(T* A) const { AFree(A); }
};
using TBio = std::unique_ptr<BIO, TOpenSslFree<BIO, BIO_free_all>>;
using TX509 = std::unique_ptr<X509, TOpenSslFree<X509, X509_free>>;
using TAsn1Time = std::unique_ptr<ASN1_TIME, TOpenSslFree<ASN1_TIME, ASN1_TIME_free>>;

std::string CommonNameOf(X509* ACertificate) {
  const X509_NAME* LSubject = X509_get_subject_name(ACertificate);
  const int LIndex = LSubject ? X509_NAME_get_index_by_NID(LSubject, NID_commonName, -1) : -1;
  if (LIndex < 0) return "";
  const ASN1_STRING* LData = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(LSubject, LIndex));
  unsigned char* LUtf8 = nullptr;
  const int LLength = LData ? ASN1_STRING_to_UTF8(&LUtf8, LData) : -1;
  if (LLength < 0) return "";
  std::string LName(reinterpret_cast<const char*>(LUtf8), static_cast<std::size_t>(LLength));
  OPENSSL_free(LUtf8);
  return LName;
}

// The certificate's end as local time; CNoDateTime when it cannot be told.
TDateTime NotAfterOf(X509* ACertificate) {
  const ASN1_TIME* LNotAfter = X509_get0_notAfter(ACertificate);
  const TAsn1Time LEpoch(ASN1_TIME_set(nullptr, 0));
  int LDays = 0;
  int LSeconds = 0;
  if (!LNotAfter || !LEpoch || ASN1_TIME_diff(&LDays, &LSeconds, LEpoch.get(), LNotAfter) != 1)
    return CNoDateTime;
  return UtcToLocal(UnixToUtcDateTime(static_cast<double>(LDays) * CSecondsPerDay + LSeconds));
}

}  // namespace

TClientCertificate ReadClientCertificate(const std::string& AFile) {
  std::string LPem;
  if (const TFileResult LRead = ReadWholeFile(AFile, LPem, {}, CMaxFileBytes); !LRead.Done())
    throw std::invalid_argument("the client certificate cannot be read: " + LRead.Error);
  const TBio LBio(BIO_new_mem_buf(LPem.data(), static_cast<int>(LPem.size())));
  const TX509 LCertificate(LBio ? PEM_read_bio_X509(LBio.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!LCertificate)
    throw std::invalid_argument("the client certificate " + AFile + " holds no PEM certificate");
  return {AFile, CommonNameOf(LCertificate.get()), NotAfterOf(LCertificate.get())};
}

std::string ClientIdOfCertificate(const TClientCertificate& ACertificate, const std::string& AClientId) {
  if (ACertificate.CommonName.empty())
    throw std::invalid_argument("the client certificate " + ACertificate.File +
                                " has no CN: the server knows a client by its certificate's CN");
  if (!AClientId.empty() && AClientId != ACertificate.CommonName)
    throw std::invalid_argument("--client-id " + AClientId + " differs from the CN " +
                                ACertificate.CommonName + " of the client certificate " + ACertificate.File +
                                "; leave --client-id out or make them equal");
  return ACertificate.CommonName;
}

TCertificateExpiryWatch::TCertificateExpiryWatch(std::string AFile) : FFile(std::move(AFile)) {}

void TCertificateExpiryWatch::Check() {
  if (FTold && Clock().Monotonic() < FNextTell) return;
  TClientCertificate LCertificate;
  try {
    LCertificate = ReadClientCertificate(FFile);
  } catch (const std::invalid_argument& E) {
    OrvaneLogger()->Error("%s", {E.what()});
    Told();
    return;
  }
  if (LCertificate.NotAfter == CNoDateTime) return;
  const double LSecondsLeft = SecondsBetween(Now(), LCertificate.NotAfter);
  const std::string LEnd = DateTimeToIsoUtc(LCertificate.NotAfter);
  if (LSecondsLeft <= 0)
    OrvaneLogger()->Error(
        "The client certificate %s expired on %s: the server refuses it until it is renewed", {FFile, LEnd});
  else if (LSecondsLeft <= CWarnDays * CSecondsPerDay)
    OrvaneLogger()->Warning("The client certificate %s expires on %s; renew it before then", {FFile, LEnd});
  else
    return;
  Told();
}

void TCertificateExpiryWatch::Told() {
  FTold = true;
  FNextTell = Clock().DeadlineIn(CRepeatSeconds);
}

}  // namespace Orvane
