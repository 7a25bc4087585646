// kv::toolkit::ClassBuilder<T>: registers class T under a name with its published properties,
// one line per property, in stream order. Include it only in the .cpp that registers.
//
//   ClassBuilder<TFont>("TFont", "TPersistent")
//       .Integer("Charset", &TFont::Charset, &TFont::SetCharset).Idents(CharsetIdents())
//       .Color("Color", &TFont::Color, &TFont::SetColor)
//       .String("Name", &TFont::Name, &TFont::SetName)
//       .Enum("Pitch", &FontPitchInfo, &TFont::Pitch, &TFont::SetPitch).Default(fpDefault)
//       .Set("Style", &FontStyleInfo, &TFont::Style, &TFont::SetStyle);
//
// Getters are const member functions or data members; setters are member functions taking the
// value (by value or const reference) or the same data member. Modifiers apply to the property
// added last: Default(v) (not written when equal), NoDefault(), NotStored(), StoredIf(fn).
// Kinds: Integer, Int64, Bool, Enum, Set, String, Float, Color, Object (nested persistent,
// getter only: its properties are set in place), Component (reference; the setter's pointer
// type decides which classes fit), Event (a std::function data member).
// The factory: T(TComponent* Owner) for components, T() for other persistents; abstract
// classes (or Abstract()) cannot be created by name.
#pragma once

#include "toolkit/Component.h"
#include "toolkit/Graphics.h"
#include "toolkit/Sets.h"
#include "toolkit/TypInfo.h"

#include <any>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>

namespace kv::toolkit {

namespace detail {

template <class C, class R, class A>
A setterArg(R (C::*)(A));
template <class C, class M>
M setterArg(M C::*);
template <class S>
using SetterArg = std::remove_cvref_t<decltype(setterArg(std::declval<S>()))>;

template <class C, class A>
A* pointerArg(void (C::*)(A*));

template <class X>
std::int64_t toOrd(const X& x) {
    if constexpr (std::is_enum_v<X> || std::is_arithmetic_v<X>)
        return static_cast<std::int64_t>(x);
    else
        return static_cast<std::int64_t>(x.Mask());
}

template <class X>
X fromOrd(std::int64_t v) {
    if constexpr (std::is_same_v<X, bool>)
        return v != 0;
    else if constexpr (std::is_enum_v<X> || std::is_arithmetic_v<X>)
        return static_cast<X>(v);
    else
        return X::FromMask(static_cast<std::uint64_t>(v));
}

template <class T, class G>
decltype(auto) get(TObject* o, G g) {
    return std::invoke(g, *static_cast<T*>(o));
}

template <class T, class S, class V>
void set(TObject* o, S s, V&& v) {
    T* t = static_cast<T*>(o);
    if constexpr (std::is_member_object_pointer_v<S>)
        t->*s = std::forward<V>(v);
    else
        (t->*s)(std::forward<V>(v));
}

} // namespace detail

class ClassBuilderBase {
public:
    ClassBuilderBase& Default(std::int64_t Value) {
        last().HasDefault = true;
        last().OrdDefault = Value;
        return *this;
    }
    ClassBuilderBase& Default(const char* Value) {
        last().HasDefault = true;
        last().StrDefault = Value;
        return *this;
    }
    ClassBuilderBase& NoDefault() {
        last().HasDefault = false;
        return *this;
    }
    ClassBuilderBase& NotStored() {
        last().Stored = [](TObject*) { return false; };
        return *this;
    }
    ClassBuilderBase& Idents(const TIdentMap* Map) {
        last().Idents = Map;
        return *this;
    }
    TClassInfo* Info() const { return FInfo; }

protected:
    ClassBuilderBase(const std::string& Name, const std::string& Parent, TClassInfo::Factory Create,
                     bool IsComponent)
        : FInfo(RegisterClass(Name, Parent, std::move(Create), IsComponent)) {}
    TPropInfo& add(const char* Name, TPropKind Kind) {
        TPropInfo p;
        p.Name = Name;
        p.Kind = Kind;
        if (Kind == pkString || Kind == pkFloat)
            p.HasDefault = true;
        FLast = &FInfo->AddProperty(std::move(p));
        return *FLast;
    }
    TPropInfo& last() { return *FLast; }

    TClassInfo* FInfo;
    TPropInfo* FLast = nullptr;
};

template <class T>
class ClassBuilder : public ClassBuilderBase {
public:
    ClassBuilder(const std::string& Name, const std::string& Parent)
        : ClassBuilderBase(Name, Parent, factory(), std::is_base_of_v<TComponent, T>) {}

    ClassBuilder& Abstract() {
        FInfo->SetFactory(nullptr);
        return *this;
    }

    // Modifiers, typed for chaining.
    template <class V>
    ClassBuilder& Default(const V& Value) {
        if constexpr (std::is_convertible_v<V, const char*> || std::is_same_v<V, std::string>) {
            ClassBuilderBase::Default(std::string(Value).c_str());
        } else if constexpr (std::is_floating_point_v<V>) {
            last().HasDefault = true;
            last().FloatDefault = static_cast<double>(Value);
        } else {
            ClassBuilderBase::Default(detail::toOrd(Value));
        }
        return *this;
    }
    ClassBuilder& NoDefault() {
        ClassBuilderBase::NoDefault();
        return *this;
    }
    ClassBuilder& NotStored() {
        ClassBuilderBase::NotStored();
        return *this;
    }
    template <class F>
    ClassBuilder& StoredIf(F Fn) {
        last().Stored = [Fn](TObject* o) { return std::invoke(Fn, *static_cast<T*>(o)); };
        return *this;
    }
    ClassBuilder& Idents(const TIdentMap* Map) {
        ClassBuilderBase::Idents(Map);
        return *this;
    }

