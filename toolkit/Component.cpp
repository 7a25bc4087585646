#include "toolkit/Component.h"

#include "toolkit/SysUtils.h"

#include <algorithm>

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner != nullptr)
        AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    Destroying();
    // Tell the free-notification partners; each forgets this component.
    while (!FFreeNotifies.empty()) {
        TComponent* partner = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        partner->removeFreeNotify(this);
        partner->Notification(this, opRemove);
    }
    DestroyComponents();
    if (FOwner != nullptr)
        FOwner->RemoveComponent(this);
}

TComponent* TComponent::Components(int Index) const {
    if (Index < 0 || Index >= ComponentCount())
        throw EComponentError("List index out of bounds (" + std::to_string(Index) + ")");
    return FComponents[static_cast<size_t>(Index)];
}

int TComponent::ComponentIndex() const {
    if (FOwner == nullptr)
        return -1;
    const auto& list = FOwner->FComponents;
    auto it = std::find(list.begin(), list.end(), this);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(std::string_view AName) const {
    if (AName.empty())
        return nullptr;
    for (TComponent* c : FComponents)
        if (SameText(c->FName, AName))
            return c;
    return nullptr;
}

void TComponent::SetName(const std::string& NewName) {
    if (FName == NewName)
        return;
    if (!NewName.empty() && !IsValidIdent(NewName))
        throw EComponentError("'" + NewName + "' is not a valid component name");
    if (FOwner != nullptr)
        FOwner->ValidateRename(this, FName, NewName);
    else
        ValidateRename(nullptr, FName, NewName);
    FName = NewName;
}

void TComponent::ValidateRename(TComponent* AComponent, const std::string& CurName,
                                const std::string& NewName) {
    if (AComponent == nullptr || NewName.empty() || SameText(CurName, NewName))
        return;
    TComponent* existing = FindComponent(NewName);
    if (existing != nullptr && existing != AComponent)
        throw EComponentError("A component named " + NewName + " already exists");
}

void TComponent::InsertComponent(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent->FOwner == this)
        return;
    ValidateRename(AComponent, std::string(), AComponent->FName);
    if (AComponent->FOwner != nullptr)
        AComponent->FOwner->RemoveComponent(AComponent);
    insertOwned(AComponent);
    Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent->FOwner != this)
        return;
    Notification(AComponent, opRemove);
    removeOwned(AComponent);
}

void TComponent::insertOwned(TComponent* AComponent) {
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
}

void TComponent::removeOwned(TComponent* AComponent) {
    auto it = std::find(FComponents.begin(), FComponents.end(), AComponent);
    if (it != FComponents.end())
        FComponents.erase(it);
    AComponent->FOwner = nullptr;
}

void TComponent::DestroyComponents() {
    while (!FComponents.empty()) {
        TComponent* last = FComponents.back();
        removeOwned(last);
        delete last;
    }
}

void TComponent::Destroying() {
    if (FComponentState.Contains(csDestroying))
        return;
    FComponentState.Include(csDestroying);
    for (TComponent* c : FComponents)
        c->Destroying();
}

void TComponent::FreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent == this)
        return;
    // Also between components of one owner: while the owner is destroyed it passes nothing on,
    // and a partner must not keep a pointer to a component that is already gone.
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) != FFreeNotifies.end())
        return;
    FFreeNotifies.push_back(AComponent);
    AComponent->FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr)
        return;
    removeFreeNotify(AComponent);
    AComponent->removeFreeNotify(this);
}

void TComponent::removeFreeNotify(TComponent* AComponent) {
    auto it = std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent);
    if (it != FFreeNotifies.end())
        FFreeNotifies.erase(it);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent != nullptr)
        RemoveFreeNotification(AComponent);
    if (FComponentState.Contains(csDestroying))
        return;
    // A copy: a handler may create or free components of this owner.
    const std::vector<TComponent*> owned = FComponents;
    for (TComponent* c : owned)
        if (std::find(FComponents.begin(), FComponents.end(), c) != FComponents.end())
            c->Notification(AComponent, Operation);
}

void TComponent::SetDesigning(bool Value, bool SetChildren) {
    SetStateItem(csDesigning, Value);
    if (SetChildren)
        for (TComponent* c : FComponents)
            c->SetDesigning(Value, true);
}

void TComponent::GetChildren(const std::function<void(TComponent*)>& Proc, TComponent* Root) {
    if (Root != this)
        return;
    for (TComponent* c : FComponents)
        if (!c->HasParent())
            Proc(c);
}

void TComponent::Loaded() {
    SetStateItem(csLoading, false);
}

void TComponent::SetStateItem(TComponentStateItem Item, bool On) {
    if (On)
        FComponentState.Include(Item);
    else
        FComponentState.Exclude(Item);
}

namespace kv::toolkit {

void ComponentAccess::setMethodName(TComponent* c, const std::string& prop,
                                    const std::string& handler) {
    auto& names = c->FMethodNames;
    for (auto it = names.begin(); it != names.end(); ++it) {
        if (SameText(it->first, prop)) {
            if (handler.empty())
                names.erase(it);
            else
                it->second = handler;
            return;
        }
    }
    if (!handler.empty())
        names.emplace_back(prop, handler);
}

std::string ComponentAccess::methodName(const TComponent* c, const std::string& prop) {
    for (const auto& [p, h] : c->FMethodNames)
        if (SameText(p, prop))
            return h;
    return {};
}

} // namespace kv::toolkit
