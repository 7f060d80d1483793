#pragma once

#include <functional>
#include <unordered_set>
#include <utility>

namespace vendrake::engine {

// A set that can take one more value without allocating: MakeRoom takes the
// memory beforehand, while running out of it can still fail the file in hand,
// and Insert then cannot fail once that file's output has taken its name.
template <typename Value, typename Hash = std::hash<Value>>
class RoomySet {
 public:
  bool contains(const Value& value) const { return values_.contains(value); }

  // Allocates what the next Insert needs; throws std::bad_alloc.
  void MakeRoom() {
    if (spare_.empty()) {
      Set one{Value{}};
      spare_ = one.extract(one.begin());
    }
    // An insert that keeps within the load factor never rehashes; growing in
    // steps keeps rehashing rare.
    const auto needed = static_cast<float>(values_.size() + 1);
    if (needed > values_.max_load_factor() * static_cast<float>(values_.bucket_count())) {
      values_.reserve(2 * (values_.size() + 1));
    }
  }
  // Inserts `value` in the room MakeRoom made, allocating nothing.
  void Insert(Value value) {
    spare_.value() = std::move(value);
    auto inserted = values_.insert(std::move(spare_));
    if (!inserted.inserted) spare_ = std::move(inserted.node);
  }

 private:
  using Set = std::unordered_set<Value, Hash>;
  Set values_;
  typename Set::node_type spare_;
};

}  // namespace vendrake::engine
