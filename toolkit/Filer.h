// Component streams: reading components from, and writing them to, the binary component form
// ("TPF0") and the textual component form.
//
// Entry points (Data may be either form; the text form may start with a UTF-8 byte order mark):
//   ReadRootComponent(Root, Data)   reads the stream's root object INTO Root (a form reading its
//                                   own layout): Root's properties are set, the nested clauses
//                                   create components owned by Root, each told its enclosing
//                                   component through SetParentComponent().
//   ReadComponent(Data, Owner, Parent)
//                                   creates the stream's root object from the class registry
//                                   (owned by Owner, nested in Parent); the components nested
//                                   in it are owned by it.
//   WriteComponent(Root) / WriteComponentText(Root)
//                                   the binary / textual form of Root and its children
//                                   (GetChildren); properties equal to their default are left out.
//   ObjectTextToBinary / ObjectBinaryToText (toolkit/ObjectText.h) convert between the forms.
//
// While reading, every component read gets csLoading (and csReading while its own properties are
// read); component references ("Connection = MSCon") are resolved against the root and the
// components it owns once everything is created; event properties ("OnClick = KapatBTNClick")
// are resolved through Root->MethodAddress(); then Loaded() is called on every component read,
// the root first, in creation order. Errors: EClassNotFound "Class %s not found"; EReadError
// (EParserError for the text form) with a message that names what is wrong and where (byte
// offset, or line and column of the text form), e.g. an unknown property names the property,
// the class and the position. A failed read frees the components it had created.
//
// Custom stream data: a class overrides TPersistent::DefineProperties(Filer) and calls
//   Filer->DefineProperty(name, readFn(TReader&), writeFn(TWriter&), hasData)
//   Filer->DefineBinaryProperty(name, readFn(const std::string& bytes), writeFn() -> bytes,
//   hasData)
// The reader calls readFn when it meets the property; readFn reads exactly one value with the
// TReader value functions below. The writer calls writeFn when hasData is true.
#pragma once

#include "toolkit/Component.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Kind byte of a value in the binary form.
enum TValueType : std::uint8_t {
    vaNull = 0,
    vaList = 1,
    vaInt8 = 2,
    vaInt16 = 3,
    vaInt32 = 4,
    vaExtended = 5,
    vaString = 6,
    vaIdent = 7,
    vaFalse = 8,
    vaTrue = 9,
    vaBinary = 10,
    vaSet = 11,
    vaLString = 12,
    vaNil = 13,
    vaCollection = 14,
    vaSingle = 15,
    vaCurrency = 16,
    vaDate = 17,
    vaWString = 18,
    vaInt64 = 19,
    vaUTF8String = 20,
};

// Flags of an object header in the binary form (a first byte 0xF0 | flags).
enum TFilerFlag : std::uint8_t { ffInherited = 1, ffChildPos = 2, ffInline = 4 };

class TReader;
class TWriter;

class TFiler {
public:
    virtual ~TFiler();
    TComponent* Root() const { return FRoot; }

    virtual void DefineProperty(const std::string& Name,
                                const std::function<void(TReader&)>& ReadData,
                                const std::function<void(TWriter&)>& WriteData, bool HasData) = 0;
    virtual void DefineBinaryProperty(const std::string& Name,
                                      const std::function<void(const std::string&)>& ReadData,
                                      const std::function<std::string()>& WriteData,
                                      bool HasData) = 0;

protected:
    TComponent* FRoot = nullptr;
};

namespace kv::toolkit {
class ReaderState;
class WriterState;
} // namespace kv::toolkit

// Reads values of a binary component stream. Defined-property readers use the value functions;
// the component functions are used through ReadRootComponent/ReadComponent below.
class TReader : public TFiler {
public:
    // Data: the binary form including "TPF0".
    explicit TReader(std::string_view Data);
    ~TReader() override;

    TValueType NextValue() const;
    TValueType ReadValue();
    std::int64_t ReadInteger(); // vaInt8/16/32/64
    bool ReadBoolean();         // vaTrue/vaFalse
    std::string ReadString();   // any string kind, as UTF-8
    std::string ReadIdent();    // vaIdent, True/False/nil/Null as those words
    double ReadFloat();         // floats, currency, date, integers
    std::string ReadBinary();   // vaBinary
    void ReadListBegin();
    bool EndOfList() const;
    void ReadListEnd();
    // Skips one value of any kind.
    void SkipValue();
    std::int64_t Position() const;

    void DefineProperty(const std::string& Name, const std::function<void(TReader&)>& ReadData,
                        const std::function<void(TWriter&)>& WriteData, bool HasData) override;
    void DefineBinaryProperty(const std::string& Name,
                              const std::function<void(const std::string&)>& ReadData,
                              const std::function<std::string()>& WriteData, bool HasData) override;

    // Reads the whole stream into Root (see ReadRootComponent).
    void ReadRootComponent(TComponent* Root);
    // Reads the whole stream creating the root object (see ReadComponent).
    TComponent* ReadComponent(TComponent* Owner, TComponent* Parent);
    // Maps byte offsets to text positions for error messages (used for the text form).
    void SetPositionMap(std::vector<std::pair<std::int64_t, std::pair<int, int>>> Map);

private:
    friend class kv::toolkit::ReaderState;
    std::unique_ptr<kv::toolkit::ReaderState> FState;
};

// Writes values of a binary component stream; defined-property writers use the value functions.
class TWriter : public TFiler {
public:
    TWriter();
    ~TWriter() override;

    void WriteInteger(std::int64_t Value); // smallest of vaInt8/16/32/64
    void WriteBoolean(bool Value);
    void WriteString(std::string_view Value);     // vaString/vaLString for ASCII, else vaUTF8String
    void WriteWideString(std::string_view Value); // vaWString
    void WriteIdent(std::string_view Ident);      // True/False/nil/Null become their own kinds
    void WriteFloat(double Value);                // vaExtended
    void WriteSingle(float Value);
    void WriteCurrency(std::int64_t TenThousandths);
    void WriteDate(double Value);
    void WriteBinary(std::string_view Data);
    void WriteListBegin();
    void WriteListEnd();
    void WriteSet(const std::vector<std::string>& Idents);

    void DefineProperty(const std::string& Name, const std::function<void(TReader&)>& ReadData,
                        const std::function<void(TWriter&)>& WriteData, bool HasData) override;
    void DefineBinaryProperty(const std::string& Name,
                              const std::function<void(const std::string&)>& ReadData,
                              const std::function<std::string()>& WriteData, bool HasData) override;

    // Writes "TPF0" and Root with its children.
    void WriteRootComponent(TComponent* Root);
    // The bytes written so far.
    const std::string& Data() const;

private:
    friend class kv::toolkit::WriterState;
    std::unique_ptr<kv::toolkit::WriterState> FState;
};

void ReadRootComponent(TComponent* Root, std::string_view Data);
TComponent* ReadComponent(std::string_view Data, TComponent* Owner = nullptr,
                          TComponent* Parent = nullptr);
std::string WriteComponent(TComponent* Root);
std::string WriteComponentText(TComponent* Root);
