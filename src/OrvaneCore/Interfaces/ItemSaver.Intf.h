#pragma once

#include <cstdint>

#include "OrvaneCore/Base/Enumerable.h"
#include "OrvaneCore/Data/ClassRegistry.h"
#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {

// Called with each item after a successful save.
using TAfterSaveItemEvent = TJobEvent;
// Called with the sender and whether a load succeeded.
using TAfterLoadEvent = TEvent<void(TOrvaneObject*, bool)>;

// Writes a whole list of items, replacing what was stored. Results: 0 is success, and only then are
// the after-save events raised; any other value is a failure code handed through (the file savers
// give the errno of the write that failed), and nothing was stored.
template <class T>
struct IItemSaver;

template <>
struct IItemSaver<TJob> {
  static constexpr const char* IID = "{AEECEB0C-08DD-4071-AE40-2A6E81987B82}";
  static constexpr const char* Name = "IItemSaver<TJob>";
  virtual ~IItemSaver() = default;

  virtual int32_t SaveItem(const TJobPtr& AItem) = 0;
  virtual int32_t SaveItems(const IEnumerable<TJobPtr>& AItems) = 0;
  virtual TNotifyEvent& GetAfterSave() = 0;
  virtual TAfterSaveItemEvent& GetAfterSaveItem() = 0;
  virtual TClassName GetItemClass() = 0;
};

// Reads the stored items and hands them out. The jobs in GetItemList belong to the loader.
template <class T>
struct IListProvider;

template <>
struct IListProvider<TJob> {
  static constexpr const char* IID = "{8A9AB55C-4E27-4C59-8585-EF601B05C56B}";
  static constexpr const char* Name = "IListProvider<TJob>";
  virtual ~IListProvider() = default;

  virtual TClassName GetItemClass() = 0;
  // The loader's own list (no copy).
  virtual TJobList& GetItemList() = 0;
  virtual TNotifyEvent& GetOnBeforeLoad() = 0;
  virtual TAfterLoadEvent& GetOnAfterLoad() = 0;
  virtual int32_t LoadData() = 0;
};

}  // namespace Orvane
