// TCollection / TCollectionItem: an owned, ordered list of items of one class.
//
//   TCollection(itemFactory, Owner)  itemFactory creates an item inside the collection
//                                    ([](TCollection* c) { return new TMyItem(c); });
//                                    Owner is the persistent the collection belongs to.
//   Add() -> new item (also Insert(i)), Count(), Items(i), Delete(i), Clear(), FindItemID(id).
//   BeginUpdate/EndUpdate; Update(item) is called after changes (item null: the whole list).
//   Assign(TCollection) copies the items with Item::Assign.
//   An item belongs to its collection: deleting the item removes it from the list; the
//   collection deletes its items. Item classes register their published properties under
//   their ClassName() (toolkit/TypInfo.h); streams write collections as < item ... end >.
#pragma once

#include "toolkit/Persistent.h"

#include <functional>
#include <string>
#include <vector>

class TCollection;

class TCollectionItem : public TPersistent {
public:
    explicit TCollectionItem(TCollection* Collection);
    ~TCollectionItem() override;

    std::string ClassName() const override { return "TCollectionItem"; }
    TPersistent* GetOwner() const override;
    std::string GetNamePath() const override;

    TCollection* Collection() const { return FCollection; }
    void SetCollection(TCollection* Value);
    int ID() const { return FID; }
    int Index() const;
    void SetIndex(int Value);
    virtual std::string DisplayName() const;

protected:
    // Tells the collection that this item changed (AllItems: the change touches all items).
    void Changed(bool AllItems);

private:
    friend class TCollection;
    TCollection* FCollection = nullptr;
    int FID = 0;
};

class TCollection : public TPersistent {
public:
    using ItemFactory = std::function<TCollectionItem*(TCollection*)>;

    explicit TCollection(ItemFactory Factory, TPersistent* Owner = nullptr);
    ~TCollection() override;

    std::string ClassName() const override { return "TCollection"; }
    TPersistent* GetOwner() const override { return FOwner; }
    std::string GetNamePath() const override;

    TCollectionItem* Add();
    TCollectionItem* Insert(int Index);
    void Delete(int Index);
    void Clear();
    int Count() const { return static_cast<int>(FItems.size()); }
    TCollectionItem* Items(int Index) const;
    TCollectionItem* FindItemID(int ID) const;
    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    void Assign(TPersistent* Source) override;

    TNotifyEvent OnChange;

protected:
    virtual void Update(TCollectionItem* Item);
    void Changed();

private:
    friend class TCollectionItem;
    void insertItem(TCollectionItem* Item);
    void removeItem(TCollectionItem* Item);

    ItemFactory FFactory;
    TPersistent* FOwner;
    std::vector<TCollectionItem*> FItems;
    int FNextID = 0;
    int FUpdateCount = 0;
};
