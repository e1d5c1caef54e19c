#include "OrvaneCore/Container/Container.h"

#include <span>
#include <unordered_map>

namespace Orvane {

namespace {

struct TStringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view AText) const { return std::hash<std::string_view>{}(AText); }
};

}  // namespace

// A built registration: its description, fixed at Build, and the state of its singleton. Shared
// by every plan made after it was built, so rebuilding keeps the singletons.
struct TContainer::TRecord {
  TRecord(TRegistrationInfo AInfo, uint64_t AGeneration) : Info(std::move(AInfo)), Generation(AGeneration) {}

  // "TAgentTaskJobListProvider for IJobListProvider<TScannerJobAction> {GUID}, IAgentTaskQueue {GUID}"
  std::string Describe() const {
    std::string LText = Info.ClassName + " for ";
    for (std::size_t LIndex = 0; LIndex < Info.Services.size(); ++LIndex) {
      if (LIndex > 0) LText += ", ";
      LText += Info.Services[LIndex].Describe();
    }
    return LText;
  }

  const TRegistrationInfo Info;
  const uint64_t Generation;
  TOnceState Singleton;
};

struct TContainer::TServiceRef {
  uint32_t Registration;
  uint32_t Service;
};

// What one Build made resolvable: every registration with its chosen constructor, and an index
// from IID to the services in registration order. Immutable once published, so resolutions read
// it without the container's lock.
struct TContainer::TPlan {
  struct TPlanned {
    explicit TPlanned(std::shared_ptr<TRecord> ARecord) : Record(std::move(ARecord)) {}
    std::shared_ptr<TRecord> Record;
    const TConstructorInfo* Constructor = nullptr;  // the chosen one; none for delegates
    bool Buildable = false;
    std::string Failure;  // why it cannot be built
  };

  std::vector<TPlanned> Registrations;
  std::unordered_map<std::string, std::vector<TServiceRef>, TStringHash, std::equal_to<>> ByIid;

  const TServiceInfo& Service(const TServiceRef& ARef) const {
    return Registrations[ARef.Registration].Record->Info.Services[ARef.Service];
  }

  const std::vector<TServiceRef>* AllOf(std::string_view AIid) const {
    const auto LFound = ByIid.find(AIid);
    return LFound == ByIid.end() ? nullptr : &LFound->second;
  }

  // The registration answering to AIid under AName: the last one registered.
  const TServiceRef* Find(std::string_view AIid, std::string_view AName) const {
    const std::vector<TServiceRef>* LAll = AllOf(AIid);
    if (!LAll) return nullptr;
    for (auto LRef = LAll->rbegin(); LRef != LAll->rend(); ++LRef)
      if (Service(*LRef).Name == AName) return &*LRef;
    return nullptr;
  }

  void Index() {
    for (uint32_t LRegistration = 0; LRegistration < Registrations.size(); ++LRegistration) {
      const std::vector<TServiceInfo>& LServices = Registrations[LRegistration].Record->Info.Services;
      for (uint32_t LService = 0; LService < LServices.size(); ++LService)
        ByIid[LServices[LService].Iid].push_back({LRegistration, LService});
    }
  }

  static std::span<const TConstructorInfo> ConstructorsOf(const TRegistrationInfo& AInfo) {
    if (!AInfo.Constructors.empty()) return AInfo.Constructors;
    if (AInfo.ImplicitConstructor) return {&*AInfo.ImplicitConstructor, 1};
    return {};
  }

  bool Supplied(const TParamRequirement& AParam) const {
    switch (AParam.Kind) {
      case TParamRequirement::TKind::Lazy:
      case TParamRequirement::TKind::Sequence:
        return true;
      case TParamRequirement::TKind::Service:
      case TParamRequirement::TKind::Func:
      case TParamRequirement::TKind::Value:
        break;
    }
    const TServiceRef* LRef = Find(AParam.Iid, AParam.Name);
    return LRef && Registrations[LRef->Registration].Buildable;
  }

