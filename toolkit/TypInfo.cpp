#include "toolkit/TypInfo.h"

#include "toolkit/Component.h"
#include "toolkit/SysUtils.h"
#include "toolkit/detail/Number.h"

#include <map>

namespace kv::toolkit {
void registerCoreClasses();
} // namespace kv::toolkit

namespace {

struct LessNoCase {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return CompareText(a, b) < 0; }
};

using Registry = std::map<std::string, std::unique_ptr<TClassInfo>, LessNoCase>;

Registry& rawRegistry() {
    static Registry r;
    return r;
}

// Registration happens at start-up on one thread; the toolkit's own classes are added on first
// use so that they exist whatever the order of static initialisation.
Registry& registry() {
    static bool coreDone = false;
    if (!coreDone) {
        coreDone = true;
        kv::toolkit::registerCoreClasses();
    }
    return rawRegistry();
}

[[noreturn]] void noProperty(const TObject* instance, std::string_view name) {
    throw EPropertyError("Property " + std::string(name) + " does not exist in class " +
                         instance->ClassName());
}

[[noreturn]] void wrongKind(PPropInfo prop) {
    throw EPropertyConvertError("Invalid property type: " + prop->Name);
}

// Finds a property by name; a dotted name ("Font.Name") walks through nested objects and
// leaves instance at the object that holds the last part.
PPropInfo needProp(TObject*& instance, std::string_view name) {
    for (size_t dot = name.find('.'); dot != std::string_view::npos; dot = name.find('.')) {
        const std::string_view part = name.substr(0, dot);
        PPropInfo p = GetPropInfo(instance, part);
        if (p == nullptr || p->Kind != pkObject || !p->GetObject)
            noProperty(instance, part);
        TPersistent* sub = p->GetObject(instance);
        if (sub == nullptr)
            throw EPropertyError("Property " + std::string(part) + " holds no object");
        instance = sub;
        name.remove_prefix(dot + 1);
    }
    PPropInfo p = GetPropInfo(instance, name);
    if (p == nullptr)
        noProperty(instance, name);
    return p;
}

