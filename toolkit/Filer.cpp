#include "toolkit/Filer.h"

#include "platform/Unicode.h"
#include "toolkit/Collection.h"
#include "toolkit/ObjectText.h"
#include "toolkit/SysUtils.h"
#include "toolkit/TypInfo.h"
#include "toolkit/detail/Binary.h"
#include "toolkit/detail/Number.h"

#include <cmath>
#include <cstring>

using kv::toolkit::ByteReader;
using kv::toolkit::ByteWriter;
using kv::toolkit::ComponentAccess;
using kv::toolkit::kMaxStreamDepth;

TFiler::~TFiler() = default;

namespace {

// Nesting shared by all readers of a thread: a defined property may read a stream of its own.
thread_local int gReadDepth = 0;

std::string latin1ToUtf8(std::string_view b) {
    std::string r;
    r.reserve(b.size());
    for (char c : b)
        kv::platform::appendUtf8(r, static_cast<std::uint8_t>(c));
    return r;
}

bool isIntKind(std::uint8_t k) {
    return k == vaInt8 || k == vaInt16 || k == vaInt32 || k == vaInt64;
}

} // namespace

namespace kv::toolkit {

class ReaderState {
public:
    ReaderState(TReader& reader, std::string_view data) : reader_(reader), data_(data), in_(data) {}

    struct Fixup {
        TObject* Instance;
        PPropInfo Prop;
        std::string Name;
        std::string Context;
        size_t Offset;
    };

    struct DepthGuard {
        explicit DepthGuard(ReaderState& s) : state(s) {
            if (++gReadDepth > kMaxStreamDepth) {
                --gReadDepth;
                state.in_.fail("Nesting too deep");
            }
        }
        ~DepthGuard() { --gReadDepth; }
        ReaderState& state;
    };

    void setPositions(TTextPositionMap map) {
        positions_ = std::move(map);
        const size_t pos = in_.pos();
        in_ = ByteReader(data_, &positions_);
        if (pos > 0)
            in_.bytes(pos);
    }

    void readSignature() {
        if (in_.remaining() < 4 || in_.bytes(4) != "TPF0")
            in_.failAt("Invalid stream format (no \"TPF0\" signature)", 0);
    }

    // ---- values

    std::int64_t readInteger() {
        const size_t at = in_.pos();
        const std::uint8_t k = in_.u8();
        switch (k) {
        case vaInt8:
            return in_.i8();
        case vaInt16:
            return in_.i16();
        case vaInt32:
            return in_.i32();
        case vaInt64:
            return in_.i64();
        default:
            in_.failAt("Integer expected, found value kind " + std::to_string(k), at);
        }
    }

    std::string readString() {
        const size_t at = in_.pos();
        const std::uint8_t k = in_.u8();
        switch (k) {
        case vaString:
            return latin1ToUtf8(in_.bytes(in_.u8()));
        case vaLString:
            return latin1ToUtf8(longBytes(1));
        case vaUTF8String:
            return std::string(longBytes(1));
        case vaWString: {
            const std::string_view b = longBytes(2);
            std::u16string units;
            units.reserve(b.size() / 2);
            for (size_t i = 0; i + 1 < b.size(); i += 2)
                units += static_cast<char16_t>(static_cast<std::uint8_t>(b[i]) |
                                               (static_cast<std::uint8_t>(b[i + 1]) << 8));
            return kv::platform::utf16ToUtf8(units);
        }
        default:
            in_.failAt("String expected, found value kind " + std::to_string(k), at);
        }
    }

    std::string_view longBytes(size_t unitSize) {
        const std::uint32_t count = in_.u32();
        if (count > in_.remaining() / unitSize)
            in_.fail("String or data longer than the stream");
        return in_.bytes(static_cast<size_t>(count) * unitSize);
    }

    std::string readIdent() {
        const size_t at = in_.pos();
        const std::uint8_t k = in_.u8();
        switch (k) {
        case vaIdent:
            return in_.shortStr();
        case vaFalse:
            return "False";
        case vaTrue:
            return "True";
        case vaNil:
            return "nil";
        case vaNull:
            return "Null";
        default:
            in_.failAt("Identifier expected, found value kind " + std::to_string(k), at);
        }
    }

