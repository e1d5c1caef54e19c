#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Data/DataNode.h"
#include "OrvaneCore/Data/TessraData.h"

namespace Orvane {

// The XML could not be read: a missing or unreadable file, an empty, truncated or malformed
// document, or one without the expected root element or collection.
ORVANE_DECLARE_EXCEPTION(EXmlReadError, Exception);

class TXmlItem;

// Writes records as XML and reads them back, driven by the records' member description.
//
// Layout (UTF-8):
//   <TJobList>                                  a collection (BeginCollection/EndCollection)
//     <TJob>                                    an object: the element is named by its class
//       <Identifier>{A1}</Identifier>           a value member; an empty value is an empty element
//       <NextExecution>-1</NextExecution>       date and time with 17 significant digits
//       <JobAction Class="TScannerJobAction">   a polymorphic member names its class; without the
//         <AgentTaskId>...</AgentTaskId>          attribute it is empty (no object)
//       </JobAction>
//       <StartCondition Class="TStartConditionFacade">
//         <Conditions>                          a list member: one Item per object
//           <Item Class="TStartConditionOnDelay">...</Item>
//         </Conditions>
//       </StartCondition>
//       <Paths><Item>/srv</Item></Paths>        a list of texts
//     </TJob>
//   </TJobList>
// The first collection or object written at the document level becomes the document's root
// element. Texts keep every character but NUL, carriage returns and surrounding spaces included.
//
// A serializer either writes a document or reads a loaded one. Writing streams the text as it goes:
// records are written straight from their member description, and the collection begun last is
// where the next element goes. Reading has a current node: the loaded document at first, then the
// node entered last; a load resets it. Writing into a loaded document raises EInvalidOperation.
// One serializer is used by one thread at a time.
class TXmlSerializer : public TOrvaneObject {
public:
  TXmlSerializer();
  ~TXmlSerializer() override;
  TXmlSerializer(const TXmlSerializer&) = delete;
  TXmlSerializer& operator=(const TXmlSerializer&) = delete;

  std::string ClassName() const override { return "TXmlSerializer"; }

  // Begins the element AName in the collection begun last (or as the root element). AName must be
  // an XML name (EArgumentException otherwise); the document level takes one element only
  // (EInvalidOperation).
  void BeginCollection(const std::string& AName);
  // Ends the collection begun last; AName must name it (EInvalidOperation).
  void EndCollection(const std::string& AName);
  // Writes AObject into the collection begun last as an element named by its class.
  void WriteObject(const TTessraData& AObject);

  // Makes the child element AName of the current node current; false (and nothing changes) when
  // there is none.
  bool EnterNode(const std::string& AName);
  // Makes the parent of the current node current (EInvalidOperation at the document level).
  void LeaveNode();

  // The child element AName of the current node as a tree of texts; false when there is none.
  bool ReadNode(const std::string& AName, TDataNode& ANode) const;
  // The same, raising EXmlReadError when there is none: at the document level, a document whose
  // root element has another name.
  TDataNode ReadCollection(const std::string& AName) const;
  // The document's root element as a tree of texts (EXmlReadError when the document is empty).
  TDataNode ReadRoot() const;
  // Reads the child element named by AObject's class into AObject; false when there is none.
  // Members missing from the element keep their values.
  bool ReadObject(TTessraData& AObject) const;
  // Hands the child elements of the collection AName to AVisit one by one, in document order, each
  // to be read straight into a record. Raises as ReadCollection does, before the first call.
  void ReadItems(const std::string& AName, const std::function<void(const TXmlItem&)>& AVisit) const;
  // Makes each child element of the current node current in turn, in document order, and calls
  // AVisit with its name. The current node is the same again afterwards, also when AVisit raises.
  void ForEachChild(const std::function<void(const std::string& AName)>& AVisit);
  // Raises EXmlReadError when the loaded document nests deeper than ReadRoot reads.
  void CheckNesting() const;

  // What a load does with bytes that are not UTF-8 (an overlong form, a surrogate, a stray or
  // missing continuation byte) in the document's names, texts and attributes: by default it refuses
  // the document with EXmlReadError, as any malformed one; when repairing, it replaces each
  // ill-formed sequence with U+FFFD and counts them (GetRepairedUtf8Count: those of the last load).
  void SetRepairsInvalidUtf8(bool AValue);
  int32_t GetRepairedUtf8Count() const;

  // Replaces the file atomically with GetXml (see SaveFileAtomically); false when the file already
  // held exactly this document and was left alone. Raises EOSError when the file cannot be written.
  bool SaveToFile(const std::string& AFileName) const;
  // Replaces the document with the file's (EXmlReadError when it cannot be read or parsed).
  void LoadFromFile(const std::string& AFileName);
  // Replaces the document with AXml (EXmlReadError when it cannot be parsed).
  void LoadFromXml(const std::string& AXml);
  // The document as text, with its XML declaration: the one written (collections still open are
  // closed in it), or else the one loaded.
  std::string GetXml() const;

protected:
  // Whether members equal to those of a new object of their class are left out.
  virtual bool LeavesOutDefaults() const { return false; }
  // Whether the text is indented, one element per line.
  virtual bool IsIndented() const { return true; }

private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// The serializer of requests to and answers from the server. The same layout, written for the wire:
// no indentation, and members whose value equals the one a new object of their class has are left
// out. Requests and answers are always read into new objects, in which such a member already has
// that value, so nothing is lost.
class TSmartXmlSerializer : public TXmlSerializer {
public:
  std::string ClassName() const override { return "TSmartXmlSerializer"; }

protected:
  bool LeavesOutDefaults() const override { return true; }
  bool IsIndented() const override { return false; }
};

// One element of a loaded document while TXmlSerializer::ReadItems hands it out.
class TXmlItem {
public:
  const char* Name() const;
  // Reads the element into ARecord as NodeToRecord reads its tree of texts: members missing from it
  // keep their values, a value its member cannot take raises EConvertError.
  void ReadInto(TTessraData& ARecord) const;

private:
  friend class TXmlSerializer;
  TXmlItem(void* AElement, void* AClasses) : FElement(AElement), FClasses(AClasses) {}
  void* FElement;  // the parser's element
  void* FClasses;  // what the read found out about classes so far
};

// The serializer a data transfer object names ("TXmlSerializer", "TSmartXmlSerializer");
// EClassNotFound for any other name.
std::unique_ptr<TXmlSerializer> CreateXmlSerializer(const std::string& AClassName);

// One warning when ASerializer's last load, of AFileName, repaired invalid UTF-8, with the count.
void LogRepairedUtf8(const TXmlSerializer& ASerializer, const std::string& AFileName);

// The object's element alone (no declaration, no final line break): the text the log shows for a
// record.
std::string ObjectToXml(const TTessraData& AObject);

// How a document writes its times. The agent's own files keep the day count, which reads back to the
// exact value; documents for other programs (scan results) take ISO 8601 in UTC to the millisecond,
// and leave out a time that is not set instead of writing -1.
enum class TXmlTimes { DayCount, IsoUtc };

class IXmlSink;
// Writes the document of AObject (the declaration, then the object as its root element, indented)
// to ASink as it goes, in pieces: with day counts, the same bytes as TXmlSerializer's GetXml after
// WriteObject. For documents too large to hold in memory whole (list members may hand out their
// items one by one).
void WriteObjectXml(IXmlSink& ASink, const TTessraData& AObject, TXmlTimes ATimes = TXmlTimes::DayCount);

}  // namespace Orvane
