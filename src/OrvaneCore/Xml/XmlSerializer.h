#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Data/DataNode.h"
#include "OrvaneCore/Data/TessraData.h"

namespace Orvane {

// The XML could not be read: a missing or unreadable file, an empty, truncated or malformed
// document, or one without the expected root element or collection.
ORVANE_DECLARE_EXCEPTION(EXmlReadError, Exception);

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
// The serializer has a current node: the document at first, then the collection begun or the node
// entered last. Writing appends below it; reading looks below it. Loading a document resets it.
// One serializer is used by one thread at a time.
class TXmlSerializer : public TOrvaneObject {
public:
  TXmlSerializer();
  ~TXmlSerializer() override;
  TXmlSerializer(const TXmlSerializer&) = delete;
  TXmlSerializer& operator=(const TXmlSerializer&) = delete;

  std::string ClassName() const override { return "TXmlSerializer"; }

  // Appends the element AName below the current node and makes it current. AName must be an XML
  // name (EArgumentException otherwise); the document level takes one element only
  // (EInvalidOperation).
  void BeginCollection(const std::string& AName);
  // Makes the parent current again; AName must name the current collection (EInvalidOperation).
  void EndCollection(const std::string& AName);
  // Appends AObject below the current node as an element named by its class.
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
  // The document as text, with its XML declaration.
  std::string GetXml() const;

protected:
  // The form of one object's element before it is written; requests leave out what they need not
  // send.
  virtual void PrepareObjectNode(TDataNode& ANode) const;
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
  void PrepareObjectNode(TDataNode& ANode) const override;
  bool IsIndented() const override { return false; }
};

// The serializer a data transfer object names ("TXmlSerializer", "TSmartXmlSerializer");
// EClassNotFound for any other name.
std::unique_ptr<TXmlSerializer> CreateXmlSerializer(const std::string& AClassName);

// One warning when ASerializer's last load, of AFileName, repaired invalid UTF-8, with the count.
void LogRepairedUtf8(const TXmlSerializer& ASerializer, const std::string& AFileName);

// The object's element alone (no declaration, no final line break): the text the log shows for a
// record.
std::string ObjectToXml(const TTessraData& AObject);

}  // namespace Orvane