    double readFloat() {
        const size_t at = in_.pos();
        const std::uint8_t k = in_.peek();
        if (isIntKind(k))
            return static_cast<double>(readInteger());
        in_.u8();
        double d = 0;
        switch (k) {
        case vaExtended:
            d = extendedToDouble(in_.extended());
            break;
        case vaSingle: {
            const std::uint32_t bits = in_.u32();
            float f = 0;
            std::memcpy(&f, &bits, sizeof f);
            d = f;
            break;
        }
        case vaCurrency:
            d = static_cast<double>(in_.i64()) / 10000.0;
            break;
        case vaDate: {
            const auto bits = static_cast<std::uint64_t>(in_.i64());
            std::memcpy(&d, &bits, sizeof d);
            break;
        }
        default:
            in_.failAt("Number expected, found value kind " + std::to_string(k), at);
        }
        if (!std::isfinite(d))
            in_.failAt("Invalid floating-point value", at);
        return d;
    }

    void skipValue() {
        DepthGuard guard(*this);
        const size_t at = in_.pos();
        const std::uint8_t k = in_.u8();
        switch (k) {
        case vaNull:
        case vaFalse:
        case vaTrue:
        case vaNil:
            return;
        case vaList:
            while (in_.peek() != 0)
                skipValue();
            in_.u8();
            return;
        case vaInt8:
            in_.bytes(1);
            return;
        case vaInt16:
            in_.bytes(2);
            return;
        case vaInt32:
        case vaSingle:
            in_.bytes(4);
            return;
        case vaInt64:
        case vaCurrency:
        case vaDate:
            in_.bytes(8);
            return;
        case vaExtended:
            in_.bytes(10);
            return;
        case vaString:
        case vaIdent:
            in_.bytes(in_.u8());
            return;
        case vaLString:
        case vaUTF8String:
        case vaBinary:
            longBytes(1);
            return;
        case vaWString:
            longBytes(2);
            return;
        case vaSet:
            while (!in_.shortStr().empty()) {
            }
            return;
        case vaCollection:
            while (in_.peek() != 0) {
                if (isIntKind(in_.peek()))
                    readInteger();
                if (in_.u8() != vaList)
                    in_.fail("Collection item expected");
                while (in_.peek() != 0) {
                    in_.shortStr();
                    skipValue();
                }
                in_.u8();
            }
            in_.u8();
            return;
        default:
            in_.failAt("Unknown value kind " + std::to_string(k), at);
        }
    }

    // ---- components

    void readRoot(TComponent* root) {
        root_ = root;
        reader_.FRoot = root;
        try {
            readSignature();
            readObject(nullptr, nullptr, root);
            if (!in_.atEnd())
                in_.fail("Unexpected data after the root object");
            resolveFixups();
        } catch (...) {
            abandon(false);
            throw;
        }
        finish();
    }

    TComponent* readNew(TComponent* owner, TComponent* parent) {
        try {
            readSignature();
            readObject(owner, parent, nullptr);
            if (!in_.atEnd())
                in_.fail("Unexpected data after the root object");
            resolveFixups();
        } catch (...) {
            abandon(true);
            throw;
        }
        finish();
        return root_;
    }

    // ---- defined properties

    bool matchDefined(const std::string& name) const {
        return !definedName_.empty() && !definedDone_ && SameText(name, definedName_);
    }
    void definedRead() { definedDone_ = true; }
    ByteReader& in() { return in_; }

private:
    [[noreturn]] void failRead(const std::string& what, size_t offset) { in_.failAt(what, offset); }

