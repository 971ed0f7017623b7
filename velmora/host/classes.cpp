#include "velmora/host/classes.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "velmora/host/exception.h"
#include "velmora/host/properties.h"
#include "velmora/host/text.h"

namespace velmora::host {

TObject::~TObject() = default;

std::string TObject::ClassName() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  std::string full = status == 0 && demangled ? demangled.get() : mangled;
  // Drop the namespaces: the last "::" outside template arguments.
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i < full.size(); ++i) {
    if (full[i] == '<') ++depth;
    if (full[i] == '>') --depth;
    if (depth == 0 && full[i] == ':' && i + 1 < full.size() && full[i + 1] == ':') start = i + 2;
  }
  return full.substr(start);
}

bool IsValidIdent(std::string_view name) {
  if (name.empty()) return false;
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!alpha(name[0])) return false;
  return std::all_of(name.begin() + 1, name.end(),
                     [&](char c) { return alpha(c) || (c >= '0' && c <= '9'); });
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::Destroying() {
  if (InState(csDestroying)) return;
  state_ |= csDestroying;
  for (TComponent* c : components_) c->Destroying();
}

void TComponent::DestroyComponents() {
  // A child's destructor may add or remove siblings, so take one at a time.
  while (!components_.empty()) {
    TComponent* child = components_.back();
    components_.pop_back();
    child->owner_ = nullptr;
    delete child;
  }
}

TComponent* TComponent::Components(int i) const {
  if (i < 0 || i >= ComponentCount()) {
    throw EListError("List index out of bounds (" + std::to_string(i) + ")");
  }
  return components_[static_cast<size_t>(i)];
}

int TComponent::ComponentIndex() const {
  if (!owner_) return -1;
  auto& list = owner_->components_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_) {
    if (SameText(c->name_, name)) return c;
  }
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (!component || component->owner_ == this) return;
  if (component->owner_) component->owner_->RemoveComponent(component);
  components_.push_back(component);
  component->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it == components_.end()) return;
  components_.erase(it);
  component->owner_ = nullptr;
}

void TComponent::set_Name(const std::string& name) {
  if (name == name_) return;
  if (!name.empty() && !IsValidIdent(name)) {
    throw EComponentError("'" + name + "' is not a valid component name");
  }
  if (owner_ && !name.empty()) {
    TComponent* other = owner_->FindComponent(name);
    if (other && other != this) {
      throw EComponentError("A component named " + name + " already exists");
    }
  }
  name_ = name;
}

void TComponent::Loaded() {
  ClearStateFlags(csLoading);
}

const std::vector<PropInfo>& TComponent::PublishedProperties() const {
  static const std::vector<PropInfo> none;
  return none;
}

}  // namespace velmora::host
