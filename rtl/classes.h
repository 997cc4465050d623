// The component runtime: TObject, Exception, TPersistent, TComponent.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

// Root of every class that can be an event's Sender.
class TObject {
 public:
  virtual ~TObject() = default;
  // Class name without namespaces ("TComParity").
  virtual std::string ClassName() const;
};

// The runtime's base exception: carries the message text.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message);
  const char* what() const noexcept override;
  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }

 private:
  std::string message_;
};

// Raised for an impossible copy: "Cannot assign a TComParity to a TComBuffer".
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

class TPersistent : public TObject {
 public:
  // Copies Source into this object; the default asks Source to AssignTo us,
  // and fails with EConvertError when neither side knows the other.
  virtual void Assign(const TPersistent* Source);

 protected:
  virtual void AssignTo(TPersistent* Dest) const;
  [[noreturn]] void AssignError(const TPersistent* Source) const;
};

class TComponent;

enum TOperation { opInsert, opRemove };

// Anything that can be told a component is going away. Components take part
// by themselves; other objects (a Qt widget) implement this directly.
class IFreeNotification {
 public:
  virtual ~IFreeNotification() = default;
  virtual void Notification(TComponent* AComponent, TOperation Operation) = 0;
};

enum TComponentStateFlag : uint32_t {
  csLoading = 1u << 0,
  csDesigning = 1u << 1,
  csDestroying = 1u << 2,
};

class TComponent : public TPersistent, public IFreeNotification {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;  // tells the free-notification list, then destroys owned components

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(index); }
  // The owned component of that name (ASCII case ignored), or nullptr.
  TComponent* FindComponent(const std::string& name) const;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& value) { name_ = value; }

  uint32_t ComponentState() const { return state_; }
  bool IsLoading() const { return (state_ & csLoading) != 0; }
  bool IsDesigning() const { return (state_ & csDesigning) != 0; }
  void SetDesigning(bool value);  // also for every owned component

  // The loading bracket: setters only record while loading; EndLoading calls
  // Loaded() once, and csLoading is clear afterwards even if Loaded throws.
  void BeginLoading();
  void EndLoading();

  // Asks to be told (Notification with opRemove) when this component is destroyed.
  // A component target unregisters itself when it is destroyed first; any
  // other target must call RemoveFreeNotification before it goes.
  void FreeNotification(IFreeNotification* target);
  void RemoveFreeNotification(IFreeNotification* target);

  // Called for components inserted into or removed from this owner (and for
  // components this one asked to be told about). The base drops its own
  // reference to a removed component and passes the call on to what it owns.
  void Notification(TComponent* AComponent, TOperation Operation) override;

 protected:
  virtual void Loaded();  // clears csLoading; overrides call it first

 private:
  void InsertComponent(TComponent* child);
  void RemoveComponent(TComponent* child);

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::vector<IFreeNotification*> freeNotifies_;
  // Components whose free-notification list holds this one.
  std::vector<TComponent*> notifiedBy_;
  std::string name_;
  uint32_t state_ = 0;
};