    void readObject(TComponent* ownerForNew, TComponent* parent, TComponent* existingRoot) {
        DepthGuard guard(*this);
        const size_t start = in_.pos();
        std::uint8_t flags = 0;
        if ((in_.peek() & 0xF0) == 0xF0) {
            flags = in_.u8() & 0x0F;
            if ((flags & ffChildPos) != 0)
                readInteger();
        }
        const std::string cls = in_.shortStr();
        const std::string name = in_.shortStr();

        TComponent* comp = nullptr;
        if (existingRoot != nullptr) {
            comp = existingRoot;
            if (!name.empty() && !SameText(comp->Name(), name))
                guarded(start, comp, [&] { comp->SetName(uniqueName(comp, name)); });
        } else if (root_ != nullptr && (flags & (ffInherited | ffInline)) != 0 &&
                   findByName(name) != nullptr) {
            comp = findByName(name);
        } else if ((flags & ffInherited) != 0) {
            failRead("Ancestor for '" + name + "' not found", start);
        } else {
            TPersistentClass info = FindClass(cls); // "Class %s not found"
            if (!info->IsComponent() || !info->CanCreate())
                failRead("Class " + cls + " cannot be created from a stream", start);
            TComponent* owner = root_ != nullptr ? root_ : ownerForNew;
            guarded(start, nullptr, [&] { comp = info->CreateComponent(owner); });
            if (root_ == nullptr) {
                root_ = comp;
                reader_.FRoot = comp;
            }
            created_.push_back(comp);
            ComponentAccess::setState(comp, csLoading, true);
            if (!name.empty())
                guarded(start, comp, [&] { comp->SetName(name); });
        }
        ComponentAccess::setState(comp, csLoading, true);
        ComponentAccess::setState(comp, csReading, true);
        bool listed = false;
        for (TComponent* c : loaded_)
            listed = listed || c == comp;
        if (!listed)
            loaded_.push_back(comp);
        if (parent != nullptr)
            guarded(start, comp, [&] { comp->SetParentComponent(parent); });

        while (in_.peek() != 0)
            readProperty(comp, comp);
        in_.u8();
        while (in_.peek() != 0)
            readObject(nullptr, comp, nullptr);
        in_.u8();
        ComponentAccess::setState(comp, csReading, false);
    }

    std::string uniqueName(TComponent* comp, const std::string& name) {
        TComponent* owner = comp->Owner();
        if (owner == nullptr)
            return name;
        TComponent* other = owner->FindComponent(name);
        if (other == nullptr || other == comp)
            return name;
        for (int i = 1;; ++i) {
            std::string candidate = name + "_" + std::to_string(i);
            other = owner->FindComponent(candidate);
            if (other == nullptr || other == comp)
                return candidate;
        }
    }

    TComponent* findByName(const std::string& name) const {
        if (root_ == nullptr || name.empty())
            return nullptr;
        if (SameText(root_->Name(), name))
            return root_;
        return root_->FindComponent(name);
    }

    static std::string context(TComponent* comp) {
        if (comp == nullptr)
            return {};
        return comp->Name().empty() ? comp->ClassName() : comp->Name();
    }

    // Runs fn; an error other than a stream error becomes a read error at offset.
    template <class F>
    void guarded(size_t offset, TComponent* comp, F fn) {
        try {
            fn();
        } catch (const EFilerError&) {
            throw;
        } catch (const EAbort&) {
            throw;
        } catch (const Exception& e) {
            const std::string ctx = context(comp);
            failRead((ctx.empty() ? std::string() : "Error reading " + ctx + ": ") + e.Message(),
                     offset);
        }
    }

    void readProperty(TPersistent* instance, TComponent* comp) {
        const size_t start = in_.pos();
        const std::string path = in_.shortStr();
        TPersistent* target = instance;
        std::string_view rest = path;
        for (size_t dot = rest.find('.'); dot != std::string_view::npos; dot = rest.find('.')) {
            const std::string segment(rest.substr(0, dot));
            rest.remove_prefix(dot + 1);
            PPropInfo p = GetPropInfo(target, segment);
            if (p == nullptr || p->Kind != pkObject || !p->GetObject)
                failRead("Property " + segment + " does not exist in class " + target->ClassName() +
                             " (" + context(comp) + "." + path + ")",
                         start);
            TPersistent* sub = nullptr;
            guarded(start, comp, [&] { sub = p->GetObject(target); });
            if (sub == nullptr)
                failRead("Property " + segment + " of " + context(comp) + " holds no object",
                         start);
            target = sub;
        }
        const std::string last(rest);
        PPropInfo p = GetPropInfo(target, last);
        if (p != nullptr) {
            readPropValue(target, p, comp, path, start);
            return;
        }
        // Not published: perhaps a property the object defines itself.
        const std::string savedName = definedName_;
        const bool savedDone = definedDone_;
        definedName_ = last;
        definedDone_ = false;
        try {
            guarded(start, comp, [&] { target->DefineProperties(&reader_); });
        } catch (...) {
            definedName_ = savedName;
            definedDone_ = savedDone;
            throw;
        }
        const bool done = definedDone_;
        definedName_ = savedName;
        definedDone_ = savedDone;
        if (!done)
            failRead("Property " + last + " does not exist in class " + target->ClassName() + " (" +
                         context(comp) + "." + path + ")",
                     start);
    }

