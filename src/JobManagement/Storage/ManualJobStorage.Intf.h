#pragma once

#include "OrvaneCore/Interfaces/ItemSaver.Intf.h"

namespace Orvane {

class TScannerJobAction;

// Container keys by which the queue and the job list provider each get the saver and the loader of
// their own manual-job file. They add nothing; owners use the base interfaces.
template <class T>
struct IManualJobSaverQueue;
template <class T>
struct IManualJobSaverJobList;
template <class T>
struct IManualJobLoaderQueue;
template <class T>
struct IManualJobLoaderJobList;

template <>
struct IManualJobSaverQueue<TScannerJobAction> : virtual IItemSaver<TJob> {
  static constexpr const char* IID = "{0E9FFE08-E25D-4CA0-ABAB-46A75573A83B}";
  static constexpr const char* Name = "IManualJobSaverQueue<TScannerJobAction>";
};

template <>
struct IManualJobSaverJobList<TScannerJobAction> : virtual IItemSaver<TJob> {
  static constexpr const char* IID = "{4E627127-D970-4B1B-8863-225F6C684E2B}";
  static constexpr const char* Name = "IManualJobSaverJobList<TScannerJobAction>";
};

template <>
struct IManualJobLoaderQueue<TScannerJobAction> : virtual IListProvider<TJob> {
  static constexpr const char* IID = "{72DEC96E-4B7C-4719-9D8A-376D967F7C61}";
  static constexpr const char* Name = "IManualJobLoaderQueue<TScannerJobAction>";
};

template <>
struct IManualJobLoaderJobList<TScannerJobAction> : virtual IListProvider<TJob> {
  static constexpr const char* IID = "{A3A16CD3-3AFD-4A9D-A4E7-315F07719D29}";
  static constexpr const char* Name = "IManualJobLoaderJobList<TScannerJobAction>";
};

}  // namespace Orvane
