// The class registry and the published properties of each class.
//
// Registry:
//   GetClass(name)     the registered class (ignoring case) or nullptr.
//   FindClass(name)    the same, EClassNotFound "Class %s not found" when missing.
//   GetClassInfo(obj)  the class registered under obj->ClassName(), or nullptr.
// Classes are registered with the builder of toolkit/ClassBuilder.h, normally in the .cpp file
// that holds the class's constructor:
//   static const bool registered = [] {
//       kv::toolkit::ClassBuilder<TPanel>("TPanel", "TCustomControl")
//           .Enum("BevelOuter", &BevelCutInfo, &TPanel::BevelOuter, &TPanel::SetBevelOuter)
//           .Default(bvRaised)
//           .String("Caption", &TPanel::Caption, &TPanel::SetCaption);
//       return true;
//   }();
// A class's properties come in stream order, the parent's (by name) first. A class whose
// instances are streamed must be registered under its ClassName(), even when it adds no
// properties (a form class: ClassBuilder<TForm1>("TForm1", "TForm")).
//
// Property kinds: pkInteger (32-bit; may carry a table of names, e.g. colours and character
// sets), pkInt64, pkBoolean, pkEnumeration (identifiers of a TEnumInfo), pkSet (a set of those),
// pkString (UTF-8), pkFloat, pkObject (a nested persistent owned by the instance: Font, Lines,
// Options, a TCollection), pkComponent (a reference to another component by name) and pkMethod
// (an event, set from a handler named in the root's MethodAddress()).
//
// Access by name from outside the class (names ignore case, "Font.Name" reaches into nested
// objects; EPropertyError when the property
// does not exist, EPropertyConvertError when its kind does not fit the call):
//   GetPropInfo, GetPropList, IsPublishedProp,
//   GetOrdProp/SetOrdProp (integers, Booleans, enumerations and sets as numbers, colours),
//   GetInt64Prop/SetInt64Prop, GetEnumProp/SetEnumProp (identifier), GetSetProp/SetSetProp
//   ("fsBold,fsItalic"; with brackets on request), GetStrProp/SetStrProp, GetFloatProp/
//   SetFloatProp, GetObjectProp/SetObjectProp (nested objects are assigned, references set),
//   SetMethodProp(obj, name, handler, handlerName), GetMethodName,
//   GetPropValue/SetPropValue: the value as text in the textual stream syntax without quotes
//   (numbers, True/False, identifiers, "[a,b]" sets, the string itself, component names).
#pragma once

#include "toolkit/Persistent.h"

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TComponent;

enum TPropKind {
    pkInteger,
    pkInt64,
    pkBoolean,
    pkEnumeration,
    pkSet,
    pkString,
    pkFloat,
    pkObject,
    pkComponent,
    pkMethod
};

// The identifiers of an enumeration type, ordinal 0 first.
struct TEnumInfo {
    std::string Name;
    std::vector<std::string> Names;

    // Ordinal of Ident ignoring case, -1 when unknown.
    int ValueOf(std::string_view Ident) const;
    // Identifier of Value, empty when out of range.
    std::string NameOf(std::int64_t Value) const;
};

std::string GetEnumName(const TEnumInfo& Info, std::int64_t Value);
int GetEnumValue(const TEnumInfo& Info, std::string_view Name);

// Names for some values of an integer property (clWindowText, DEFAULT_CHARSET, ...).
struct TIdentMap {
    bool (*IntToIdent)(std::int64_t Value, std::string& Ident);
    bool (*IdentToInt)(std::string_view Ident, std::int64_t& Value);
};

struct TPropInfo {
    std::string Name;
    TPropKind Kind = pkInteger;
    const TEnumInfo* EnumType = nullptr; // pkEnumeration, pkSet
    const TIdentMap* Idents = nullptr;   // pkInteger, pkInt64 with names
    std::string TypeName;                // declared class of pkObject/pkComponent, informational

    // Default: a value equal to it is not written. Strings and floats default to empty / 0;
    // other kinds have no default unless one is given (always written).
    bool HasDefault = false;
    std::int64_t OrdDefault = 0;
    std::string StrDefault;
    double FloatDefault = 0;
    // When set and false for an instance, the property is not written.
    std::function<bool(TObject*)> Stored;

    std::function<std::int64_t(TObject*)> GetOrd;
    std::function<void(TObject*, std::int64_t)> SetOrd;
    std::function<std::string(TObject*)> GetStr;
    std::function<void(TObject*, const std::string&)> SetStr;
    std::function<double(TObject*)> GetFloat;
    std::function<void(TObject*, double)> SetFloat;
    std::function<TPersistent*(TObject*)> GetObject;
    std::function<void(TObject*, TPersistent*)> SetObject; // optional for pkObject
    std::function<TComponent*(TObject*)> GetComponent;
    std::function<bool(TObject*, TComponent*)> SetComponent; // false: wrong class
    std::function<bool(TObject*)> HasMethod;
    std::function<bool(TObject*, const std::any&)> SetMethod; // false: wrong handler type