    [[noreturn]] void badValue(const std::string& path, TComponent* comp, size_t at,
                               const std::string& detail) {
        failRead("Invalid property value for " + context(comp) + "." + path + ": " + detail, at);
    }

    void readPropValue(TPersistent* target, PPropInfo p, TComponent* comp, const std::string& path,
                       size_t start) {
        DepthGuard guard(*this);
        const size_t at = in_.pos();
        const std::uint8_t k = in_.peek();
        if (!p->IsWritable() && p->Kind != pkObject)
            badValue(path, comp, at, "the property is read-only");
        switch (p->Kind) {
        case pkInteger:
        case pkInt64: {
            std::int64_t v = 0;
            if (k == vaIdent) {
                const std::string ident = readIdent();
                if (p->Idents == nullptr || !p->Idents->IdentToInt(ident, v))
                    badValue(path, comp, at, "unknown identifier " + ident);
            } else if (isIntKind(k)) {
                v = readInteger();
            } else {
                badValue(path, comp, at, "integer expected");
            }
            if (p->Kind == pkInteger) {
                if (v < INT32_MIN || v > static_cast<std::int64_t>(UINT32_MAX))
                    badValue(path, comp, at, "integer out of range");
                v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
            }
            guarded(start, comp, [&] { p->SetOrd(target, v); });
            return;
        }
        case pkBoolean:
            if (k != vaTrue && k != vaFalse)
                badValue(path, comp, at, "True or False expected");
            in_.u8();
            guarded(start, comp, [&] { p->SetOrd(target, k == vaTrue ? 1 : 0); });
            return;
        case pkEnumeration: {
            if (k != vaIdent && k != vaTrue && k != vaFalse)
                badValue(path, comp, at, "identifier expected");
            const std::string ident = readIdent();
            const int ord = p->EnumType != nullptr ? p->EnumType->ValueOf(ident) : -1;
            if (ord < 0)
                badValue(path, comp, at, "unknown identifier " + ident);
            guarded(start, comp, [&] { p->SetOrd(target, ord); });
            return;
        }
        case pkSet: {
            if (k != vaSet)
                badValue(path, comp, at, "set expected");
            in_.u8();
            std::uint64_t mask = 0;
            for (;;) {
                const std::string ident = in_.shortStr();
                if (ident.empty())
                    break;
                const int ord = p->EnumType != nullptr ? p->EnumType->ValueOf(ident) : -1;
                if (ord < 0 || ord >= 64)
                    badValue(path, comp, at, "unknown set element " + ident);
                mask |= std::uint64_t{1} << ord;
            }
            guarded(start, comp, [&] { p->SetOrd(target, static_cast<std::int64_t>(mask)); });
            return;
        }
        case pkString: {
            if (k != vaString && k != vaLString && k != vaWString && k != vaUTF8String)
                badValue(path, comp, at, "string expected");
            const std::string s = readString();
            guarded(start, comp, [&] { p->SetStr(target, s); });
            return;
        }
        case pkFloat: {
            if (!isIntKind(k) && k != vaExtended && k != vaSingle && k != vaCurrency && k != vaDate)
                badValue(path, comp, at, "number expected");
            const double d = readFloat();
            guarded(start, comp, [&] { p->SetFloat(target, d); });
            return;
        }
        case pkObject: {
            TPersistent* sub = nullptr;
            guarded(start, comp, [&] { sub = p->GetObject(target); });
            if (k == vaNil) {
                in_.u8();
                return;
            }
            auto* coll = dynamic_cast<TCollection*>(sub);
            if (k == vaCollection && coll != nullptr) {
                readCollection(coll, comp);
                return;
            }
            badValue(path, comp, at, "the value does not fit an object property");
        }
        case pkComponent:
            if (k == vaNil) {
                in_.u8();
                guarded(start, comp, [&] { p->SetComponent(target, nullptr); });
                return;
            }
            if (k != vaIdent)
                badValue(path, comp, at, "component name expected");
            fixups_.push_back({target, p, readIdent(), context(comp) + "." + path, at});
            return;
        case pkMethod: {
            if (k == vaNil) {
                in_.u8();
                guarded(start, comp, [&] { SetMethodProp(target, p, std::any()); });
                return;
            }
            if (k != vaIdent)
                badValue(path, comp, at, "method name expected");
            const std::string handler = readIdent();
            std::any method = root_ != nullptr ? root_->MethodAddress(handler) : std::any();
            if (!method.has_value())
                failRead("Method " + handler + " not found in " +
                             (root_ != nullptr ? root_->ClassName() : std::string("the root")) +
                             " (" + context(comp) + "." + path + ")",
                         at);
            guarded(start, comp, [&] { SetMethodProp(target, p, method, handler); });
            return;
        }
        }
    }

