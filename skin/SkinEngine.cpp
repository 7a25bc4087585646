#include "skin/SkinEngine.h"

#include "skin/SkinRegistration.h"
#include "skin/store/SkinBody.h"
#include "skin/store/SkinFilters.h"
#include "toolkit/ClassBuilder.h"
#include "toolkit/Filer.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/Controls.h"
#include "toolkit/ui/Forms.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::vector<TSkinClient*>& clients() {
    static std::vector<TSkinClient*> list;
    return list;
}

// Skin files larger than this are refused before reading: no skin of ours comes near it.
constexpr std::uintmax_t kMaxSkinFileSize = 64u << 20;

const bool registered = [] {
    using kv::toolkit::ClassBuilder;
    ClassBuilder<TSkinList>("TSkinList", "TComponent");
    ClassBuilder<TSkinEngine>("TSkinEngine", "TComponent")
        .Integer("DeltaHue", &TSkinEngine::DeltaHue, &TSkinEngine::SetDeltaHue)
        .Default(0)
        .String("SkinFile", &TSkinEngine::SkinFile, &TSkinEngine::SetSkinFile)
        .Component("SkinList", &TSkinEngine::SkinList, &TSkinEngine::SetSkinList)
        .Integer("SkinIndex", &TSkinEngine::SkinIndex, &TSkinEngine::SetSkinIndex)
        .Default(-1)
        .String("SkinStore", &TSkinEngine::SkinStore, &TSkinEngine::SetSkinStore)
        .NotStored()
        .Bool("SkinStoreCompression", &TSkinEngine::SkinStoreCompression,
              &TSkinEngine::SetSkinStoreCompression)
        .Default(false)
        .String("Version", &TSkinEngine::Version, &TSkinEngine::SetVersion)
        .NotStored()
        .Event("OnBeforeChange", &TSkinEngine::OnBeforeChange)
        .Event("OnAfterChange", &TSkinEngine::OnAfterChange);
    return true;
}();

bool hasDriveLetter(const std::string& Name) {
    return Name.size() >= 3 && std::isalpha(static_cast<unsigned char>(Name[0])) &&
           Name[1] == ':' && (Name[2] == '\\' || Name[2] == '/');
}

} // namespace

TSkinClient::TSkinClient() {
    clients().push_back(this);
}

