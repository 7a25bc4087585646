#include "toolkit/Collection.h"

#include "toolkit/SysUtils.h"

#include <algorithm>

TCollectionItem::TCollectionItem(TCollection* Collection) {
    SetCollection(Collection);
}

TCollectionItem::~TCollectionItem() {
    SetCollection(nullptr);
}

TPersistent* TCollectionItem::GetOwner() const {
    return FCollection;
}

std::string TCollectionItem::GetNamePath() const {
    if (FCollection == nullptr)
        return ClassName();
    return FCollection->GetNamePath() + "[" + std::to_string(Index()) + "]";
}

void TCollectionItem::SetCollection(TCollection* Value) {
    if (FCollection == Value)
        return;
    if (FCollection != nullptr)
        FCollection->removeItem(this);
    if (Value != nullptr)
        Value->insertItem(this);
}

int TCollectionItem::Index() const {
    if (FCollection == nullptr)
        return -1;
    const auto& items = FCollection->FItems;
    auto it = std::find(items.begin(), items.end(), this);
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int Value) {
    const int cur = Index();
    if (cur < 0 || cur == Value)
        return;
    auto& items = FCollection->FItems;
    if (Value < 0 || Value >= static_cast<int>(items.size()))
        throw EComponentError("List index out of bounds (" + std::to_string(Value) + ")");
    items.erase(items.begin() + cur);
    items.insert(items.begin() + Value, this);
    Changed(true);
}

std::string TCollectionItem::DisplayName() const {
    return ClassName();
}

void TCollectionItem::Changed(bool AllItems) {
    if (FCollection != nullptr && FCollection->FUpdateCount == 0)
        FCollection->Update(AllItems ? nullptr : this);
}

TCollection::TCollection(ItemFactory Factory, TPersistent* Owner)
    : FFactory(std::move(Factory)), FOwner(Owner) {}

TCollection::~TCollection() {
    OnChange = nullptr;
    FUpdateCount = 1;
    while (!FItems.empty())
        delete FItems.back();
}

std::string TCollection::GetNamePath() const {
    return FOwner != nullptr ? FOwner->GetNamePath() : ClassName();
}

TCollectionItem* TCollection::Add() {
    return Insert(Count());
}

TCollectionItem* TCollection::Insert(int Index) {
    if (!FFactory)
        throw EComponentError("Collection has no item class");
    if (Index < 0 || Index > Count())
        throw EComponentError("List index out of bounds (" + std::to_string(Index) + ")");
    BeginUpdate();
    TCollectionItem* item = nullptr;
    try {
        item = FFactory(this);
        if (item->FCollection != this)
            item->SetCollection(this);
        if (item->Index() != Index)
            item->SetIndex(Index);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
    return item;
}

void TCollection::Delete(int Index) {
    delete Items(Index);
}

void TCollection::Clear() {
    if (FItems.empty())
        return;
    BeginUpdate();
    while (!FItems.empty())
        delete FItems.back();
    EndUpdate();
}

TCollectionItem* TCollection::Items(int Index) const {
    if (Index < 0 || Index >= Count())
        throw EComponentError("List index out of bounds (" + std::to_string(Index) + ")");
    return FItems[static_cast<size_t>(Index)];
}

TCollectionItem* TCollection::FindItemID(int ID) const {
    for (TCollectionItem* item : FItems)
        if (item->FID == ID)
            return item;
    return nullptr;
}

void TCollection::BeginUpdate() {
    ++FUpdateCount;
}

void TCollection::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0)
        Changed();
}

void TCollection::Changed() {
    if (FUpdateCount == 0)
        Update(nullptr);
}

void TCollection::Update(TCollectionItem* /*Item*/) {
    if (OnChange)
        OnChange(this);
}

void TCollection::insertItem(TCollectionItem* Item) {
    FItems.push_back(Item);
    Item->FCollection = this;
    Item->FID = FNextID++;
    Changed();
}

void TCollection::removeItem(TCollectionItem* Item) {
    auto it = std::find(FItems.begin(), FItems.end(), Item);
    if (it != FItems.end())
        FItems.erase(it);
    Item->FCollection = nullptr;
    Changed();
}

void TCollection::Assign(TPersistent* Source) {
    if (auto* src = dynamic_cast<TCollection*>(Source)) {
        if (src == this)
            return;
        BeginUpdate();
        try {
            Clear();
            for (TCollectionItem* item : src->FItems)
                Add()->Assign(item);
        } catch (...) {
            EndUpdate();
            throw;
        }
        EndUpdate();
        return;
    }
    TPersistent::Assign(Source);
}
