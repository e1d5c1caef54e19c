#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "OrvaneCore/Data/TessraData.h"

namespace Orvane {

// Base of the objects exchanged with the management server. The serializer class names how the
// object is encoded on the wire.
class TBaseDataTransfer : public TTessraData {
public:
  std::string ClassName() const override { return "TBaseDataTransfer"; }
  // Encryption of the payload is the transport's matter here; the object itself never encrypts.
  virtual bool IsEncryptionAvailable() const { return false; }
  // Resets every member to its initial value.
  virtual void Clear();

  const std::string& GetSerializerClass() const { return FSerializerClass; }
  void SetSerializerClass(std::string AValue) { FSerializerClass = std::move(AValue); }

private:
  std::string FSerializerClass = "TXmlSerializer";
};

// A request to the server. Its four members of its own identify the request and its sender.
class TRequest : public TBaseDataTransfer {
public:
  TRequest();
  std::string ClassName() const override { return "TRequest"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;
  // The command the server runs for this request.
  virtual std::string GetCommandId() const { return ""; }

  std::string RequestId;      // a new GUID per request
  std::string ProtocolVersion = "1";
  std::string ClientVersion;  // the agent's version
  TDateTime CreatedAt;        // local time of creation
};

// The server's answer.
class TResponse : public TBaseDataTransfer {
public:
  std::string ClassName() const override { return "TResponse"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  int32_t ResultCode = 0;
  std::string ErrorText;
};

// Sends a request to the management server and fills the response.
struct IServerRequestSender {
  static constexpr const char* IID = "{6F1C2D8A-3B4E-4F5A-9C7D-2E8B1A0F3C61}";
  static constexpr const char* Name = "IServerRequestSender";
  virtual ~IServerRequestSender() = default;
  // 0 when the response was filled; any other value is a failure code.
  virtual int32_t SendRequest(TRequest& ARequest, TResponse& AResponse) = 0;
};

}  // namespace Orvane