    void readCollection(TCollection* coll, TComponent* comp) {
        in_.u8(); // vaCollection
        coll->BeginUpdate();
        try {
            coll->Clear();
            while (in_.peek() != 0) {
                if (isIntKind(in_.peek()))
                    readInteger(); // item position, not used
                if (in_.u8() != vaList)
                    in_.fail("Collection item expected");
                TCollectionItem* item = nullptr;
                guarded(in_.pos(), comp, [&] { item = coll->Add(); });
                while (in_.peek() != 0)
                    readProperty(item, comp);
                in_.u8();
            }
            in_.u8();
        } catch (...) {
            coll->EndUpdate();
            throw;
        }
        coll->EndUpdate();
    }

    void resolveFixups() {
        for (const Fixup& f : fixups_) {
            TComponent* target = findByName(f.Name);
            if (target == nullptr) {
                // "Owner.Name" where Owner is the root.
                const size_t dot = f.Name.find('.');
                if (dot != std::string::npos && root_ != nullptr &&
                    SameText(f.Name.substr(0, dot), root_->Name()))
                    target = root_->FindComponent(f.Name.substr(dot + 1));
            }
            if (target == nullptr)
                failRead("Component " + f.Name + " not found (" + f.Context + ")", f.Offset);
            bool fits = false;
            guarded(f.Offset, nullptr, [&] { fits = f.Prop->SetComponent(f.Instance, target); });
            if (!fits)
                failRead("Invalid property value for " + f.Context + ": " + f.Name + " is a " +
                             target->ClassName(),
                         f.Offset);
        }
        fixups_.clear();
    }

    void finish() {
        const std::vector<TComponent*> loaded = loaded_;
        for (TComponent* c : loaded)
            ComponentAccess::setState(c, csReading, false);
        for (size_t i = 0; i < loaded.size(); ++i) {
            try {
                ComponentAccess::loaded(loaded[i]);
            } catch (...) {
                for (size_t j = i; j < loaded.size(); ++j)
                    ComponentAccess::setState(loaded[j], csLoading, false);
                throw;
            }
        }
    }

    void abandon(bool rootIsNew) {
        for (TComponent* c : loaded_) {
            ComponentAccess::setState(c, csLoading, false);
            ComponentAccess::setState(c, csReading, false);
        }
        if (rootIsNew) {
            delete root_; // owns everything else that was created
            root_ = nullptr;
        } else {
            for (auto it = created_.rbegin(); it != created_.rend(); ++it)
                delete *it;
        }
        created_.clear();
        loaded_.clear();
    }

    TReader& reader_;
    std::string_view data_;
    ByteReader in_;
    TTextPositionMap positions_;
    TComponent* root_ = nullptr;
    std::vector<TComponent*> created_;
    std::vector<TComponent*> loaded_;
    std::vector<Fixup> fixups_;
    std::string definedName_;
    bool definedDone_ = false;
};

} // namespace kv::toolkit

// ---------------------------------------------------------------------------------------------
// TReader

TReader::TReader(std::string_view Data)
    : FState(std::make_unique<kv::toolkit::ReaderState>(*this, Data)) {}

TReader::~TReader() = default;

void TReader::SetPositionMap(std::vector<std::pair<std::int64_t, std::pair<int, int>>> Map) {
    FState->setPositions(std::move(Map));
}

TValueType TReader::NextValue() const {
    return static_cast<TValueType>(FState->in().peek());
}

TValueType TReader::ReadValue() {
    return static_cast<TValueType>(FState->in().u8());
}

std::int64_t TReader::ReadInteger() {
    return FState->readInteger();
}

bool TReader::ReadBoolean() {
    const size_t at = FState->in().pos();
    const std::uint8_t k = FState->in().u8();
    if (k == vaTrue)
        return true;
    if (k == vaFalse)
        return false;
    FState->in().failAt("True or False expected", at);
}