  bool Satisfied(const TConstructorInfo& AConstructor) const {
    for (const TParamRequirement& LParam : AConstructor.Params)
      if (!Supplied(LParam)) return false;
    return true;
  }

  // Which registrations can be built is a least fixed point: a registration is buildable when one
  // of its constructors needs only buildable ones, so dependency cycles without Lazy stay
  // unbuildable. Then each takes its longest satisfiable constructor, the first declared on a tie.
  void ChooseConstructors() {
    for (TPlanned& LPlanned : Registrations)
      LPlanned.Buildable = static_cast<bool>(LPlanned.Record->Info.Delegate);
    for (bool LChanged = true; LChanged;) {
      LChanged = false;
      for (TPlanned& LPlanned : Registrations) {
        if (LPlanned.Buildable) continue;
        for (const TConstructorInfo& LConstructor : ConstructorsOf(LPlanned.Record->Info))
          if (Satisfied(LConstructor)) {
            LPlanned.Buildable = LChanged = true;
            break;
          }
      }
    }
    for (TPlanned& LPlanned : Registrations) {
      if (LPlanned.Record->Info.Delegate) continue;
      for (const TConstructorInfo& LConstructor : ConstructorsOf(LPlanned.Record->Info))
        if (Satisfied(LConstructor) &&
            (!LPlanned.Constructor || LConstructor.Params.size() > LPlanned.Constructor->Params.size()))
          LPlanned.Constructor = &LConstructor;
      if (!LPlanned.Buildable) LPlanned.Failure = ExplainFailure(LPlanned);
    }
  }

  std::string ExplainFailure(const TPlanned& APlanned) const {
    const TRegistrationInfo& LInfo = APlanned.Record->Info;
    const std::span<const TConstructorInfo> LConstructors = ConstructorsOf(LInfo);
    if (LConstructors.empty())
      return LInfo.ClassName +
             " declares no constructor it can be built with (declare Constructors<Ctor<...>>() or a "
             "delegate)";
    std::string LText = LInfo.ClassName + " has no constructor whose parameters can all be supplied:";
    for (const TConstructorInfo& LConstructor : LConstructors) {
      LText += " constructor (";
      for (std::size_t LIndex = 0; LIndex < LConstructor.Params.size(); ++LIndex)
        LText += (LIndex > 0 ? ", " : "") + LConstructor.Params[LIndex].Describe();
      LText += ")";
      for (std::size_t LIndex = 0; LIndex < LConstructor.Params.size(); ++LIndex) {
        const TParamRequirement& LParam = LConstructor.Params[LIndex];
        if (Supplied(LParam)) continue;
        LText += " lacks parameter " + std::to_string(LIndex + 1) + ", " + LParam.Describe();
        if (const TServiceRef* LRef = Find(LParam.Iid, LParam.Name))
          LText += ", whose registration (" + Registrations[LRef->Registration].Record->Info.ClassName +
                   ") cannot be built";
        else
          LText += ", which has no registration";
        break;
      }
      LText += ";";
    }
    LText.pop_back();
    return LText;
  }
};

TContainer::TContainer() : FPlan(std::make_shared<const TPlan>()) {}

TContainer::~TContainer() = default;

uint64_t TContainer::AddRegistration(TRegistrationInfo AInfo) {
  TMutexLock LLock(FLock);
  AInfo.Id = ++FNextId;
  FPending.push_back(std::move(AInfo));
  return FNextId;
}

void TContainer::EditRegistration(uint64_t AId, const std::function<void(TRegistrationInfo&)>& AEdit) {
  TMutexLock LLock(FLock);
  for (TRegistrationInfo& LInfo : FPending)
    if (LInfo.Id == AId) {
      AEdit(LInfo);
      return;
    }
  std::string LClassName = "a class";
  for (const TPlan::TPlanned& LPlanned : FPlan->Registrations)
    if (LPlanned.Record->Info.Id == AId) LClassName = LPlanned.Record->Info.ClassName;
  throw EContainerError("The registration of " + LClassName +
                        " was built already (or torn down); it cannot change any more");
}

