#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OrvaneCore/Xml/XmlSerializer.h"

namespace Orvane {

// Reads a collection of records written with BeginCollection / WriteObject / EndCollection.
class TAbstractSerializerHelper {
public:
  using TItemFactory = std::function<std::shared_ptr<TTessraData>()>;
  // Takes an object read; false when it cannot take it (the item counts as skipped).
  using TItemSink = std::function<bool(std::shared_ptr<TTessraData>)>;

  // Reads the collection ACollectionName below the serializer's current node and hands one new
  // object per item to AAppend, in document order; returns how many AAppend took.
  //   - an item named AItemName is made by AFactory;
  //   - an item named by a registered descendant of AItemName is made through the class registry
  //     (WriteObject names an item by its class);
  //   - any other item, and an item with a value its member cannot take, is skipped with a logged
  //     error, and the items after it are read.
  // Raises EXmlReadError when the collection is missing (at the document level: the document's
  // root element has another name).
  static int32_t InternalDeserialize(TXmlSerializer& ASerializer, const std::string& ACollectionName,
                                     const std::string& AItemName, const TItemFactory& AFactory,
                                     const TItemSink& AAppend);

  // The same, appending to a list of T (the objects made are T or descendants).
  template <class T>
  static int32_t InternalDeserialize(TXmlSerializer& ASerializer, std::vector<std::shared_ptr<T>>& AList,
                                     const std::string& ACollectionName, const std::string& AItemName,
                                     std::function<std::shared_ptr<T>()> AFactory) {
    return InternalDeserialize(
        ASerializer, ACollectionName, AItemName,
        [&AFactory] { return std::static_pointer_cast<TTessraData>(AFactory()); },
        [&AList, &AItemName](std::shared_ptr<TTessraData> AItem) {
          auto LItem = std::dynamic_pointer_cast<T>(AItem);
          if (!LItem) {
            SkipForeignItem(*AItem, AItemName);
            return false;
          }
          AList.push_back(std::move(LItem));
          return true;
        });
  }

private:
  static void SkipForeignItem(const TTessraData& AItem, const std::string& AItemName);
};

}  // namespace Orvane
