#pragma once

#include <cstdint>
#include <string>

#include "OrvaneCore/Time/Clock.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

// What the agent takes from its client certificate: the subject's CN, which is the client's id on
// the server (its folder there is the one the server lets that certificate write), and the end of
// its validity.
struct TClientCertificate {
  std::string File;
  std::string CommonName;            // "" when the subject has none
  TDateTime NotAfter = CNoDateTime;  // local time
};

// The first PEM certificate in AFile. Throws std::invalid_argument naming the file when there is none.
TClientCertificate ReadClientCertificate(const std::string& AFile);

// The client id the agent runs with: the certificate's CN, which AClientId (--client-id, "" when not
// given) may only repeat. Throws std::invalid_argument naming both when they differ, or when the
// certificate has no CN.
std::string ClientIdOfCertificate(const TClientCertificate& ACertificate, const std::string& AClientId);

// Tells the log about a client certificate near its end: a warning naming the file and the date when
// it ends within CWarnDays, an error once it has ended (the agent goes on: it keeps running its last
// job list). At most one line a day, however often Check is called; the file is read again each time,
// so a renewed certificate ends the warnings.
//
// Threading: one thread (the host's main thread).
class TCertificateExpiryWatch {
public:
  static constexpr int32_t CWarnDays = 14;
  static constexpr double CRepeatSeconds = CSecondsPerDay;

  explicit TCertificateExpiryWatch(std::string AFile);
  void Check();

private:
  void Told();

  const std::string FFile;
  bool FTold = false;
  TMonoTime FNextTell{};  // no line before then once one was told
};

}  // namespace Orvane