std::string TReader::ReadString() {
    return FState->readString();
}

std::string TReader::ReadIdent() {
    return FState->readIdent();
}

double TReader::ReadFloat() {
    return FState->readFloat();
}

std::string TReader::ReadBinary() {
    const size_t at = FState->in().pos();
    if (FState->in().u8() != vaBinary)
        FState->in().failAt("Binary data expected", at);
    return std::string(FState->longBytes(1));
}

void TReader::ReadListBegin() {
    const size_t at = FState->in().pos();
    if (FState->in().u8() != vaList)
        FState->in().failAt("List expected", at);
}

bool TReader::EndOfList() const {
    return FState->in().peek() == vaNull;
}

void TReader::ReadListEnd() {
    const size_t at = FState->in().pos();
    if (FState->in().u8() != vaNull)
        FState->in().failAt("End of list expected", at);
}

void TReader::SkipValue() {
    FState->skipValue();
}

std::int64_t TReader::Position() const {
    return static_cast<std::int64_t>(FState->in().pos());
}

void TReader::DefineProperty(const std::string& Name, const std::function<void(TReader&)>& ReadData,
                             const std::function<void(TWriter&)>& /*WriteData*/, bool /*HasData*/) {
    if (!FState->matchDefined(Name))
        return;
    FState->definedRead();
    if (ReadData)
        ReadData(*this);
    else
        SkipValue();
}

void TReader::DefineBinaryProperty(const std::string& Name,
                                   const std::function<void(const std::string&)>& ReadData,
                                   const std::function<std::string()>& /*WriteData*/,
                                   bool /*HasData*/) {
    if (!FState->matchDefined(Name))
        return;
    FState->definedRead();
    const std::string data = ReadBinary();
    if (ReadData)
        ReadData(data);
}

void TReader::ReadRootComponent(TComponent* Root) {
    FState->readRoot(Root);
}

TComponent* TReader::ReadComponent(TComponent* Owner, TComponent* Parent) {
    return FState->readNew(Owner, Parent);
}

// ---------------------------------------------------------------------------------------------
// TWriter

namespace kv::toolkit {

class WriterState {
public:
    ByteWriter out;
    std::string prefix;

    void name(const std::string& n) {
        if (!out.shortStr(n))
            throw EFilerError("Name too long to write: " + n);
    }

    void writeComponent(TComponent* comp, TComponent* root) {
        if (++depth_ > kMaxStreamDepth)
            throw EFilerError("Components nested too deeply to write");
        const std::string cls = comp->ClassName();
        if (cls.empty() || cls.size() >= 0xF0)
            throw EFilerError("Invalid class name to write: " + cls);
        ComponentAccess::setState(comp, csWriting, true);
        try {
            out.shortStr(cls);
            name(comp->Name());
            writeProperties(comp, root, "");
            out.u8(0);
            comp->GetChildren([&](TComponent* child) { writeComponent(child, root); }, root);
            out.u8(0);
        } catch (...) {
            ComponentAccess::setState(comp, csWriting, false);
            --depth_;
            throw;
        }
        ComponentAccess::setState(comp, csWriting, false);
        --depth_;
    }

    void writeProperties(TPersistent* obj, TComponent* root, const std::string& pre);