    template <class G, class S>
    ClassBuilder& Integer(const char* Name, G Get, S Set) {
        ordinal(add(Name, pkInteger), Get, Set);
        return *this;
    }
    template <class M>
    ClassBuilder& Integer(const char* Name, M T::*Field) {
        return Integer(Name, Field, Field);
    }
    template <class G, class S>
    ClassBuilder& Int64(const char* Name, G Get, S Set) {
        ordinal(add(Name, pkInt64), Get, Set);
        return *this;
    }
    template <class G, class S>
    ClassBuilder& Bool(const char* Name, G Get, S Set) {
        ordinal(add(Name, pkBoolean), Get, Set);
        return *this;
    }
    template <class M>
    ClassBuilder& Bool(const char* Name, M T::*Field) {
        return Bool(Name, Field, Field);
    }
    template <class G, class S>
    ClassBuilder& Enum(const char* Name, const TEnumInfo* Type, G Get, S Set) {
        TPropInfo& p = add(Name, pkEnumeration);
        p.EnumType = Type;
        ordinal(p, Get, Set);
        return *this;
    }
    template <class G, class S>
    ClassBuilder& Set(const char* Name, const TEnumInfo* ElementType, G Get, S Set) {
        TPropInfo& p = add(Name, pkSet);
        p.EnumType = ElementType;
        ordinal(p, Get, Set);
        return *this;
    }
    template <class G, class S>
    ClassBuilder& Color(const char* Name, G Get, S Set) {
        TPropInfo& p = add(Name, pkInteger);
        p.Idents = ColorIdents();
        ordinal(p, Get, Set);
        return *this;
    }
    template <class G, class S>
    ClassBuilder& String(const char* Name, G Get, S Set) {
        TPropInfo& p = add(Name, pkString);
        p.GetStr = [Get](TObject* o) { return std::string(detail::get<T>(o, Get)); };
        if constexpr (!std::is_same_v<S, std::nullptr_t>)
            p.SetStr = [Set](TObject* o, const std::string& v) { detail::set<T>(o, Set, v); };
        return *this;
    }
    template <class M>
    ClassBuilder& String(const char* Name, M T::*Field) {
        return String(Name, Field, Field);
    }
    template <class G, class S>
    ClassBuilder& Float(const char* Name, G Get, S Set) {
        TPropInfo& p = add(Name, pkFloat);
        p.GetFloat = [Get](TObject* o) { return static_cast<double>(detail::get<T>(o, Get)); };
        if constexpr (!std::is_same_v<S, std::nullptr_t>) {
            using A = detail::SetterArg<S>;
            p.SetFloat = [Set](TObject* o, double v) { detail::set<T>(o, Set, static_cast<A>(v)); };
        }
        return *this;
    }
    // A nested persistent owned by the instance (Font, Lines, a collection): a getter returning
    // a pointer, or a data member holding the object itself.
    template <class G>
    ClassBuilder& Object(const char* Name, G Get) {
        TPropInfo& p = add(Name, pkObject);
        p.GetObject = [Get](TObject* o) -> TPersistent* {
            auto&& r = detail::get<T>(o, Get);
            if constexpr (std::is_pointer_v<std::remove_cvref_t<decltype(r)>>)
                return r;
            else
                return &r;
        };
        return *this;
    }
    // A reference to another component; Set takes a pointer to the class it accepts.
    template <class G, class S>
    ClassBuilder& Component(const char* Name, G Get, S Set) {
        TPropInfo& p = add(Name, pkComponent);
        p.GetComponent = [Get](TObject* o) -> TComponent* {
            return static_cast<TComponent*>(detail::get<T>(o, Get));
        };
        using A = std::remove_pointer_t<detail::SetterArg<S>>;
        p.SetComponent = [Set](TObject* o, TComponent* c) {
            A* a = nullptr;
            if (c != nullptr) {
                a = dynamic_cast<A*>(c);
                if (a == nullptr)
                    return false;
            }
            detail::set<T>(o, Set, a);
            return true;
        };
        return *this;
    }
    // An event: a std::function data member; the handler must hold exactly that type.
    template <class F>
    ClassBuilder& Event(const char* Name, F T::*Field) {
        TPropInfo& p = add(Name, pkMethod);
        p.HasMethod = [Field](TObject* o) { return static_cast<bool>(static_cast<T*>(o)->*Field); };
        p.SetMethod = [Field](TObject* o, const std::any& h) {
            if (!h.has_value()) {
                static_cast<T*>(o)->*Field = nullptr;
                return true;
            }
            const F* f = std::any_cast<F>(&h);
            if (f == nullptr)
                return false;
            static_cast<T*>(o)->*Field = *f;
            return true;
        };
        return *this;
    }

private:
    static TClassInfo::Factory factory() {
        if constexpr (std::is_abstract_v<T>)
            return nullptr;
        else if constexpr (std::is_constructible_v<T, TComponent*>)
            return [](TComponent* owner) -> TPersistent* { return new T(owner); };
        else if constexpr (std::is_default_constructible_v<T>)
            return [](TComponent*) -> TPersistent* { return new T(); };
        else
            return nullptr;
    }

    template <class G, class S>
    static void ordinal(TPropInfo& p, G Get, S Set) {
        p.GetOrd = [Get](TObject* o) { return detail::toOrd(detail::get<T>(o, Get)); };
        if constexpr (!std::is_same_v<S, std::nullptr_t>) {
            using A = detail::SetterArg<S>;
            p.SetOrd = [Set](TObject* o, std::int64_t v) {
                detail::set<T>(o, Set, detail::fromOrd<A>(v));
            };
        }
    }
};

} // namespace kv::toolkit