    bool IsWritable() const;
};
using PPropInfo = const TPropInfo*;

class TClassInfo {
public:
    using Factory = std::function<TPersistent*(TComponent* Owner)>;

    TClassInfo(std::string Name, std::string ParentName, Factory Create, bool IsComponent);

    const std::string& Name() const { return FName; }
    const std::string& ParentName() const { return FParentName; }
    const TClassInfo* Parent() const;
    bool InheritsFrom(const TClassInfo* Other) const;
    bool InheritsFrom(std::string_view OtherName) const;
    bool IsComponent() const { return FIsComponent; }
    bool CanCreate() const { return static_cast<bool>(FCreate); }
    void SetFactory(Factory Create) { FCreate = std::move(Create); }
    // A new instance (components owned by Owner); EClassNotFound-free: raises EConvertError
    // when the class cannot be created by name (abstract or without a factory).
    TPersistent* CreateInstance(TComponent* Owner) const;
    TComponent* CreateComponent(TComponent* Owner) const;

    // Searches this class, then its parents.
    PPropInfo FindProperty(std::string_view PropName) const;
    // Parent's properties first, in stream order.
    std::vector<PPropInfo> Properties() const;
    const std::vector<std::unique_ptr<TPropInfo>>& OwnProperties() const { return FProps; }
    TPropInfo& AddProperty(TPropInfo Info);

private:
    std::string FName;
    std::string FParentName;
    Factory FCreate;
    bool FIsComponent;
    std::vector<std::unique_ptr<TPropInfo>> FProps;
};
using TPersistentClass = const TClassInfo*;

// Registers (or replaces the factory of) a class; returns its entry for adding properties.
TClassInfo* RegisterClass(const std::string& Name, const std::string& ParentName,
                          TClassInfo::Factory Create, bool IsComponent);
void UnRegisterClass(std::string_view Name);
TPersistentClass GetClass(std::string_view Name);
TPersistentClass FindClass(std::string_view Name);
TPersistentClass GetClassInfo(const TObject* Instance);

PPropInfo GetPropInfo(const TObject* Instance, std::string_view PropName);
PPropInfo GetPropInfo(TPersistentClass Class, std::string_view PropName);
std::vector<PPropInfo> GetPropList(const TObject* Instance);
bool IsPublishedProp(const TObject* Instance, std::string_view PropName);

std::int64_t GetOrdProp(TObject* Instance, PPropInfo Prop);
std::int64_t GetOrdProp(TObject* Instance, std::string_view PropName);
void SetOrdProp(TObject* Instance, PPropInfo Prop, std::int64_t Value);
void SetOrdProp(TObject* Instance, std::string_view PropName, std::int64_t Value);
std::int64_t GetInt64Prop(TObject* Instance, std::string_view PropName);
void SetInt64Prop(TObject* Instance, std::string_view PropName, std::int64_t Value);
std::string GetEnumProp(TObject* Instance, std::string_view PropName);
void SetEnumProp(TObject* Instance, std::string_view PropName, std::string_view Value);
std::string GetSetProp(TObject* Instance, std::string_view PropName, bool Brackets = false);
void SetSetProp(TObject* Instance, std::string_view PropName, std::string_view Value);
std::string GetStrProp(TObject* Instance, PPropInfo Prop);
std::string GetStrProp(TObject* Instance, std::string_view PropName);
void SetStrProp(TObject* Instance, PPropInfo Prop, const std::string& Value);
void SetStrProp(TObject* Instance, std::string_view PropName, const std::string& Value);
double GetFloatProp(TObject* Instance, std::string_view PropName);
void SetFloatProp(TObject* Instance, std::string_view PropName, double Value);
TPersistent* GetObjectProp(TObject* Instance, std::string_view PropName);
void SetObjectProp(TObject* Instance, std::string_view PropName, TPersistent* Value);
void SetMethodProp(TObject* Instance, PPropInfo Prop, const std::any& Handler,
                   const std::string& HandlerName = std::string());
void SetMethodProp(TObject* Instance, std::string_view PropName, const std::any& Handler,
                   const std::string& HandlerName = std::string());
// The handler name an event was set with (by a stream or SetMethodProp), else empty.
std::string GetMethodName(TObject* Instance, std::string_view PropName);

std::string GetPropValue(TObject* Instance, std::string_view PropName);
void SetPropValue(TObject* Instance, std::string_view PropName, std::string_view Value);

// Set conversions: "[a, b]" / "a,b" <-> mask (bit n = ordinal n). EConvertError for an
// unknown identifier.
std::string SetToString(const TEnumInfo& Info, std::uint64_t Mask, bool Brackets);
std::uint64_t StringToSet(const TEnumInfo& Info, std::string_view Value);