    TWriter* writer = nullptr;
    TComponent* root = nullptr;

private:
    int depth_ = 0;
};

void WriterState::writeProperties(TPersistent* obj, TComponent* rootComp, const std::string& pre) {
    if (++depth_ > kMaxStreamDepth)
        throw EFilerError("Objects nested too deeply to write");
    TPersistentClass info = GetClassInfo(obj);
    if (info == nullptr)
        throw EFilerError("Class " + obj->ClassName() + " is not registered");
    for (PPropInfo p : info->Properties()) {
        if (p->Stored && !p->Stored(obj))
            continue;
        const std::string full = pre + p->Name;
        switch (p->Kind) {
        case pkInteger:
        case pkInt64:
        case pkBoolean:
        case pkEnumeration:
        case pkSet: {
            if (!p->GetOrd || !p->SetOrd)
                break;
            const std::int64_t v = p->GetOrd(obj);
            if (p->HasDefault && v == p->OrdDefault)
                break;
            name(full);
            if (p->Kind == pkBoolean) {
                writer->WriteBoolean(v != 0);
            } else if (p->Kind == pkEnumeration) {
                const std::string ident =
                    p->EnumType != nullptr ? p->EnumType->NameOf(v) : std::string();
                if (ident.empty())
                    writer->WriteInteger(v);
                else
                    writer->WriteIdent(ident);
            } else if (p->Kind == pkSet) {
                std::vector<std::string> idents;
                for (int i = 0; i < 64; ++i)
                    if ((static_cast<std::uint64_t>(v) & (std::uint64_t{1} << i)) != 0 &&
                        p->EnumType != nullptr)
                        idents.push_back(p->EnumType->NameOf(i));
                writer->WriteSet(idents);
            } else {
                std::string ident;
                if (p->Idents != nullptr && p->Idents->IntToIdent(v, ident))
                    writer->WriteIdent(ident);
                else
                    writer->WriteInteger(v);
            }
            break;
        }
        case pkString: {
            if (!p->GetStr || !p->SetStr)
                break;
            const std::string v = p->GetStr(obj);
            if (p->HasDefault && v == p->StrDefault)
                break;
            name(full);
            writer->WriteString(v);
            break;
        }
        case pkFloat: {
            if (!p->GetFloat || !p->SetFloat)
                break;
            const double v = p->GetFloat(obj);
            if (p->HasDefault && v == p->FloatDefault)
                break;
            name(full);
            writer->WriteFloat(v);
            break;
        }
        case pkObject: {
            TPersistent* sub = p->GetObject ? p->GetObject(obj) : nullptr;
            if (sub == nullptr)
                break;
            if (auto* coll = dynamic_cast<TCollection*>(sub)) {
                if (coll->Count() == 0)
                    break;
                name(full);
                out.u8(vaCollection);
                for (int i = 0; i < coll->Count(); ++i) {
                    out.u8(vaList);
                    writeProperties(coll->Items(i), rootComp, "");
                    out.u8(0);
                }
                out.u8(0);
                break;
            }
            if (dynamic_cast<TComponent*>(sub) != nullptr)
                break; // a sub-component is written as a component of its own
            writeProperties(sub, rootComp, full + ".");
            break;
        }
        case pkComponent: {
            TComponent* c = p->GetComponent ? p->GetComponent(obj) : nullptr;
            if (c == nullptr || c->Name().empty() || !p->SetComponent)
                break;
            std::string ref = c->Name();
            if (c != rootComp && c->Owner() != rootComp && c->Owner() != nullptr &&
                !c->Owner()->Name().empty())
                ref = c->Owner()->Name() + "." + c->Name();
            name(full);
            writer->WriteIdent(ref);
            break;
        }
        case pkMethod: {
            auto* comp = dynamic_cast<TComponent*>(obj);
            if (comp == nullptr || !p->HasMethod || !p->HasMethod(obj))
                break;
            const std::string handler = ComponentAccess::methodName(comp, p->Name);
            if (handler.empty())
                break;
            name(full);
            writer->WriteIdent(handler);
            break;
        }
        }
    }
    const std::string savedPrefix = prefix;
    prefix = pre;
    try {
        obj->DefineProperties(writer);
    } catch (...) {
        prefix = savedPrefix;
        --depth_;
        throw;
    }
    prefix = savedPrefix;
    --depth_;
}

} // namespace kv::toolkit

TWriter::TWriter() : FState(std::make_unique<kv::toolkit::WriterState>()) {
    FState->writer = this;
}

TWriter::~TWriter() = default;

void TWriter::WriteInteger(std::int64_t Value) {
    FState->out.integer(Value);
}

void TWriter::WriteBoolean(bool Value) {
    FState->out.u8(Value ? vaTrue : vaFalse);
}

void TWriter::WriteString(std::string_view Value) {
    bool ascii = true;
    for (char c : Value)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii && Value.size() <= 255) {
        FState->out.u8(vaString);
        FState->out.shortStr(Value);
        return;
    }
    if (Value.size() > UINT32_MAX)
        throw EFilerError("String too long to write");
    FState->out.u8(ascii ? vaLString : vaUTF8String);
    FState->out.le(Value.size(), 4);
    FState->out.bytes(Value);
}

void TWriter::WriteWideString(std::string_view Value) {
    const std::u16string units = kv::platform::utf8ToUtf16(Value);
    FState->out.u8(vaWString);
    FState->out.le(units.size(), 4);
    for (char16_t u : units)
        FState->out.le(u, 2);
}

