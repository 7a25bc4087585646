// TStrings / TStringList: ordered lists of UTF-8 lines with an optional object per line.
//
//   Add/AddObject/Insert/InsertObject/Delete/Clear/Count/Move/Exchange, operator[] and
//   Strings(i)/SetStrings(i, s), Objects(i)/SetObjects(i, o); AddStrings, Assign (from any
//   TStrings).
//   Text()          every line followed by CR LF (the last one too); SetText splits on CR LF,
//                   LF or CR; a final line break does not add an empty line.
//   CommaText()     lines separated by commas, quoted ("...") when they hold blanks, commas or
//                   quotes.
//   IndexOf(s)      first line equal to s ignoring case (TStringList: per CaseSensitive).
//   Name=value:     Names(i), ValueFromIndex(i), Values(name) / SetValues(name, value)
//                   (an empty value deletes the line), IndexOfName(name); separator '='.
//   BeginUpdate/EndUpdate  nest; a TStringList fires OnChanging/OnChange only outside updates.
//   SaveToStream/LoadFromStream  the Text form on std::ostream / std::istream.
// Streams store a TStrings as the defined property "Strings": a list of strings
// (Lines.Strings = ( 'a' 'b' )).
//
// TStringList keeps the lines itself. Sorted keeps them ordered with CompareText (ASCII letters
// fold, other bytes compare unsigned; CaseSensitive switches to byte order); Duplicates decides
// what Add does with an equal line in a sorted list (dupIgnore, dupAccept, dupError).
// Errors are EStringListError: "List index out of bounds (%d)", "String list does not allow
// duplicates", "Operation not allowed on sorted list".
#pragma once

#include "toolkit/Persistent.h"

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStrings : public TPersistent {
public:
    std::string ClassName() const override { return "TStrings"; }

    virtual int Count() const = 0;
    virtual std::string Get(int Index) const = 0;
    virtual void Put(int Index, const std::string& S);
    virtual TObject* GetObject(int Index) const;
    virtual void PutObject(int Index, TObject* AObject);
    virtual void Insert(int Index, const std::string& S) = 0;
    virtual void InsertObject(int Index, const std::string& S, TObject* AObject);
    virtual void Delete(int Index) = 0;
    virtual void Clear() = 0;
    virtual int Add(const std::string& S);
    virtual int AddObject(const std::string& S, TObject* AObject);
    virtual int IndexOf(std::string_view S) const;
    virtual void Move(int CurIndex, int NewIndex);
    virtual void Exchange(int Index1, int Index2);

    void Append(const std::string& S) { Add(S); }
    void AddStrings(const TStrings& Strings);
    std::string Strings(int Index) const { return Get(Index); }
    void SetStrings(int Index, const std::string& S) { Put(Index, S); }
    std::string operator[](int Index) const { return Get(Index); }
    TObject* Objects(int Index) const { return GetObject(Index); }
    void SetObjects(int Index, TObject* AObject) { PutObject(Index, AObject); }
    int IndexOfObject(const TObject* AObject) const;

    virtual std::string Text() const;
    virtual void SetText(std::string_view Value);
    std::string CommaText() const;
    void SetCommaText(std::string_view Value);

    std::string Names(int Index) const;
    std::string ValueFromIndex(int Index) const;
    std::string Values(std::string_view Name) const;
    void SetValues(std::string_view Name, const std::string& Value);
    int IndexOfName(std::string_view Name) const;
    char NameValueSeparator() const { return FNameValueSeparator; }
    void SetNameValueSeparator(char C) { FNameValueSeparator = C; }

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    void SaveToStream(std::ostream& Stream) const;
    void LoadFromStream(std::istream& Stream);

    void Assign(TPersistent* Source) override;
    void DefineProperties(TFiler* Filer) override;

protected:
    virtual void SetUpdateState(bool /*Updating*/) {}
    // Compares two lines the way IndexOf does (TStrings: ignoring case).
    virtual int CompareStrings(std::string_view A, std::string_view B) const;
    [[noreturn]] void Error(const std::string& Message, int Data) const;

private:
    int FUpdateCount = 0;
    char FNameValueSeparator = '=';
};

class TStringList : public TStrings {
public:
    TStringList() = default;
    ~TStringList() override;

    std::string ClassName() const override { return "TStringList"; }

    int Count() const override { return static_cast<int>(FList.size()); }
    std::string Get(int Index) const override;
    void Put(int Index, const std::string& S) override;
    TObject* GetObject(int Index) const override;
    void PutObject(int Index, TObject* AObject) override;
    void Insert(int Index, const std::string& S) override;
    void InsertObject(int Index, const std::string& S, TObject* AObject) override;
    void Delete(int Index) override;
    void Clear() override;
    int Add(const std::string& S) override;
    int AddObject(const std::string& S, TObject* AObject) override;
    int IndexOf(std::string_view S) const override;
    void Exchange(int Index1, int Index2) override;
    void SetText(std::string_view Value) override;

    // Binary search in a sorted list: true and the index of the match, or false and the
    // index where S would be inserted.
    bool Find(std::string_view S, int& Index) const;
    void Sort();
    void CustomSort(const std::function<int(const TStringList&, int, int)>& Compare);

    bool Sorted() const { return FSorted; }
    void SetSorted(bool Value);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }
    bool CaseSensitive() const { return FCaseSensitive; }
    void SetCaseSensitive(bool Value);
    // When set, the list deletes the objects of the lines it deletes.
    bool OwnsObjects() const { return FOwnsObjects; }
    void SetOwnsObjects(bool Value) { FOwnsObjects = Value; }

    TNotifyEvent OnChange;
    TNotifyEvent OnChanging;

protected:
    void SetUpdateState(bool Updating) override;
    int CompareStrings(std::string_view A, std::string_view B) const override;
    virtual void Changed();
    virtual void Changing();

private:
    struct Item {
        std::string S;
        TObject* Object = nullptr;
    };
    void checkIndex(int Index) const;
    void insertItem(int Index, const std::string& S, TObject* AObject);

    std::vector<Item> FList;
    bool FSorted = false;
    TDuplicates FDuplicates = dupIgnore;
    bool FCaseSensitive = false;
    bool FOwnsObjects = false;
};
