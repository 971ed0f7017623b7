// The root classes of the component model: TObject, TComponent and the
// notification event type.
//
// Ownership: a component created with an owner is freed by that owner's
// destructor, children in reverse order of insertion.  Deleting a child first
// removes it from its owner, so nothing is freed twice.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::host {

struct PropInfo;

class TObject {
 public:
  virtual ~TObject();
  // The class's own name without namespaces ("TDTMF", "TTimer").  The
  // default is the name of the object's dynamic type; the class registry and
  // form streams identify classes by it.
  virtual std::string ClassName() const;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

// Component state flags (a set of bits).
using TComponentState = uint32_t;
constexpr TComponentState csLoading = 1;     // being read from a form stream
constexpr TComponentState csReading = 2;     // properties being assigned by a reader
constexpr TComponentState csWriting = 4;     // being written to a form stream
constexpr TComponentState csDestroying = 8;  // its destructor (or its owner's) runs

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  // The i-th owned component, in order of insertion; EListError outside
  // 0 .. ComponentCount() - 1.
  TComponent* Components(int i) const;
  // The index of this component in its owner's list, -1 without owner.
  int ComponentIndex() const;
  // The owned component of that name (case-insensitive), nullptr if none.
  TComponent* FindComponent(std::string_view name) const;

  // Moves `component` under this owner (removing it from its former owner).
  void InsertComponent(TComponent* component);
  // Takes `component` out of this owner's list without freeing it.
  void RemoveComponent(TComponent* component);
  // Frees every owned component, last inserted first.
  void DestroyComponents();

  const std::string& Name() const { return name_; }
  // A name is empty or an identifier (letter or '_', then letters, digits,
  // '_'), unique among the owner's components; EComponentError otherwise.
  virtual void set_Name(const std::string& name);

  TComponentState ComponentState() const { return state_; }
  bool InState(TComponentState flags) const { return (state_ & flags) != 0; }

  // Called by the form reader after every stored property has been assigned
  // and the name set.  The base clears csLoading.
  virtual void Loaded();

  // The published properties of the class, in declaration order (base:
  // none).  The list is per class, not per object.
  virtual const std::vector<PropInfo>& PublishedProperties() const;

  // The form reader and writer mark components while they work on them.
  void SetStateFlags(TComponentState flags) { state_ |= flags; }
  void ClearStateFlags(TComponentState flags) { state_ &= ~flags; }

 protected:
  // Marks this component and everything it owns as being destroyed.
  virtual void Destroying();

 private:
  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::string name_;
  TComponentState state_ = 0;
};

// True for an identifier as component names and form streams use them.
bool IsValidIdent(std::string_view name);

}  // namespace velmora::host
