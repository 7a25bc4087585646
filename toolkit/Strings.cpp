#include "toolkit/Strings.h"

#include "toolkit/Filer.h"
#include "toolkit/SysUtils.h"

#include <algorithm>
#include <istream>
#include <iterator>
#include <ostream>

// ---------------------------------------------------------------------------------------------
// TStrings

void TStrings::Error(const std::string& Message, int Data) const {
    throw EStringListError(Message + " (" + std::to_string(Data) + ")");
}

void TStrings::Put(int Index, const std::string& S) {
    TObject* obj = GetObject(Index);
    Delete(Index);
    InsertObject(Index, S, obj);
}

TObject* TStrings::GetObject(int /*Index*/) const {
    return nullptr;
}

void TStrings::PutObject(int /*Index*/, TObject* /*AObject*/) {}

void TStrings::InsertObject(int Index, const std::string& S, TObject* AObject) {
    Insert(Index, S);
    PutObject(Index, AObject);
}

int TStrings::Add(const std::string& S) {
    const int index = Count();
    Insert(index, S);
    return index;
}

int TStrings::AddObject(const std::string& S, TObject* AObject) {
    const int index = Add(S);
    PutObject(index, AObject);
    return index;
}

int TStrings::CompareStrings(std::string_view A, std::string_view B) const {
    return CompareText(A, B);
}

int TStrings::IndexOf(std::string_view S) const {
    const int n = Count();
    for (int i = 0; i < n; ++i)
        if (CompareStrings(Get(i), S) == 0)
            return i;
    return -1;
}

int TStrings::IndexOfObject(const TObject* AObject) const {
    const int n = Count();
    for (int i = 0; i < n; ++i)
        if (GetObject(i) == AObject)
            return i;
    return -1;
}