void TWriter::WriteIdent(std::string_view Ident) {
    if (SameText(Ident, "True")) {
        FState->out.u8(vaTrue);
    } else if (SameText(Ident, "False")) {
        FState->out.u8(vaFalse);
    } else if (SameText(Ident, "nil")) {
        FState->out.u8(vaNil);
    } else if (SameText(Ident, "Null")) {
        FState->out.u8(vaNull);
    } else {
        FState->out.u8(vaIdent);
        if (!FState->out.shortStr(Ident))
            throw EFilerError("Identifier too long to write");
    }
}

void TWriter::WriteFloat(double Value) {
    const kv::toolkit::Extended80 e = kv::toolkit::doubleToExtended(Value);
    FState->out.u8(vaExtended);
    FState->out.bytes(std::string_view(reinterpret_cast<const char*>(e.data()), e.size()));
}

void TWriter::WriteSingle(float Value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &Value, sizeof bits);
    FState->out.u8(vaSingle);
    FState->out.le(bits, 4);
}

void TWriter::WriteCurrency(std::int64_t TenThousandths) {
    FState->out.u8(vaCurrency);
    FState->out.le(static_cast<std::uint64_t>(TenThousandths), 8);
}

void TWriter::WriteDate(double Value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &Value, sizeof bits);
    FState->out.u8(vaDate);
    FState->out.le(bits, 8);
}

void TWriter::WriteBinary(std::string_view Data) {
    if (Data.size() > UINT32_MAX)
        throw EFilerError("Binary data too long to write");
    FState->out.u8(vaBinary);
    FState->out.le(Data.size(), 4);
    FState->out.bytes(Data);
}

void TWriter::WriteListBegin() {
    FState->out.u8(vaList);
}

void TWriter::WriteListEnd() {
    FState->out.u8(vaNull);
}

void TWriter::WriteSet(const std::vector<std::string>& Idents) {
    FState->out.u8(vaSet);
    for (const std::string& s : Idents)
        if (!s.empty() && !FState->out.shortStr(s))
            throw EFilerError("Identifier too long to write");
    FState->out.u8(0);
}

void TWriter::DefineProperty(const std::string& Name,
                             const std::function<void(TReader&)>& /*ReadData*/,
                             const std::function<void(TWriter&)>& WriteData, bool HasData) {
    if (!HasData || !WriteData)
        return;
    FState->name(FState->prefix + Name);
    WriteData(*this);
}

void TWriter::DefineBinaryProperty(const std::string& Name,
                                   const std::function<void(const std::string&)>& /*ReadData*/,
                                   const std::function<std::string()>& WriteData, bool HasData) {
    if (!HasData || !WriteData)
        return;
    FState->name(FState->prefix + Name);
    WriteBinary(WriteData());
}

void TWriter::WriteRootComponent(TComponent* Root) {
    FRoot = Root;
    FState->root = Root;
    FState->out.bytes("TPF0");
    FState->writeComponent(Root, Root);
}

const std::string& TWriter::Data() const {
    return FState->out.data();
}

// ---------------------------------------------------------------------------------------------
// Entry points

namespace {

struct PreparedStream {
    std::string binary;
    TTextPositionMap positions;
};

PreparedStream prepare(std::string_view data) {
    PreparedStream p;
    if (IsBinaryComponentStream(data))
        p.binary = std::string(data);
    else
        p.binary = ObjectTextToBinary(data, &p.positions);
    return p;
}

} // namespace

void ReadRootComponent(TComponent* Root, std::string_view Data) {
    PreparedStream p = prepare(Data);
    TReader reader(p.binary);
    if (!p.positions.empty())
        reader.SetPositionMap(std::move(p.positions));
    reader.ReadRootComponent(Root);
}

TComponent* ReadComponent(std::string_view Data, TComponent* Owner, TComponent* Parent) {
    PreparedStream p = prepare(Data);
    TReader reader(p.binary);
    if (!p.positions.empty())
        reader.SetPositionMap(std::move(p.positions));
    return reader.ReadComponent(Owner, Parent);
}

std::string WriteComponent(TComponent* Root) {
    TWriter writer;
    writer.WriteRootComponent(Root);
    return writer.Data();
}

std::string WriteComponentText(TComponent* Root) {
    return ObjectBinaryToText(WriteComponent(Root));
}
