#pragma once

#include <functional>
#include <string>

namespace Orvane {

// Root of every class that can be attached to a log entry. The logger keeps the class name and the
// text of an attached object at the moment of logging, never the object: jobs are often freed
// right after.
class TOrvaneObject {
public:
  virtual ~TOrvaneObject() = default;

  // The system's name of the class ("TJob", "TJobScheduler"); builds log contexts and XML names.
  virtual std::string ClassName() const = 0;

  // The object as text for the log. By default the registered writer (the XML layer registers one
  // that writes the object's XML); without one, the class name.
  virtual std::string LogText() const;

  using TLogTextWriter = std::function<std::string(const TOrvaneObject&)>;
  // Set once at start-up, before threads log; returns the writer it replaced.
  static TLogTextWriter SetLogTextWriter(TLogTextWriter AWriter);
};

// "TJobScheduler.UpdateQueue": the context text of a logged exception.
std::string MakeContext(const TOrvaneObject& AObject, const std::string& AMethod);

}  // namespace Orvane