void TStrings::Move(int CurIndex, int NewIndex) {
    if (CurIndex == NewIndex)
        return;
    BeginUpdate();
    try {
        const std::string s = Get(CurIndex);
        TObject* obj = GetObject(CurIndex);
        Delete(CurIndex);
        InsertObject(NewIndex, s, obj);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStrings::Exchange(int Index1, int Index2) {
    BeginUpdate();
    try {
        const std::string s = Get(Index1);
        TObject* obj = GetObject(Index1);
        Put(Index1, Get(Index2));
        PutObject(Index1, GetObject(Index2));
        Put(Index2, s);
        PutObject(Index2, obj);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStrings::AddStrings(const TStrings& Strings) {
    BeginUpdate();
    try {
        const int n = Strings.Count();
        for (int i = 0; i < n; ++i)
            AddObject(Strings.Get(i), Strings.GetObject(i));
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::string TStrings::Text() const {
    std::string r;
    const int n = Count();
    for (int i = 0; i < n; ++i) {
        r += Get(i);
        r += "\r\n";
    }
    return r;
}

namespace {

// Splits on CR LF, LF or CR; a final line break ends the last line without adding one.
std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
        ++i;
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

} // namespace

void TStrings::SetText(std::string_view Value) {
    BeginUpdate();
    try {
        Clear();
        for (const std::string& line : splitLines(Value))
            Add(line);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::string TStrings::CommaText() const {
    std::string r;
    const int n = Count();
    for (int i = 0; i < n; ++i) {
        const std::string s = Get(i);
        if (i > 0)
            r += ',';
        const bool quote = s.empty() || s.find_first_of(" ,\"") != std::string::npos ||
                           std::any_of(s.begin(), s.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < ' '; });
        if (!quote) {
            r += s;
            continue;
        }
        r += '"';
        for (char c : s) {
            if (c == '"')
                r += '"';
            r += c;
        }
        r += '"';
    }
    return r;
}

void TStrings::SetCommaText(std::string_view Value) {
    std::vector<std::string> items;
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < Value.size() && static_cast<unsigned char>(Value[i]) <= ' ')
            ++i;
    };
    skipBlanks();
    while (i < Value.size()) {
        std::string item;
        if (Value[i] == '"') {
            ++i;
            while (i < Value.size()) {
                if (Value[i] == '"') {
                    if (i + 1 < Value.size() && Value[i + 1] == '"') {
                        item += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += Value[i++];
            }
            while (i < Value.size() && Value[i] != ',' &&
                   static_cast<unsigned char>(Value[i]) > ' ')
                item += Value[i++];
        } else {
            while (i < Value.size() && Value[i] != ',' &&
                   static_cast<unsigned char>(Value[i]) > ' ')
                item += Value[i++];
        }
        items.push_back(std::move(item));
        skipBlanks();
        if (i < Value.size() && Value[i] == ',') {
            ++i;
            skipBlanks();
            if (i == Value.size())
                items.emplace_back();
        }
    }
    BeginUpdate();
    try {
        Clear();
        for (const std::string& s : items)
            Add(s);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::string TStrings::Names(int Index) const {
    const std::string s = Get(Index);
    const size_t p = s.find(FNameValueSeparator);
    return p == std::string::npos ? std::string() : s.substr(0, p);
}

std::string TStrings::ValueFromIndex(int Index) const {
    const std::string s = Get(Index);
    const size_t p = s.find(FNameValueSeparator);
    return p == std::string::npos ? std::string() : s.substr(p + 1);
}

int TStrings::IndexOfName(std::string_view Name) const {
    const int n = Count();
    for (int i = 0; i < n; ++i) {
        const std::string s = Get(i);
        const size_t p = s.find(FNameValueSeparator);
        if (p != std::string::npos && CompareStrings(std::string_view(s).substr(0, p), Name) == 0)
            return i;
    }
    return -1;
}

std::string TStrings::Values(std::string_view Name) const {
    const int i = IndexOfName(Name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStrings::SetValues(std::string_view Name, const std::string& Value) {
    int i = IndexOfName(Name);
    if (Value.empty()) {
        if (i >= 0)
            Delete(i);
        return;
    }
    const std::string line = std::string(Name) + FNameValueSeparator + Value;
    if (i < 0)
        Add(line);
    else
        Put(i, line);
}

void TStrings::BeginUpdate() {
    if (FUpdateCount == 0)
        SetUpdateState(true);
    ++FUpdateCount;
}

void TStrings::EndUpdate() {
    if (FUpdateCount == 0)
        return;
    if (--FUpdateCount == 0)
        SetUpdateState(false);
}

void TStrings::SaveToStream(std::ostream& Stream) const {
    const std::string text = Text();
    Stream.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void TStrings::LoadFromStream(std::istream& Stream) {
    std::string text((std::istreambuf_iterator<char>(Stream)), std::istreambuf_iterator<char>());
    SetText(text);
}

void TStrings::Assign(TPersistent* Source) {
    if (auto* src = dynamic_cast<TStrings*>(Source)) {
        if (src == this)
            return;
        BeginUpdate();
        try {
            Clear();
            FNameValueSeparator = src->FNameValueSeparator;
            AddStrings(*src);
        } catch (...) {
            EndUpdate();
            throw;
        }
        EndUpdate();
        return;
    }
    TPersistent::Assign(Source);
}

void TStrings::DefineProperties(TFiler* Filer) {
    Filer->DefineProperty(
        "Strings",
        [this](TReader& reader) {
            reader.ReadListBegin();
            BeginUpdate();
            try {
                Clear();
                while (!reader.EndOfList())
                    Add(reader.ReadString());
            } catch (...) {
                EndUpdate();
                throw;
            }
            EndUpdate();
            reader.ReadListEnd();
        },
        [this](TWriter& writer) {
            writer.WriteListBegin();
            const int n = Count();
            for (int i = 0; i < n; ++i)
                writer.WriteString(Get(i));
            writer.WriteListEnd();
        },
        Count() > 0);
}

// ---------------------------------------------------------------------------------------------
// TStringList

TStringList::~TStringList() {
    OnChange = nullptr;
    OnChanging = nullptr;
    if (FOwnsObjects)
        for (Item& item : FList)
            delete item.Object;
}

void TStringList::checkIndex(int Index) const {
    if (Index < 0 || Index >= Count())
        Error("List index out of bounds", Index);
}

std::string TStringList::Get(int Index) const {
    checkIndex(Index);
    return FList[static_cast<size_t>(Index)].S;
}

void TStringList::Put(int Index, const std::string& S) {
    if (FSorted)
        throw EStringListError("Operation not allowed on sorted list");
    checkIndex(Index);
    Changing();
    FList[static_cast<size_t>(Index)].S = S;
    Changed();
}

TObject* TStringList::GetObject(int Index) const {
    checkIndex(Index);
    return FList[static_cast<size_t>(Index)].Object;
}

void TStringList::PutObject(int Index, TObject* AObject) {
    checkIndex(Index);
    Changing();
    FList[static_cast<size_t>(Index)].Object = AObject;
    Changed();
}

void TStringList::insertItem(int Index, const std::string& S, TObject* AObject) {
    Changing();
    FList.insert(FList.begin() + Index, Item{S, AObject});
    Changed();
}

void TStringList::Insert(int Index, const std::string& S) {
    InsertObject(Index, S, nullptr);
}

void TStringList::InsertObject(int Index, const std::string& S, TObject* AObject) {
    if (FSorted)
        throw EStringListError("Operation not allowed on sorted list");
    if (Index < 0 || Index > Count())
        Error("List index out of bounds", Index);
    insertItem(Index, S, AObject);
}

int TStringList::Add(const std::string& S) {
    return AddObject(S, nullptr);
}

int TStringList::AddObject(const std::string& S, TObject* AObject) {
    int index = Count();
    if (FSorted) {
        if (Find(S, index)) {
            if (FDuplicates == dupIgnore)
                return index;
            if (FDuplicates == dupError)
                throw EStringListError("String list does not allow duplicates");
            // dupAccept: after the last equal line.
            while (index < Count() && CompareStrings(FList[static_cast<size_t>(index)].S, S) == 0)
                ++index;
        }
    }
    insertItem(index, S, AObject);
    return index;
}

void TStringList::Delete(int Index) {
    checkIndex(Index);
    Changing();
    TObject* obj = FList[static_cast<size_t>(Index)].Object;
    FList.erase(FList.begin() + Index);
    if (FOwnsObjects)
        delete obj;
    Changed();
}

void TStringList::Clear() {
    if (FList.empty())
        return;
    Changing();
    std::vector<Item> old;
    old.swap(FList);
    if (FOwnsObjects)
        for (Item& item : old)
            delete item.Object;
    Changed();
}

void TStringList::Exchange(int Index1, int Index2) {
    if (FSorted)
        throw EStringListError("Operation not allowed on sorted list");
    checkIndex(Index1);
    checkIndex(Index2);
    Changing();
    std::swap(FList[static_cast<size_t>(Index1)], FList[static_cast<size_t>(Index2)]);
    Changed();
}

void TStringList::SetText(std::string_view Value) {
    TStrings::SetText(Value);
}

int TStringList::CompareStrings(std::string_view A, std::string_view B) const {
    return FCaseSensitive ? CompareStr(A, B) : CompareText(A, B);
}

int TStringList::IndexOf(std::string_view S) const {
    if (!FSorted)
        return TStrings::IndexOf(S);
    int index = 0;
    return Find(S, index) ? index : -1;
}

bool TStringList::Find(std::string_view S, int& Index) const {
    int lo = 0;
    int hi = Count() - 1;
    bool found = false;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        const int c = CompareStrings(FList[static_cast<size_t>(mid)].S, S);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0)
                found = true; // keep going left: the first equal line
        }
    }
    Index = lo;
    return found;
}

void TStringList::Sort() {
    CustomSort([](const TStringList& list, int a, int b) {
        return list.CompareStrings(list.FList[static_cast<size_t>(a)].S,
                                   list.FList[static_cast<size_t>(b)].S);
    });
}

void TStringList::CustomSort(const std::function<int(const TStringList&, int, int)>& Compare) {
    if (FList.size() < 2)
        return;
    Changing();
    // Sort an index permutation so that Compare sees the list's current positions.
    std::vector<int> order(FList.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return Compare(*this, a, b) < 0; });
    std::vector<Item> sorted;
    sorted.reserve(FList.size());
    for (int i : order)
        sorted.push_back(std::move(FList[static_cast<size_t>(i)]));
    FList.swap(sorted);
    Changed();
}

void TStringList::SetSorted(bool Value) {
    if (FSorted == Value)
        return;
    if (Value)
        Sort();
    FSorted = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
    if (FCaseSensitive == Value)
        return;
    FCaseSensitive = Value;
    if (FSorted)
        Sort();
}

void TStringList::SetUpdateState(bool Updating) {
    if (Updating)
        Changing();
    else
        Changed();
}

void TStringList::Changing() {
    if (UpdateCount() == 0 && OnChanging)
        OnChanging(this);
}

void TStringList::Changed() {
    if (UpdateCount() == 0 && OnChange)
        OnChange(this);
}
