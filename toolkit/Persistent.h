// TObject and TPersistent, the roots of the toolkit's class tree.
//
//   TObject       virtual destructor, virtual ClassName() (every class overrides it with its own
//                 name; the class registry of toolkit/TypInfo.h finds a class's published
//                 properties under that name). Not copyable.
//   TPersistent   Assign(Source): copies Source into this object. The default asks
//                 Source->AssignTo(this); an object that cannot be copied raises EConvertError
//                 "Cannot assign a TSource to a TDest" ("nil" for a null source).
//                 DefineProperties(Filer): declares extra, unpublished stream properties
//                 (see TFiler in toolkit/Filer.h); GetOwner(): the object this one belongs to
//                 (a font's control, a collection's component), used for name paths.
//   TNotifyEvent  std::function<void(TObject* Sender)>; events are std::function members,
//                 by-reference arguments are references.
#pragma once

#include <functional>
#include <string>

class TObject {
public:
    TObject() = default;
    virtual ~TObject();
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;

    virtual std::string ClassName() const { return "TObject"; }
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

class TFiler;

class TPersistent : public TObject {
public:
    std::string ClassName() const override { return "TPersistent"; }

    virtual void Assign(TPersistent* Source);
    // Declares properties stored besides the published ones; called by readers and writers.
    virtual void DefineProperties(TFiler* Filer);
    virtual TPersistent* GetOwner() const { return nullptr; }
    // "Form1.Button1.Font": the owner's path, a dot, this object's name (the class name for
    // an object without a name of its own).
    virtual std::string GetNamePath() const;

protected:
    // Copies this object into Dest; the default raises the assignment error.
    virtual void AssignTo(TPersistent* Dest);
    [[noreturn]] void AssignError(TPersistent* Source);
};
