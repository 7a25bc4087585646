// TComponent: a named object owned by another component.
//
//   TComponent(Owner)       inserts itself into Owner's list; the owner destroys its components
//                           (last created first) when it is destroyed.
//   Name()/SetName()        a valid identifier or empty, unique (ignoring case) among the
//                           owner's components; EComponentError otherwise.
//   Owner(), ComponentCount(), Components(i), ComponentIndex(), FindComponent(name) (direct
//   children, ignoring case), InsertComponent/RemoveComponent (changes of owner).
//   Notification(c, op)     told of opInsert/opRemove of a component. The owner is told when a
//                           component is inserted or removed and passes the news on to all its
//                           components (not while it is being destroyed itself). For every link
//                           to another component call c->FreeNotification(this): each of the two
//                           then hears Notification(other, opRemove) when the other is destroyed,
//                           also while their owner is destroyed (RemoveFreeNotification undoes
//                           it). A component may hear of one removal twice (directly and through
//                           the owner). The default Notification forgets a removed partner;
//                           overrides call the inherited one.
//   ComponentState()        csLoading while read from a stream (cleared by Loaded()), csReading
//                           while its own properties are read, csWriting, csDestroying,
//                           csDesigning, csUpdating.
//   Loaded()                called by the reader once the whole stream is read and every
//                           reference is resolved; overrides call the inherited one.
//   Tag()/SetTag()          a free integer.
// Stream hooks (toolkit/Filer.h): GetChildren() lists the components written inside this one
// (default: a root lists the components it owns that have no parent component);
// SetParentComponent()/GetParentComponent()/HasParent() tie a component to the clause it is
// nested in (visual controls take it as their parent); MethodAddress(name) gives the handler
// named in a stream ("OnClick = KapatBTNClick") as a std::any holding the event's exact
// std::function type (a form fills it from its table of handlers, see toolkit/Methods.h).
//
// Destruction order: csDestroying is set on this component and everything it owns, free
// notification partners are told, the owned components are destroyed, then the owner is told.
// The owned components outlive the derived class's own members; a derived class whose owned
// components depend on its members calls DestroyComponents() first in its destructor.
#pragma once

#include "toolkit/Persistent.h"
#include "toolkit/Sets.h"

#include <any>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum TOperation { opInsert, opRemove };

enum TComponentStateItem { csLoading, csReading, csWriting, csDestroying, csDesigning, csUpdating };
using TComponentState = SetOf<TComponentStateItem>;

namespace kv::toolkit {
class ComponentAccess;
}

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;

    std::string ClassName() const override { return "TComponent"; }

    const std::string& Name() const { return FName; }
    virtual void SetName(const std::string& NewName);
    TComponent* Owner() const { return FOwner; }
    TPersistent* GetOwner() const override { return FOwner; }
    std::string GetNamePath() const override { return FName; }

    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int Index) const;
    int ComponentIndex() const;
    TComponent* FindComponent(std::string_view AName) const;
    void InsertComponent(TComponent* AComponent);
    void RemoveComponent(TComponent* AComponent);
    void DestroyComponents();
    // Marks this component and all it owns as being destroyed.
    void Destroying();

    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

    TComponentState ComponentState() const { return FComponentState; }
    void SetDesigning(bool Value, bool SetChildren = true);

    std::intptr_t Tag() const { return FTag; }
    void SetTag(std::intptr_t Value) { FTag = Value; }

    // Stream hooks.
    virtual void GetChildren(const std::function<void(TComponent*)>& Proc, TComponent* Root);
    virtual TComponent* GetParentComponent() const { return nullptr; }
    virtual bool HasParent() const { return false; }
    virtual void SetParentComponent(TComponent* /*Value*/) {}
    virtual std::any MethodAddress(const std::string& /*Name*/) const { return {}; }

    virtual void Notification(TComponent* AComponent, TOperation Operation);

protected:
    virtual void Loaded();
    virtual void ValidateRename(TComponent* AComponent, const std::string& CurName,
                                const std::string& NewName);
    void SetStateItem(TComponentStateItem Item, bool On);
    void BeginUpdateState() { SetStateItem(csUpdating, true); }
    void EndUpdateState() { SetStateItem(csUpdating, false); }

private:
    friend class kv::toolkit::ComponentAccess;

    void insertOwned(TComponent* AComponent);
    void removeOwned(TComponent* AComponent);
    void removeFreeNotify(TComponent* AComponent);

    std::string FName;
    TComponent* FOwner = nullptr;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
    TComponentState FComponentState;
    std::intptr_t FTag = 0;
    // Handler names of event properties set from a stream: (property, handler).
    std::vector<std::pair<std::string, std::string>> FMethodNames;
};

namespace kv::toolkit {

// The few TComponent internals that the stream reader and the property tables use.
class ComponentAccess {
public:
    static void setState(TComponent* c, TComponentStateItem item, bool on) {
        c->SetStateItem(item, on);
    }
    static void loaded(TComponent* c) { c->Loaded(); }
    static void setMethodName(TComponent* c, const std::string& prop, const std::string& handler);
    static std::string methodName(const TComponent* c, const std::string& prop);
};

} // namespace kv::toolkit