bool TContainer::HasService(std::string_view AIid, const std::string_view* AName) {
  TMutexLock LLock(FLock);
  if (const std::vector<TServiceRef>* LAll = FPlan->AllOf(AIid))
    for (const TServiceRef& LRef : *LAll)
      if (!AName || FPlan->Service(LRef).Name == *AName) return true;
  for (const TRegistrationInfo& LInfo : FPending)
    for (const TServiceInfo& LService : LInfo.Services)
      if (LService.Iid == AIid && (!AName || LService.Name == *AName)) return true;
  return false;
}

void TContainer::Build() {
  std::shared_ptr<const TPlan> LReplaced;  // released after the lock
  std::string LUseless;
  {
    TMutexLock LLock(FLock);
    auto LPlan = std::make_shared<TPlan>();
    LPlan->Registrations.reserve(FPlan->Registrations.size() + FPending.size());
    for (const TPlan::TPlanned& LPlanned : FPlan->Registrations)
      LPlan->Registrations.emplace_back(LPlanned.Record);
    for (TRegistrationInfo& LInfo : FPending) {
      // Nothing could ever resolve it; the others are built all the same, and Build reports it.
      if (LInfo.Services.empty())
        LUseless += (LUseless.empty() ? "" : ", ") + LInfo.ClassName;
      else
        LPlan->Registrations.emplace_back(std::make_shared<TRecord>(std::move(LInfo), FGeneration));
    }
    FPending.clear();
    LPlan->Index();
    LPlan->ChooseConstructors();
    LReplaced = std::exchange(FPlan, std::move(LPlan));
  }
  if (!LUseless.empty())
    throw EContainerError(
        "Registrations that name no service they implement were dropped (add Implements<I>()): " + LUseless);
}

std::shared_ptr<const TContainer::TPlan> TContainer::CurrentPlan() {
  TMutexLock LLock(FLock);
  return FPlan;
}

std::shared_ptr<void> TContainer::ResolveService(std::string_view AIid, std::string_view AName,
                                                 TReadableNameFunc AReadableName) {
  const std::shared_ptr<const TPlan> LPlan = CurrentPlan();
  const TServiceRef* LRef = LPlan->Find(AIid, AName);
  if (!LRef) ThrowNotRegistered(AIid, AName, AReadableName, *LPlan);
  return Instantiate(*LPlan, *LRef);
}

void TContainer::RequireService(std::string_view AIid, std::string_view AName,
                                TReadableNameFunc AReadableName) {
  const std::shared_ptr<const TPlan> LPlan = CurrentPlan();
  if (!LPlan->Find(AIid, AName)) ThrowNotRegistered(AIid, AName, AReadableName, *LPlan);
}

void TContainer::ThrowNotRegistered(std::string_view AIid, std::string_view AName,
                                    TReadableNameFunc AReadableName, const TPlan& APlan) {
  std::string LText = "Cannot resolve " + DescribeService(AReadableName(), AIid, AName) + ": ";
  const bool LPending = HasService(AIid, &AName);
  std::string LNames;
  if (const std::vector<TServiceRef>* LAll = APlan.AllOf(AIid))
    for (const TServiceRef& LRef : *LAll) {
      const std::string& LName = APlan.Service(LRef).Name;
      LNames += LNames.empty() ? "" : ", ";
      LNames += LName.empty() ? std::string("unnamed") : "\"" + LName + "\"";
    }
  if (LPending)
    LText += "it is registered, but the container was not built since (call Build)";
  else if (LNames.empty())
    LText += "it has no registration";
  else
    LText += "no registration under this name (registered: " + LNames + ")";
  throw EContainerError(LText);
}

