#pragma once

#include <cstddef>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace Orvane {

// A lazy sequence: each walk asks the source for a fresh enumerator and evaluates it step by step
// while the caller walks, so filters run during the walk and a sequence can be walked again.
// A value type; copies share the source.
template <class T>
class IEnumerable {
public:
  // Returns the next element, or nothing at the end.
  using TEnumerator = std::function<std::optional<T>()>;
  using TSource = std::function<TEnumerator()>;

  IEnumerable() : FSource(std::make_shared<TSource>([] { return TEnumerator([] { return std::optional<T>(); }); })) {}
  explicit IEnumerable(TSource ASource) : FSource(std::make_shared<TSource>(std::move(ASource))) {}

  // A sequence over a copy of AItems.
  static IEnumerable FromVector(std::vector<T> AItems) {
    auto LItems = std::make_shared<const std::vector<T>>(std::move(AItems));
    return IEnumerable([LItems] {
      return TEnumerator([LItems, LIndex = std::size_t{0}]() mutable -> std::optional<T> {
        if (LIndex >= LItems->size()) return std::nullopt;
        return (*LItems)[LIndex++];
      });
    });
  }

  // The elements for which APredicate holds, evaluated during the walk.
  template <class TPredicate>
  IEnumerable Where(TPredicate APredicate) const {
    auto LSource = FSource;
    return IEnumerable([LSource, APredicate] {
      return TEnumerator([LNext = (*LSource)(), APredicate]() mutable -> std::optional<T> {
        while (std::optional<T> LItem = LNext())
          if (APredicate(*LItem)) return LItem;
        return std::nullopt;
      });
    });
  }

  std::vector<T> ToVector() const {
    std::vector<T> LResult;
    for (const T& LItem : *this) LResult.push_back(LItem);
    return LResult;
  }

  class iterator {
  public:
    using iterator_category = std::input_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T*;
    using reference = const T&;

    iterator() = default;
    explicit iterator(TEnumerator ANext) : FNext(std::make_shared<TEnumerator>(std::move(ANext))) { Step(); }
    const T& operator*() const { return *FCurrent; }
    const T* operator->() const { return &*FCurrent; }
    iterator& operator++() {
      Step();
      return *this;
    }
    void operator++(int) { Step(); }
    bool operator==(const iterator& AOther) const { return !FCurrent && !AOther.FCurrent; }

  private:
    void Step() {
      FCurrent = (*FNext)();
      if (!FCurrent) FNext.reset();
    }
    std::shared_ptr<TEnumerator> FNext;
    std::optional<T> FCurrent;
  };

  iterator begin() const { return iterator((*FSource)()); }
  iterator end() const { return iterator(); }

private:
  std::shared_ptr<const TSource> FSource;
};

}  // namespace Orvane
