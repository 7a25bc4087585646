// TSkinEngine: the non-visual component that holds one skin and tells the skinned controls when
// it changes.
//
// The skin comes from the engine's own stored skin (the binary property "SkinStream" of its
// layout, read without notices), from a skin file (SkinFile; the extension picks the filter, the
// program's folder is searched when the name does not exist) or from an entry of a skin list.
// Changing the skin runs: changing flag on, OnBeforeChange, skin-changing notice (1703) to every
// skinned control, source cleared; new skin read; flag off; DeltaHue applied; skin-changed notice
// (1702), OnAfterChange. Controls hold copies of the skin's objects and drop them on the
// changing notice, so clearing the source never leaves a control with a dangling object.
#pragma once

#include "skin/store/SkinSource.h"
#include "toolkit/Component.h"

#include <memory>
#include <string>
#include <vector>

class TSkinEngine;
class TControl;

// Message numbers of the skin notices.
constexpr int CM_SKINCHANGED = 1702;
constexpr int CM_SKINCHANGING = 1703;

// A control that follows a skin engine. Clients register themselves while they exist; the
// engine's notices reach every registered client, form by form.
class TSkinClient {
public:
    virtual void SkinNotify(int Msg, TSkinEngine* Engine) = 0;
    // The control, for grouping the notices by form.
    virtual TControl* SkinClientControl() = 0;

protected:
    TSkinClient();
    ~TSkinClient();
    TSkinClient(const TSkinClient&) = delete;
    TSkinClient& operator=(const TSkinClient&) = delete;
};

// A list of stored skins to choose from by index (each entry a stored-skin stream).
class TSkinList : public TComponent {
public:
    explicit TSkinList(TComponent* AOwner);
    std::string ClassName() const override { return "TSkinList"; }
    int Count() const { return static_cast<int>(FSkins.size()); }
    void Add(std::string Stream) { FSkins.push_back(std::move(Stream)); }
    const std::string& Skin(int Index) const { return FSkins.at(static_cast<size_t>(Index)); }
    void Clear() { FSkins.clear(); }

private:
    std::vector<std::string> FSkins;
};

class TSkinEngine : public TComponent {
public:
    explicit TSkinEngine(TComponent* AOwner);
    ~TSkinEngine() override;
    std::string ClassName() const override { return "TSkinEngine"; }

    int DeltaHue() const { return FDeltaHue; }
    void SetDeltaHue(int Value);
    const std::string& SkinFile() const { return FSkinFile; }
    // Loads the file as a skin change; a file that cannot be found or read loads nothing.
    void SetSkinFile(const std::string& Value);
    TSkinList* SkinList() const { return FSkinList; }
    void SetSkinList(TSkinList* Value);
    int SkinIndex() const { return FSkinIndex; }
    void SetSkinIndex(int Value);
    // "(none)" at run time, the skin's name while designing; writing does nothing.
    std::string SkinStore() const;
    void SetSkinStore(const std::string&) {}
    bool SkinStoreCompression() const { return FSkinStoreCompression; }
    void SetSkinStoreCompression(bool Value) { FSkinStoreCompression = Value; }
    std::string Version() const { return "3.4.7"; }
    void SetVersion(const std::string&) {}

    TNotifyEvent OnBeforeChange;
    TNotifyEvent OnAfterChange;

    TSkinSource& Source() { return FSource; }
    const TSkinSource& Source() const { return FSource; }
    bool HasSkin() const { return !FSource.Empty(); }
    bool Changing() const { return FSource.Changing; }
    // The last reason a skin could not be loaded (empty after a successful load).
    const std::string& LastError() const { return FLastError; }

    // Loads a skin file as a skin change; false (and the old skin kept) when no filter matches,
    // the file does not exist or cannot be read.
    bool LoadFromFile(const std::string& FileName);
    // Saves the skin with the filter of FileName's extension (the compressed one when none
    // matches); false when the file cannot be written.
    bool SaveToFile(const std::string& FileName) const;
    // Replaces the skin with a stored-skin stream as a skin change.
    bool LoadFromStream(const std::string& Stream);

    void DefineProperties(TFiler* Filer) override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
    void Loaded() override;

private:
    // The change procedure around Read, which fills the cleared source.
    bool changeSkin(const std::function<bool(TSkinSource&)>& Read);
    void broadcast(int Msg);
    void readStoredSkin(const std::string& Data);
    void loadListEntry();

    TSkinSource FSource;
    int FDeltaHue = 0;
    std::string FSkinFile;
    TSkinList* FSkinList = nullptr;
    int FSkinIndex = -1;
    bool FSkinStoreCompression = false;
    std::string FLastError;
};

// Resolves a skin file name: the name itself when it exists, else the name in the program's own
// folder (unless it is an absolute path with a drive letter); empty when neither exists.
std::string ResolveSkinFileName(const std::string& FileName);
