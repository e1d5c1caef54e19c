#include "OrvaneCore/Xml/SerializerHelper.h"

#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

int32_t TAbstractSerializerHelper::InternalDeserialize(TXmlSerializer& ASerializer,
                                                       const std::string& ACollectionName,
                                                       const std::string& AItemName,
                                                       const TItemFactory& AFactory,
                                                       const TItemSink& AAppend) {
  const TDataNode LCollection = ASerializer.ReadCollection(ACollectionName);
  const TClassRegistry& LRegistry = TClassRegistry::Instance();
  int32_t LCount = 0;
  for (const TDataNode& LItem : LCollection.Children) {
    std::shared_ptr<TTessraData> LObject;
    if (LItem.Name == AItemName) {
      LObject = AFactory();
    } else if (LRegistry.InheritsFrom(LItem.Name, AItemName)) {
      LObject = LRegistry.Create(LItem.Name);
    } else if (LRegistry.IsRegistered(LItem.Name)) {
      OrvaneLogger()->Error("Class \"%s\" of an item of \"%s\" is not a %s; the item is skipped",
                            {LItem.Name, ACollectionName, AItemName});
      continue;
    } else {
      OrvaneLogger()->Error("Unknown class \"%s\" of an item of \"%s\"; the item is skipped",
                            {LItem.Name, ACollectionName});
      continue;
    }
    if (!LObject) {
      OrvaneLogger()->Error("No object of class \"%s\" can be made for \"%s\"; the item is skipped",
                            {LItem.Name, ACollectionName});
      continue;
    }
    try {
      NodeToRecord(LItem, *LObject);
    } catch (const EConvertError& E) {
      OrvaneLogger()->Error(
          "Item %d of \"%s\" cannot be read (%s); the item is skipped",
          {static_cast<int>(&LItem - LCollection.Children.data()) + 1, ACollectionName, E.Message()});
      continue;
    }
    if (AAppend(std::move(LObject))) ++LCount;
  }
  return LCount;
}

void TAbstractSerializerHelper::SkipForeignItem(const TTessraData& AItem, const std::string& AItemName) {
  OrvaneLogger()->Error("Class \"%s\" is not a %s; the item is skipped", {AItem.ClassName(), AItemName});
}

}  // namespace Orvane
