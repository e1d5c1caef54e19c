#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Orvane {

class TTessraData;

// A class reference of the system: the class's name, resolved through the registry.
using TClassName = std::string;

// One registry per process (in OrvaneCore): class name to parent and factory. Each library
// registers its own classes from static initialisers (ORVANE_REGISTER_CLASS). It serves the XML
// reader, polymorphic Clone, the "is this class or a descendant" test and class-level texts.
class TClassRegistry {
public:
  using TFactory = std::function<std::shared_ptr<TTessraData>()>;

  static TClassRegistry& Instance();

  // A second registration of a name replaces the first (a library loaded again).
  void Register(const TClassName& AName, const TClassName& AParent, TFactory AFactory);
  bool IsRegistered(const TClassName& AName) const;
  // nullptr when AName is unknown or abstract.
  std::shared_ptr<TTessraData> Create(const TClassName& AName) const;
  // Throws EClassNotFound naming the class when unknown.
  std::shared_ptr<TTessraData> CreateOrRaise(const TClassName& AName) const;
  // "" for a root class or an unknown name.
  TClassName ParentOf(const TClassName& AName) const;
  // AName is AAncestor or descends from it; false for unknown names.
  bool InheritsFrom(const TClassName& AName, const TClassName& AAncestor) const;
  std::vector<TClassName> ClassNames() const;

  TClassRegistry(const TClassRegistry&) = delete;
  TClassRegistry& operator=(const TClassRegistry&) = delete;

private:
  TClassRegistry();
  struct TState;
  std::unique_ptr<TState> FState;
};

// Registers T under ClassName() with its parent; T must be default-constructible.
template <class T>
struct TClassRegistration {
  TClassRegistration(const char* AName, const char* AParent) {
    TClassRegistry::Instance().Register(AName, AParent, [] { return std::make_shared<T>(); });
  }
};

// Registers an abstract class: it has no factory, but takes its place in the parent chain.
struct TAbstractClassRegistration {
  TAbstractClassRegistration(const char* AName, const char* AParent) {
    TClassRegistry::Instance().Register(AName, AParent, nullptr);
  }
};

#define ORVANE_REGISTER_CLASS(Class, Parent) \
  static const ::Orvane::TClassRegistration<Class> GClassRegistration_##Class(#Class, #Parent)
#define ORVANE_REGISTER_ABSTRACT_CLASS(Class, Parent) \
  static const ::Orvane::TAbstractClassRegistration GClassRegistration_##Class(#Class, #Parent)

}  // namespace Orvane
