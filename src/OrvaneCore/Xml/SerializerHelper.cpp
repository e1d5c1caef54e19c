#include "OrvaneCore/Xml/SerializerHelper.h"

#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

int32_t TAbstractSerializerHelper::InternalDeserialize(TXmlSerializer& ASerializer,
                                                       const std::string& ACollectionName,
                                                       const std::string& AItemName,
                                                       const TItemFactory& AFactory,
                                                       const TItemSink& AAppend) {
  const TClassRegistry& LRegistry = TClassRegistry::Instance();
  int32_t LIndex = 0;
  int32_t LCount = 0;
  ASerializer.ReadItems(ACollectionName, [&](const TXmlItem& AItem) {
    ++LIndex;
    const char* LName = AItem.Name();
    std::shared_ptr<TTessraData> LObject;
    if (AItemName == LName) {
      LObject = AFactory();
    } else if (LRegistry.InheritsFrom(LName, AItemName)) {
      LObject = LRegistry.Create(LName);
    } else if (LRegistry.IsRegistered(LName)) {
      OrvaneLogger()->Error("Class \"%s\" of an item of \"%s\" is not a %s; the item is skipped",
                            {LName, ACollectionName, AItemName});
      return;
    } else {
      OrvaneLogger()->Error("Unknown class \"%s\" of an item of \"%s\"; the item is skipped",
                            {LName, ACollectionName});
      return;
    }
    if (!LObject) {
      OrvaneLogger()->Error("No object of class \"%s\" can be made for \"%s\"; the item is skipped",
                            {LName, ACollectionName});
      return;
    }
    try {
      AItem.ReadInto(*LObject);
    } catch (const EConvertError& E) {
      OrvaneLogger()->Error("Item %d of \"%s\" cannot be read (%s); the item is skipped",
                            {static_cast<int>(LIndex), ACollectionName, E.Message()});
      return;
    }
    if (AAppend(std::move(LObject))) ++LCount;
  });
  return LCount;
}

void TAbstractSerializerHelper::SkipForeignItem(const TTessraData& AItem, const std::string& AItemName) {
  OrvaneLogger()->Error("Class \"%s\" is not a %s; the item is skipped", {AItem.ClassName(), AItemName});
}

}  // namespace Orvane