TSkinClient::~TSkinClient() {
    auto& list = clients();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

TSkinList::TSkinList(TComponent* AOwner) : TComponent(AOwner) {}

std::string ResolveSkinFileName(const std::string& FileName) {
    std::error_code ec;
    if (FileName.empty())
        return {};
    if (std::filesystem::is_regular_file(FileName, ec))
        return FileName;
    if (hasDriveLetter(FileName))
        return {};
    const std::filesystem::path exe(Application->ExeName());
    const std::filesystem::path candidate = exe.parent_path() / FileName;
    if (!exe.empty() && std::filesystem::is_regular_file(candidate, ec))
        return candidate.string();
    return {};
}

TSkinEngine::TSkinEngine(TComponent* AOwner) : TComponent(AOwner) {
    (void)registered;
    kv::skin::RegisterSkinClasses();
}

TSkinEngine::~TSkinEngine() = default;

std::string TSkinEngine::SkinStore() const {
    if (ComponentState().Contains(csDesigning))
        return HasSkin() ? FSource.Header.SkinName : std::string();
    return "(none)";
}

void TSkinEngine::broadcast(int Msg) {
    // Form by form: the controls of one form, then the application's pending messages.
    std::vector<TForm*> forms;
    for (TSkinClient* c : std::vector<TSkinClient*>(clients())) {
        TControl* control = c->SkinClientControl();
        TForm* form = control != nullptr ? control->GetParentForm() : nullptr;
        if (std::find(forms.begin(), forms.end(), form) == forms.end())
            forms.push_back(form);
    }
    for (TForm* form : forms) {
        for (TSkinClient* c : std::vector<TSkinClient*>(clients())) {
            if (std::find(clients().begin(), clients().end(), c) == clients().end())
                continue; // destroyed by an earlier notice
            TControl* control = c->SkinClientControl();
            if ((control != nullptr ? control->GetParentForm() : nullptr) == form)
                c->SkinNotify(Msg, this);
        }
        if (Application->Initialized())
            Application->ProcessMessages();
    }
}

bool TSkinEngine::changeSkin(const std::function<bool(TSkinSource&)>& Read) {
    TSkinSource fresh;
    if (!Read(fresh))
        return false;
    if (HasSkin()) {
        FSource.Changing = true;
        if (OnBeforeChange)
            OnBeforeChange(this);
        broadcast(CM_SKINCHANGING);
        FSource.Clear();
    }
    FSource.Changing = true;
    FSource.Header = fresh.Header;
    FSource.Bitmaps = std::move(fresh.Bitmaps);
    FSource.Objects = std::move(fresh.Objects);
    FSource.Changing = false;
    FSource.AppliedHue = 0;
    if (FDeltaHue != 0) {
        FSource.ShiftHue(FDeltaHue);
        FSource.AppliedHue = FDeltaHue;
    }
    broadcast(CM_SKINCHANGED);
    if (OnAfterChange)
        OnAfterChange(this);
    return true;
}

bool TSkinEngine::LoadFromFile(const std::string& FileName) {
    const kv::skin::SkinFilter* filter = kv::skin::FindSkinFilter(FileName);
    const std::string path = ResolveSkinFileName(FileName);
    if (filter == nullptr || path.empty()) {
        FLastError = filter == nullptr ? "No skin filter for " + FileName
                                       : "Skin file " + FileName + " not found";
        return false;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxSkinFileSize) {
        FLastError = "Skin file " + path + " cannot be read";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    const std::string bytes = data.str();
    return changeSkin([&](TSkinSource& Into) {
        const kv::skin::SkinStatus st = kv::skin::ReadSkinFile(*filter, bytes, Into);
        FLastError = st.Error;
        return st.Ok();
    });
}

bool TSkinEngine::LoadFromStream(const std::string& Stream) {
    return changeSkin([&](TSkinSource& Into) {
        const kv::skin::SkinStatus st = kv::skin::ReadSkinStream(Stream, Into);
        FLastError = st.Error;
        return st.Ok() && !Into.Empty();
    });
}

bool TSkinEngine::SaveToFile(const std::string& FileName) const {
    const kv::skin::SkinFilter* filter = kv::skin::FindSkinFilter(FileName);
    const std::string bytes =
        kv::skin::EncodeSkinFile(filter ? *filter : kv::skin::CompressedSkinFilter(), FSource);
    std::ofstream out(FileName, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

void TSkinEngine::SetSkinFile(const std::string& Value) {
    FSkinFile = Value;
    if (!Value.empty() && !ComponentState().Contains(csLoading))
        LoadFromFile(Value);
}

void TSkinEngine::SetSkinList(TSkinList* Value) {
    if (FSkinList == Value)
        return;
    if (FSkinList != nullptr)
        FSkinList->RemoveFreeNotification(this);
    FSkinList = Value;
    if (FSkinList != nullptr) {
        FSkinList->FreeNotification(this);
        loadListEntry();
    }
}

void TSkinEngine::SetSkinIndex(int Value) {
    if (FSkinIndex == Value)
        return;
    FSkinIndex = Value;
    loadListEntry();
}

void TSkinEngine::loadListEntry() {
    if (ComponentState().Contains(csLoading) || FSkinList == nullptr || FSkinIndex < 0 ||
        FSkinList->Count() == 0)
        return;
    FSkinIndex = std::min(FSkinIndex, FSkinList->Count() - 1);
    LoadFromStream(FSkinList->Skin(FSkinIndex));
}

void TSkinEngine::SetDeltaHue(int Value) {
    if (Value == FDeltaHue)
        return;
    FDeltaHue = Value;
    if (!HasSkin() || Changing() || ComponentState().Contains(csLoading))
        return;
    broadcast(CM_SKINCHANGING);
    FSource.ShiftHue(Value - FSource.AppliedHue);
    FSource.AppliedHue = Value;
    broadcast(CM_SKINCHANGED);
}

void TSkinEngine::readStoredSkin(const std::string& Data) {
    const kv::skin::SkinStatus st = kv::skin::ReadSkinStream(Data, FSource);
    FLastError = st.Error;
    FSkinFile.clear();
}

void TSkinEngine::DefineProperties(TFiler* Filer) {
    TComponent::DefineProperties(Filer);
    Filer->DefineBinaryProperty(
        "SkinStream", [this](const std::string& Data) { readStoredSkin(Data); },
        [this] { return kv::skin::WriteSkinStream(&FSource); }, FSkinIndex == -1);
}

void TSkinEngine::Loaded() {
    TComponent::Loaded();
    if (FSkinList != nullptr && FSkinIndex >= 0) {
        loadListEntry();
        return;
    }
    // The stored skin is read without a hue shift; a layout that also sets DeltaHue would
    // otherwise show the skin unshifted while DeltaHue claims otherwise.
    if (HasSkin() && FDeltaHue != FSource.AppliedHue) {
        broadcast(CM_SKINCHANGING);
        FSource.ShiftHue(FDeltaHue - FSource.AppliedHue);
        FSource.AppliedHue = FDeltaHue;
        broadcast(CM_SKINCHANGED);
    }
    if (HasSkin() && OnAfterChange)
        OnAfterChange(this);
}

void TSkinEngine::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FSkinList)
        FSkinList = nullptr;
}

bool kv::skin::detail::skinEngineClassesRegistered() {
    return registered;
}
