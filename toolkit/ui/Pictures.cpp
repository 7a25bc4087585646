#include "toolkit/ui/Pictures.h"

#include "toolkit/SysUtils.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/qt_graphics.h"

#include <QFile>

using namespace kv::ui;

// ----- TPicture ------------------------------------------------------------------------------

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::changed() {
    if (OnChange)
        OnChange(this);
}

void TPicture::SetName(const std::string& Value) {
    if (Value.empty()) {
        Clear();
        return;
    }
    auto data = PictureData::load(Value);
    if (!data)
        throw EFilerError("Picture " + Value + " not found");
    FName = Value;
    FData = std::move(data);
    changed();
}

void TPicture::LoadFromFile(const std::string& FileName) {
    QFile file(QString::fromStdString(FileName));
    if (!file.open(QIODevice::ReadOnly))
        throw EFilerError("Cannot open picture file " + FileName);
    auto data = PictureData::fromBytes(file.readAll(), file.fileName());
    if (!data)
        throw EFilerError("Picture file " + FileName + " is not a picture");
    FName = FileName;
    FData = std::move(data);
    changed();
}

void TPicture::Clear() {
    if (!FData && FName.empty())
        return;
    FName.clear();
    FData.reset();
    changed();
}

int TPicture::Width() const {
    return FData ? FData->naturalSize().width() : 0;
}
int TPicture::Height() const {
    return FData ? FData->naturalSize().height() : 0;
}

void TPicture::SetGraphic(std::shared_ptr<const PictureData> Data, const std::string& Name) {
    FData = std::move(Data);
    FName = FData ? Name : std::string();
    changed();
}

void TPicture::Assign(TPersistent* Source) {
    if (auto* other = dynamic_cast<TPicture*>(Source)) {
        SetGraphic(other->FData, other->FName);
        return;
    }
    if (!Source) {
        Clear();
        return;
    }
    TPersistent::Assign(Source);
}

void AddPictureSearchPath(const std::string& Directory) {
    addPictureSearchPath(Directory);
}

// ----- TImageList ----------------------------------------------------------------------------

TImageList::TImageList(TComponent* AOwner)
    : TComponent(AOwner), FNames(std::make_unique<TStringList>()) {
    FNames->OnChange = [this](TObject*) { reload(); };
}

TImageList::~TImageList() {
    FNames->OnChange = nullptr;
}

void TImageList::SetWidth(int Value) {
    FWidth = std::max(1, Value);
}
void TImageList::SetHeight(int Value) {
    FHeight = std::max(1, Value);
}

void TImageList::reload() {
    if (FLoadingNames)
        return;
    std::vector<std::shared_ptr<const PictureData>> items;
    for (int i = 0; i < FNames->Count(); ++i) {
        auto data = PictureData::load(FNames->Get(i));
        if (!data)
            throw EFilerError("Picture " + FNames->Get(i) + " not found");
        items.push_back(std::move(data));
    }
    FItems = std::move(items);
}

int TImageList::Add(const std::string& PictureName) {
    FNames->Add(PictureName);
    return Count() - 1;
}

void TImageList::Clear() {
    FNames->Clear();
}

bool TImageList::GetBitmap(int Index, TPicture* Picture) const {
    if (!Picture || Index < 0 || Index >= Count())
        return false;
    const QPixmap pixmap = FItems[static_cast<size_t>(Index)]->pixmap(QSize(FWidth, FHeight));
    Picture->SetGraphic(PictureData::fromPixmap(pixmap), FNames->Get(Index));
    return true;
}

bool TImageList::GetBitmap(int Index, TImage* Image) const {
    return Image && GetBitmap(Index, Image->Picture());
}
