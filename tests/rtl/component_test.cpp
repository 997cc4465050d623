#include "rtl/classes.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vazur_test {
class TComParity : public TPersistent {};
class TComBuffer : public TPersistent {};
template <typename T>
class TBox : public TObject {};
}  // namespace vazur_test

namespace {

using vazur_test::TComBuffer;
using vazur_test::TComParity;

class TPlain : public TObject {};

// Knows how to copy itself into a TCopyTarget, not the other way round.
class TCopyTarget;
class TCopySource : public TPersistent {
 public:
  int value = 0;

 protected:
  void AssignTo(TPersistent* Dest) const override;
};
class TCopyTarget : public TPersistent {
 public:
  int value = 0;
};
void TCopySource::AssignTo(TPersistent* Dest) const {
  if (auto* target = dynamic_cast<TCopyTarget*>(Dest))
    target->value = value;
  else
    TPersistent::AssignTo(Dest);
}

TEST(RtlComponent, ClassNameHasNoNamespaces) {
  EXPECT_EQ(TComParity().ClassName(), "TComParity");
  EXPECT_EQ(TPlain().ClassName(), "TPlain");  // anonymous namespace
  EXPECT_EQ(TComponent(nullptr).ClassName(), "TComponent");
  EXPECT_EQ(vazur_test::TBox<vazur_test::TComParity>().ClassName(), "TBox<vazur_test::TComParity>");
  std::unique_ptr<TPersistent> asBase = std::make_unique<TComBuffer>();
  EXPECT_EQ(asBase->ClassName(), "TComBuffer");  // the dynamic type
}

TEST(RtlComponent, ImpossibleCopyNamesBothClasses) {
  TComParity parity;
  TComBuffer buffer;
  try {
    buffer.Assign(&parity);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TComParity to a TComBuffer");
    EXPECT_STREQ(e.what(), "Cannot assign a TComParity to a TComBuffer");
  }
  try {
    buffer.Assign(nullptr);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a nil to a TComBuffer");
  }
  // Caught as the standard base too.
  EXPECT_THROW(parity.Assign(&buffer), std::exception);
}

TEST(RtlComponent, AssignAsksTheSourceToAssignTo) {
  TCopySource source;
  source.value = 7;
  TCopyTarget target;
  target.Assign(&source);
  EXPECT_EQ(target.value, 7);
  TComBuffer other;
  try {
    other.Assign(&source);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TCopySource to a TComBuffer");
  }
}

// Logs its destruction and every notification it receives.
class TLogged : public TComponent {
 public:
  TLogged(TComponent* owner, std::string name, std::vector<std::string>& log) : TComponent(owner), log_(log) {
    SetName(std::move(name));
  }
  ~TLogged() override { log_.push_back("~" + Name()); }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    if (Operation == opRemove) log_.push_back(Name() + " told " + AComponent->Name() + " goes");
    TComponent::Notification(AComponent, Operation);
  }

 private:
  std::vector<std::string>& log_;
};

// A target that is no component (a widget showing a port's property).
class Watcher : public IFreeNotification {
 public:
  Watcher(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}
  ~Watcher() override {
    if (subject_ != nullptr) subject_->RemoveFreeNotification(this);
  }
  void Watch(TComponent* subject) {
    subject_ = subject;
    subject->FreeNotification(this);
  }
  void Unwatch() {
    if (subject_ != nullptr) subject_->RemoveFreeNotification(this);
    subject_ = nullptr;
  }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    if (Operation != opRemove) return;
    log_.push_back(name_ + " told " + AComponent->Name() + " goes");
    if (AComponent == subject_) subject_ = nullptr;
  }

 private:
  std::string name_;
  std::vector<std::string>& log_;
  TComponent* subject_ = nullptr;
};

TEST(RtlComponent, OwnerDestroysOwnedLastCreatedFirst) {
  std::vector<std::string> log;
  auto* form = new TLogged(nullptr, "Form1", log);
  auto* port = new TLogged(form, "ComPort1", log);
  new TLogged(port, "EventThread", log);
  new TLogged(form, "Memo1", log);
  ASSERT_EQ(form->ComponentCount(), 2);
  EXPECT_EQ(form->Components(0), port);
  EXPECT_EQ(port->Owner(), form);
  EXPECT_EQ(form->FindComponent("comport1"), port);
  EXPECT_EQ(form->FindComponent("EventThread"), nullptr);  // not owned directly
  EXPECT_EQ(form->FindComponent(""), nullptr);
  delete form;
  EXPECT_EQ(log, (std::vector<std::string>{"~Form1", "~Memo1", "~ComPort1", "~EventThread"}));
}