bool isOrdinal(TPropKind k) {
    return k == pkInteger || k == pkInt64 || k == pkBoolean || k == pkEnumeration || k == pkSet;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Enumerations

int TEnumInfo::ValueOf(std::string_view Ident) const {
    for (size_t i = 0; i < Names.size(); ++i)
        if (SameText(Names[i], Ident))
            return static_cast<int>(i);
    return -1;
}

std::string TEnumInfo::NameOf(std::int64_t Value) const {
    if (Value < 0 || Value >= static_cast<std::int64_t>(Names.size()))
        return {};
    return Names[static_cast<size_t>(Value)];
}

std::string GetEnumName(const TEnumInfo& Info, std::int64_t Value) {
    return Info.NameOf(Value);
}

int GetEnumValue(const TEnumInfo& Info, std::string_view Name) {
    return Info.ValueOf(Name);
}

std::string SetToString(const TEnumInfo& Info, std::uint64_t Mask, bool Brackets) {
    std::string r;
    for (size_t i = 0; i < Info.Names.size() && i < 64; ++i) {
        if ((Mask & (std::uint64_t{1} << i)) == 0)
            continue;
        if (!r.empty())
            r += ',';
        r += Info.Names[i];
    }
    return Brackets ? "[" + r + "]" : r;
}

std::uint64_t StringToSet(const TEnumInfo& Info, std::string_view Value) {
    std::string text = Trim(Value);
    std::string_view v = text;
    if (!v.empty() && v.front() == '[') {
        if (v.back() != ']')
            throw EConvertError("Invalid set value '" + text + "'");
        v = v.substr(1, v.size() - 2);
    }
    std::uint64_t mask = 0;
    while (!v.empty()) {
        const size_t comma = v.find(',');
        const std::string ident = Trim(v.substr(0, comma));
        v = comma == std::string_view::npos ? std::string_view() : v.substr(comma + 1);
        if (ident.empty())
            continue;
        const int ord = Info.ValueOf(ident);
        if (ord < 0 || ord >= 64)
            throw EConvertError("Invalid set element '" + ident + "' for " + Info.Name);
        mask |= std::uint64_t{1} << ord;
    }
    return mask;
}

// ---------------------------------------------------------------------------------------------
// Classes

bool TPropInfo::IsWritable() const {
    switch (Kind) {
    case pkString:
        return static_cast<bool>(SetStr);
    case pkFloat:
        return static_cast<bool>(SetFloat);
    case pkObject:
        return static_cast<bool>(GetObject);
    case pkComponent:
        return static_cast<bool>(SetComponent);
    case pkMethod:
        return static_cast<bool>(SetMethod);
    default:
        return static_cast<bool>(SetOrd);
    }
}

TClassInfo::TClassInfo(std::string Name, std::string ParentName, Factory Create, bool IsComponent)
    : FName(std::move(Name)), FParentName(std::move(ParentName)), FCreate(std::move(Create)),
      FIsComponent(IsComponent) {}

const TClassInfo* TClassInfo::Parent() const {
    if (FParentName.empty() || SameText(FParentName, FName))
        return nullptr;
    return GetClass(FParentName);
}

bool TClassInfo::InheritsFrom(const TClassInfo* Other) const {
    int guard = 0;
    for (const TClassInfo* c = this; c != nullptr && guard < 256; c = c->Parent(), ++guard)
        if (c == Other)
            return true;
    return false;
}

bool TClassInfo::InheritsFrom(std::string_view OtherName) const {
    int guard = 0;
    for (const TClassInfo* c = this; c != nullptr && guard < 256; c = c->Parent(), ++guard)
        if (SameText(c->FName, OtherName))
            return true;
    return false;
}

TPersistent* TClassInfo::CreateInstance(TComponent* Owner) const {
    if (!FCreate)
        throw EConvertError("Cannot create an instance of " + FName);
    return FCreate(Owner);
}

TComponent* TClassInfo::CreateComponent(TComponent* Owner) const {
    if (!FIsComponent)
        throw EConvertError(FName + " is not a component class");
    return static_cast<TComponent*>(CreateInstance(Owner));
}

PPropInfo TClassInfo::FindProperty(std::string_view PropName) const {
    int guard = 0;
    for (const TClassInfo* c = this; c != nullptr && guard < 256; c = c->Parent(), ++guard)
        for (const auto& p : c->FProps)
            if (SameText(p->Name, PropName))
                return p.get();
    return nullptr;
}

std::vector<PPropInfo> TClassInfo::Properties() const {
    std::vector<const TClassInfo*> chain;
    for (const TClassInfo* c = this; c != nullptr && chain.size() < 256; c = c->Parent())
        chain.push_back(c);
    std::vector<PPropInfo> r;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        for (const auto& p : (*it)->FProps) {
            // A class may redeclare an inherited property (new default): keep the position
            // of the first declaration, the information of the last.
            bool replaced = false;
            for (PPropInfo& existing : r)
                if (SameText(existing->Name, p->Name)) {
                    existing = p.get();
                    replaced = true;
                }
            if (!replaced)
                r.push_back(p.get());
        }
    return r;
}

TPropInfo& TClassInfo::AddProperty(TPropInfo Info) {
    FProps.push_back(std::make_unique<TPropInfo>(std::move(Info)));
    return *FProps.back();
}

TClassInfo* RegisterClass(const std::string& Name, const std::string& ParentName,
                          TClassInfo::Factory Create, bool IsComponent) {
    Registry& r = registry();
    auto it = r.find(Name);
    if (it != r.end()) {
        // Registering again replaces the entry's contents but keeps its address.
        *it->second = TClassInfo(Name, ParentName, std::move(Create), IsComponent);
        return it->second.get();
    }
    auto info = std::make_unique<TClassInfo>(Name, ParentName, std::move(Create), IsComponent);
    TClassInfo* raw = info.get();
    r.emplace(Name, std::move(info));
    return raw;
}

void UnRegisterClass(std::string_view Name) {
    Registry& r = registry();
    auto it = r.find(Name);
    if (it != r.end())
        r.erase(it);
}

TPersistentClass GetClass(std::string_view Name) {
    Registry& r = registry();
    auto it = r.find(Name);
    return it == r.end() ? nullptr : it->second.get();
}

TPersistentClass FindClass(std::string_view Name) {
    TPersistentClass c = GetClass(Name);
    if (c == nullptr)
        throw EClassNotFound("Class " + std::string(Name) + " not found");
    return c;
}

TPersistentClass GetClassInfo(const TObject* Instance) {
    return Instance == nullptr ? nullptr : GetClass(Instance->ClassName());
}

// ---------------------------------------------------------------------------------------------
// Properties by name

PPropInfo GetPropInfo(TPersistentClass Class, std::string_view PropName) {
    return Class == nullptr ? nullptr : Class->FindProperty(PropName);
}

PPropInfo GetPropInfo(const TObject* Instance, std::string_view PropName) {
    return GetPropInfo(GetClassInfo(Instance), PropName);
}

std::vector<PPropInfo> GetPropList(const TObject* Instance) {
    TPersistentClass c = GetClassInfo(Instance);
    return c == nullptr ? std::vector<PPropInfo>() : c->Properties();
}

bool IsPublishedProp(const TObject* Instance, std::string_view PropName) {
    return GetPropInfo(Instance, PropName) != nullptr;
}

std::int64_t GetOrdProp(TObject* Instance, PPropInfo Prop) {
    if (!isOrdinal(Prop->Kind) || !Prop->GetOrd)
        wrongKind(Prop);
    return Prop->GetOrd(Instance);
}

std::int64_t GetOrdProp(TObject* Instance, std::string_view PropName) {
    PPropInfo p = needProp(Instance, PropName);
    return GetOrdProp(Instance, p);
}

void SetOrdProp(TObject* Instance, PPropInfo Prop, std::int64_t Value) {
    if (!isOrdinal(Prop->Kind) || !Prop->SetOrd)
        wrongKind(Prop);
    Prop->SetOrd(Instance, Value);
}

void SetOrdProp(TObject* Instance, std::string_view PropName, std::int64_t Value) {
    PPropInfo p = needProp(Instance, PropName);
    SetOrdProp(Instance, p, Value);
}

std::int64_t GetInt64Prop(TObject* Instance, std::string_view PropName) {
    return GetOrdProp(Instance, PropName);
}

void SetInt64Prop(TObject* Instance, std::string_view PropName, std::int64_t Value) {
    SetOrdProp(Instance, PropName, Value);
}

std::string GetEnumProp(TObject* Instance, std::string_view PropName) {
    PPropInfo p = needProp(Instance, PropName);
    if (p->Kind == pkBoolean)
        return GetOrdProp(Instance, p) != 0 ? "True" : "False";
    if (p->Kind != pkEnumeration || p->EnumType == nullptr)
        wrongKind(p);
    return p->EnumType->NameOf(GetOrdProp(Instance, p));
}

void SetEnumProp(TObject* Instance, std::string_view PropName, std::string_view Value) {
    PPropInfo p = needProp(Instance, PropName);
    if (p->Kind == pkBoolean) {
        if (SameText(Value, "True"))
            SetOrdProp(Instance, p, 1);
        else if (SameText(Value, "False"))
            SetOrdProp(Instance, p, 0);
        else
            throw EPropertyConvertError("Invalid property value " + std::string(Value) + " for " +
                                        p->Name);
        return;
    }
    if (p->Kind != pkEnumeration || p->EnumType == nullptr)
        wrongKind(p);
    const int ord = p->EnumType->ValueOf(Value);
    if (ord < 0)
        throw EPropertyConvertError("Invalid property value " + std::string(Value) + " for " +
                                    p->Name);
    SetOrdProp(Instance, p, ord);
}

std::string GetSetProp(TObject* Instance, std::string_view PropName, bool Brackets) {
    PPropInfo p = needProp(Instance, PropName);
    if (p->Kind != pkSet || p->EnumType == nullptr)
        wrongKind(p);
    return SetToString(*p->EnumType, static_cast<std::uint64_t>(GetOrdProp(Instance, p)), Brackets);
}

void SetSetProp(TObject* Instance, std::string_view PropName, std::string_view Value) {
    PPropInfo p = needProp(Instance, PropName);
    if (p->Kind != pkSet || p->EnumType == nullptr)
        wrongKind(p);
    SetOrdProp(Instance, p, static_cast<std::int64_t>(StringToSet(*p->EnumType, Value)));
}

std::string GetStrProp(TObject* Instance, PPropInfo Prop) {
    if (Prop->Kind != pkString || !Prop->GetStr)
        wrongKind(Prop);
    return Prop->GetStr(Instance);
}

std::string GetStrProp(TObject* Instance, std::string_view PropName) {
    PPropInfo p = needProp(Instance, PropName);
    return GetStrProp(Instance, p);
}

void SetStrProp(TObject* Instance, PPropInfo Prop, const std::string& Value) {
    if (Prop->Kind != pkString || !Prop->SetStr)
        wrongKind(Prop);
    Prop->SetStr(Instance, Value);
}

void SetStrProp(TObject* Instance, std::string_view PropName, const std::string& Value) {
    PPropInfo p = needProp(Instance, PropName);
    SetStrProp(Instance, p, Value);
}

double GetFloatProp(TObject* Instance, std::string_view PropName) {
    PPropInfo p = needProp(Instance, PropName);
    if (p->Kind != pkFloat || !p->GetFloat)
        wrongKind(p);
    return p->GetFloat(Instance);
}

void SetFloatProp(TObject* Instance, std::string_view PropName, double Value) {
    PPropInfo p = needProp(Instance, PropName);
    if (p->Kind != pkFloat || !p->SetFloat)
        wrongKind(p);
    p->SetFloat(Instance, Value);
}

TPersistent* GetObjectProp(TObject* Instance, std::string_view PropName) {
    PPropInfo p = needProp(Instance, PropName);
    if (p->Kind == pkObject && p->GetObject)
        return p->GetObject(Instance);
    if (p->Kind == pkComponent && p->GetComponent)
        return p->GetComponent(Instance);
    wrongKind(p);
}

void SetObjectProp(TObject* Instance, std::string_view PropName, TPersistent* Value) {
    PPropInfo p = needProp(Instance, PropName);
    if (p->Kind == pkComponent && p->SetComponent) {
        auto* c = dynamic_cast<TComponent*>(Value);
        if ((Value != nullptr && c == nullptr) || !p->SetComponent(Instance, c))
            throw EPropertyConvertError("Invalid property value for " + p->Name);
        return;
    }
    if (p->Kind == pkObject) {
        if (p->SetObject) {
            p->SetObject(Instance, Value);
            return;
        }
        if (p->GetObject) {
            TPersistent* target = p->GetObject(Instance);
            if (target != nullptr) {
                target->Assign(Value);
                return;
            }
        }
    }
    wrongKind(p);
}

void SetMethodProp(TObject* Instance, PPropInfo Prop, const std::any& Handler,
                   const std::string& HandlerName) {
    if (Prop->Kind != pkMethod || !Prop->SetMethod)
        wrongKind(Prop);
    if (!Prop->SetMethod(Instance, Handler))
        throw EPropertyConvertError("Handler " + HandlerName + " does not fit event " + Prop->Name);
    if (auto* c = dynamic_cast<TComponent*>(Instance))
        kv::toolkit::ComponentAccess::setMethodName(c, Prop->Name,
                                                    Handler.has_value() ? HandlerName : "");
}

void SetMethodProp(TObject* Instance, std::string_view PropName, const std::any& Handler,
                   const std::string& HandlerName) {
    PPropInfo p = needProp(Instance, PropName);
    SetMethodProp(Instance, p, Handler, HandlerName);
}

std::string GetMethodName(TObject* Instance, std::string_view PropName) {
    PPropInfo p = needProp(Instance, PropName);
    if (p->Kind != pkMethod)
        wrongKind(p);
    auto* c = dynamic_cast<TComponent*>(Instance);
    if (c == nullptr || !p->HasMethod || !p->HasMethod(Instance))
        return {};
    return kv::toolkit::ComponentAccess::methodName(c, p->Name);
}

std::string GetPropValue(TObject* Instance, std::string_view PropName) {
    PPropInfo p = needProp(Instance, PropName);
    switch (p->Kind) {
    case pkInteger:
    case pkInt64: {
        const std::int64_t v = GetOrdProp(Instance, p);
        std::string ident;
        if (p->Idents != nullptr && p->Idents->IntToIdent(v, ident))
            return ident;
        return IntToStr(v);
    }
    case pkBoolean:
    case pkEnumeration:
        return GetEnumProp(Instance, p->Name);
    case pkSet:
        return GetSetProp(Instance, p->Name, true);
    case pkString:
        return GetStrProp(Instance, p);
    case pkFloat:
        return kv::toolkit::formatDouble(GetFloatProp(Instance, p->Name));
    case pkComponent: {
        TComponent* c = p->GetComponent ? p->GetComponent(Instance) : nullptr;
        return c == nullptr ? std::string() : c->Name();
    }
    case pkMethod:
        return GetMethodName(Instance, p->Name);
    case pkObject:
        break;
    }
    wrongKind(p);
}

void SetPropValue(TObject* Instance, std::string_view PropName, std::string_view Value) {
    PPropInfo p = needProp(Instance, PropName);
    switch (p->Kind) {
    case pkInteger:
    case pkInt64: {
        std::int64_t v = 0;
        const std::string t = Trim(Value);
        if (p->Idents != nullptr && p->Idents->IdentToInt(t, v)) {
            SetOrdProp(Instance, p, v);
            return;
        }
        if (!TryStrToInt(t, v))
            throw EPropertyConvertError("Invalid property value " + t + " for " + p->Name);
        SetOrdProp(Instance, p, v);
        return;
    }
    case pkBoolean:
    case pkEnumeration:
        SetEnumProp(Instance, p->Name, Trim(Value));
        return;
    case pkSet:
        SetSetProp(Instance, p->Name, Value);
        return;
    case pkString:
        SetStrProp(Instance, p, std::string(Value));
        return;
    case pkFloat: {
        double d = 0;
        if (!kv::toolkit::parseDouble(Trim(Value), d))
            throw EPropertyConvertError("Invalid property value " + std::string(Value) + " for " +
                                        p->Name);
        SetFloatProp(Instance, p->Name, d);
        return;
    }
    case pkComponent: {
        if (Trim(Value).empty()) {
            SetObjectProp(Instance, p->Name, nullptr);
            return;
        }
        auto* self = dynamic_cast<TComponent*>(Instance);
        TComponent* owner = self != nullptr ? self->Owner() : nullptr;
        TComponent* target = owner != nullptr ? owner->FindComponent(Trim(Value)) : nullptr;
        if (target == nullptr && owner != nullptr && SameText(owner->Name(), Trim(Value)))
            target = owner;
        if (target == nullptr)
            throw EPropertyConvertError("Component " + std::string(Value) + " not found");
        SetObjectProp(Instance, p->Name, target);
        return;
    }
    case pkMethod:
    case pkObject:
        break;
    }
    wrongKind(p);
}
