#include "rtl/classes.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#if defined(__GNUG__)
#include <cxxabi.h>
#endif

namespace {

std::string Demangle(const char* name) {
#if defined(__GNUG__)
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> out(abi::__cxa_demangle(name, nullptr, nullptr, &status), std::free);
  if (status == 0 && out) return out.get();
  return name;
#else
  // MSVC: "class ns::TFoo" / "struct ns::TFoo"
  std::string s = name;
  for (const char* prefix : {"class ", "struct ", "enum "}) {
    std::string p = prefix;
    if (s.compare(0, p.size(), p) == 0) return s.substr(p.size());
  }
  return s;
#endif
}

// Drops the namespaces (also "(anonymous namespace)") but keeps template
// arguments whole: "a::b::TFoo<c::TBar>" -> "TFoo<c::TBar>".
std::string WithoutNamespaces(const std::string& name) {
  size_t start = 0;
  int depth = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == '<' || c == '(') ++depth;
    else if (c == '>' || c == ')') --depth;
    else if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') {
      start = i + 2;
      ++i;
    }
  }
  return name.substr(start);
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

template <typename T>
void EraseOne(std::vector<T>& v, const T& value) {
  auto it = std::find(v.begin(), v.end(), value);
  if (it != v.end()) v.erase(it);
}

}  // namespace

std::string TObject::ClassName() const { return WithoutNamespaces(Demangle(typeid(*this).name())); }

Exception::Exception(std::string message) : message_(std::move(message)) {}

const char* Exception::what() const noexcept { return message_.c_str(); }

void TPersistent::Assign(const TPersistent* Source) {
  if (Source != nullptr)
    Source->AssignTo(this);
  else
    AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* Dest) const { Dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* Source) const {
  std::string source = Source != nullptr ? Source->ClassName() : std::string("nil");
  throw EConvertError("Cannot assign a " + source + " to a " + ClassName());
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  state_ |= csDestroying;
  for (TComponent* child : components_) child->state_ |= csDestroying;

  // As a target: leave every list this component is on, so nobody calls it later.
  while (!notifiedBy_.empty()) {
    TComponent* subject = notifiedBy_.back();
    notifiedBy_.pop_back();
    EraseOne(subject->freeNotifies_, static_cast<IFreeNotification*>(this));
  }

  // As a subject: tell every target. Each entry is taken off before the call,
  // so a target that unregisters (or registers others) from inside is fine.
  while (!freeNotifies_.empty()) {
    IFreeNotification* target = freeNotifies_.back();
    freeNotifies_.pop_back();
    if (auto* component = dynamic_cast<TComponent*>(target)) EraseOne(component->notifiedBy_, this);
    target->Notification(this, opRemove);
  }

  // Owned components go last created first.
  while (!components_.empty()) {
    TComponent* child = components_.back();
    components_.pop_back();
    child->owner_ = nullptr;
    delete child;
  }

  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* child : components_)
    if (SameNameIgnoringCase(child->name_, name)) return child;
  return nullptr;
}

void TComponent::SetDesigning(bool value) {
  if (value)
    state_ |= csDesigning;
  else
    state_ &= ~static_cast<uint32_t>(csDesigning);
  for (TComponent* child : components_) child->SetDesigning(value);
}

void TComponent::BeginLoading() { state_ |= csLoading; }

void TComponent::EndLoading() {
  if (!IsLoading()) return;
  struct ClearLoading {
    uint32_t& state;
    ~ClearLoading() { state &= ~static_cast<uint32_t>(csLoading); }
  } guard{state_};
  Loaded();
}

void TComponent::Loaded() { state_ &= ~static_cast<uint32_t>(csLoading); }

void TComponent::FreeNotification(IFreeNotification* target) {
  if (target == nullptr || target == static_cast<IFreeNotification*>(this)) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), target) == freeNotifies_.end())
    freeNotifies_.push_back(target);
  if (auto* component = dynamic_cast<TComponent*>(target)) {
    if (std::find(component->notifiedBy_.begin(), component->notifiedBy_.end(), this) == component->notifiedBy_.end())
      component->notifiedBy_.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(IFreeNotification* target) {
  if (target == nullptr) return;
  EraseOne(freeNotifies_, target);
  if (auto* component = dynamic_cast<TComponent*>(target)) EraseOne(component->notifiedBy_, this);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent != nullptr) RemoveFreeNotification(AComponent);
  // A copy: a handler may add or remove components while we walk.
  std::vector<TComponent*> children = components_;
  for (TComponent* child : children) {
    if (child != AComponent && std::find(components_.begin(), components_.end(), child) != components_.end())
      child->Notification(AComponent, Operation);
  }
}

void TComponent::InsertComponent(TComponent* child) {
  child->owner_ = this;
  components_.push_back(child);
  if (IsDesigning()) child->SetDesigning(true);
  Notification(child, opInsert);
}

void TComponent::RemoveComponent(TComponent* child) {
  EraseOne(components_, child);
  child->owner_ = nullptr;
  Notification(child, opRemove);
}