TEST(RtlComponent, DestroyedChildLeavesOwnerWhichIsTold) {
  std::vector<std::string> log;
  TLogged form(nullptr, "Form1", log);
  auto* port = new TLogged(&form, "ComPort1", log);
  new TLogged(&form, "Memo1", log);
  delete port;
  ASSERT_EQ(form.ComponentCount(), 1);
  EXPECT_EQ(form.Components(0)->Name(), "Memo1");
  // The owner passes the news on to the rest of what it owns.
  EXPECT_EQ(log, (std::vector<std::string>{"~ComPort1", "Form1 told ComPort1 goes", "Memo1 told ComPort1 goes"}));
}

TEST(RtlComponent, FreeNotificationReachesComponentAndOtherTargets) {
  std::vector<std::string> log;
  auto* port = new TLogged(nullptr, "ComPort1", log);
  TLogged dialog(nullptr, "Form2", log);
  Watcher combo("ComboBox", log);
  port->FreeNotification(&dialog);
  port->FreeNotification(&dialog);  // registered once
  combo.Watch(port);
  delete port;
  EXPECT_EQ(log, (std::vector<std::string>{"~ComPort1", "ComboBox told ComPort1 goes", "Form2 told ComPort1 goes"}));
}

TEST(RtlComponent, TargetDestroyedFirstIsNeverCalled) {
  std::vector<std::string> log;
  auto* port = new TLogged(nullptr, "ComPort1", log);
  auto* dialog = new TLogged(nullptr, "Form2", log);
  auto combo = std::make_unique<Watcher>("ComboBox", log);
  port->FreeNotification(dialog);
  combo->Watch(port);
  delete dialog;  // unregisters itself
  combo.reset();  // unregisters in its destructor
  log.clear();
  delete port;  // under ASan, a stale target here would be a use after free
  EXPECT_EQ(log, (std::vector<std::string>{"~ComPort1"}));
}

TEST(RtlComponent, RemoveFreeNotificationAndChangesDuringNotification) {
  std::vector<std::string> log;
  auto* port = new TLogged(nullptr, "ComPort1", log);
  Watcher first("First", log), second("Second", log), third("Third", log);
  first.Watch(port);
  second.Watch(port);
  first.Unwatch();
  // A target that drops another target while being told.
  class Dropper : public IFreeNotification {
   public:
    explicit Dropper(Watcher* other) : other_(other) {}
    void Notification(TComponent*, TOperation) override { other_->Unwatch(); }

   private:
    Watcher* other_;
  } dropper(&second);
  port->FreeNotification(&dropper);
  third.Watch(port);
  log.clear();
  delete port;
  EXPECT_EQ(log, (std::vector<std::string>{"~ComPort1", "Third told ComPort1 goes"}));
}

// Counts Loaded calls and what it saw.
class TLoadable : public TComponent {
 public:
  using TComponent::TComponent;
  int loadedCalls = 0;
  bool loadingAfterBase = true;
  bool fail = false;

 protected:
  void Loaded() override {
    TComponent::Loaded();
    ++loadedCalls;
    loadingAfterBase = IsLoading();
    if (fail) throw std::runtime_error("open failed");
  }
};

TEST(RtlComponent, LoadedOnceAtEndLoading) {
  TLoadable port(nullptr);
  EXPECT_FALSE(port.IsLoading());
  port.EndLoading();  // not loading: nothing
  EXPECT_EQ(port.loadedCalls, 0);
  port.BeginLoading();
  port.BeginLoading();
  EXPECT_TRUE(port.IsLoading());
  EXPECT_TRUE(port.ComponentState() & csLoading);
  EXPECT_EQ(port.loadedCalls, 0);
  port.EndLoading();
  port.EndLoading();
  EXPECT_EQ(port.loadedCalls, 1);
  EXPECT_FALSE(port.loadingAfterBase);
  EXPECT_FALSE(port.IsLoading());

  TLoadable failing(nullptr);
  failing.fail = true;
  failing.BeginLoading();
  EXPECT_THROW(failing.EndLoading(), std::runtime_error);
  EXPECT_FALSE(failing.IsLoading());
}

TEST(RtlComponent, DesigningReachesOwnedComponents) {
  TComponent form(nullptr);
  auto* port = new TComponent(&form);
  form.SetDesigning(true);
  EXPECT_TRUE(port->IsDesigning());
  auto* later = new TComponent(&form);
  EXPECT_TRUE(later->IsDesigning());
  form.SetDesigning(false);
  EXPECT_FALSE(port->IsDesigning());
  EXPECT_FALSE(later->IsDesigning());
  EXPECT_FALSE(form.ComponentState() & csDestroying);
}

TEST(RtlComponent, DestroyingStateVisibleToOwnedComponents) {
  bool sawDestroying = false;
  class TChild : public TComponent {
   public:
    TChild(TComponent* owner, bool& saw) : TComponent(owner), saw_(saw) {}
    ~TChild() override { saw_ = (ComponentState() & csDestroying) != 0 && (Owner() == nullptr); }

   private:
    bool& saw_;
  };
  auto* form = new TComponent(nullptr);
  new TChild(form, sawDestroying);
  delete form;
  EXPECT_TRUE(sawDestroying);
}

}  // namespace