std::shared_ptr<void> TContainer::Instantiate(const TPlan& APlan, const TServiceRef& ARef) {
  const TPlan::TPlanned& LPlanned = APlan.Registrations[ARef.Registration];
  const TServiceInfo& LService = APlan.Service(ARef);
  std::shared_ptr<void> LInstance;
  if (LPlanned.Record->Info.Lifetime == TLifetime::Singleton) {
    const TRecord& LRecord = *LPlanned.Record;
    bool LCreated = false;
    LInstance = LPlanned.Record->Singleton.Get([&] { return CreateInstance(APlan, ARef); },
                                               [&LRecord] { return "The singleton " + LRecord.Describe(); },
                                               &LCreated);
    if (LCreated) NoteSingletonBuilt(LPlanned.Record);
  } else {
    LInstance = CreateInstance(APlan, ARef);
  }
  return LService.Caster(LInstance);
}

std::shared_ptr<void> TContainer::CreateInstance(const TPlan& APlan, const TServiceRef& ARef) {
  const TPlan::TPlanned& LPlanned = APlan.Registrations[ARef.Registration];
  if (!LPlanned.Buildable)
    throw EContainerError("Cannot resolve " + APlan.Service(ARef).Describe() + ": " + LPlanned.Failure);
  const TRegistrationInfo& LInfo = LPlanned.Record->Info;
  std::shared_ptr<void> LInstance =
      LInfo.Delegate ? LInfo.Delegate(*this) : LPlanned.Constructor->Create(*this);
  if (!LInstance)
    throw EContainerError("Cannot resolve " + APlan.Service(ARef).Describe() + ": the delegate of " +
                          LInfo.ClassName + " returned nullptr");
  return LInstance;
}

void TContainer::NoteSingletonBuilt(const std::shared_ptr<TRecord>& ARecord) {
  TMutexLock LLock(FLock);
  if (ARecord->Generation == FGeneration) FBuiltSingletons.push_back(ARecord);
}

TContainer::TUntypedEnumerator TContainer::EnumerateServices(std::string AIid,
                                                             TReadableNameFunc AReadableName) {
  std::shared_ptr<const TPlan> LPlan = CurrentPlan();
  const std::vector<TServiceRef>* LRefs = LPlan->AllOf(AIid);
  return [this, LPlan = std::move(LPlan), LRefs, LIid = std::move(AIid), AReadableName,
          LIndex = std::size_t{0}]() mutable -> std::optional<std::shared_ptr<void>> {
    if (!LRefs || LIndex >= LRefs->size()) return std::nullopt;
    const TServiceRef LRef = (*LRefs)[LIndex++];
    try {
      return Instantiate(*LPlan, LRef);
    } catch (const EContainerError& AError) {
      throw EContainerError("The sequence of all " + AReadableName() + " " + LIid + " fails at element " +
                            std::to_string(LIndex) + ", " +
                            LPlan->Registrations[LRef.Registration].Record->Info.ClassName +
                            " registered as " + LPlan->Service(LRef).Describe() + ": " + AError.Message());
    }
  };
}

void TContainer::Teardown() {
  std::shared_ptr<const TPlan> LPlan;
  std::vector<std::shared_ptr<TRecord>> LSingletons;
  std::vector<TRegistrationInfo> LPending;
  {
    TMutexLock LLock(FLock);
    LPlan = std::exchange(FPlan, std::make_shared<const TPlan>());
    LSingletons.swap(FBuiltSingletons);
    LPending.swap(FPending);
    ++FGeneration;
  }
  // Last built first: a singleton goes before the singletons it was built from.
  while (!LSingletons.empty()) {
    std::shared_ptr<void> LInstance = LSingletons.back()->Singleton.Take();
    LSingletons.pop_back();
    LInstance.reset();
  }
  // Registered instances and the delegates holding them go last.
  LPlan.reset();
  LPending.clear();
}

TContainer& GlobalContainer() {
  static TContainer* const LContainer = new TContainer();
  return *LContainer;
}

}  // namespace Orvane
