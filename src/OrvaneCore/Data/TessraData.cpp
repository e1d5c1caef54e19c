#include "OrvaneCore/Data/TessraData.h"

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Data/RecordCopy.h"

namespace Orvane {

namespace {
// One sequence for the whole process: the host and the module share this library.
std::atomic<uint64_t> GChangeSequence{0};
}  // namespace

uint64_t TChangeStamp::Latest() noexcept {
  return GChangeSequence.load();
}

uint64_t TChangeStamp::Next() noexcept {
  return GChangeSequence.fetch_add(1) + 1;
}

ORVANE_REGISTER_CLASS(TTessraData, );

void TTessraData::DescribeMembers(IMemberVisitor&) {}

void TTessraData::Assign(const TTessraData& ASource) {
  if (&ASource == this) return;
  CopyRecordMembers(ASource, *this);
}

std::shared_ptr<TTessraData> TTessraData::Clone() const {
  std::shared_ptr<TTessraData> LCopy = TClassRegistry::Instance().CreateOrRaise(ClassName());
  LCopy->Assign(*this);
  return LCopy;
}

bool TTessraData::DataEquals(const TTessraData& AOther) const {
  return ClassName() == AOther.ClassName() && RecordMembersEqual(*this, AOther);
}

bool TTessraData::InheritsFrom(const TClassName& AAncestor) const {
  return TClassRegistry::Instance().InheritsFrom(ClassName(), AAncestor);
}

}  // namespace Orvane
