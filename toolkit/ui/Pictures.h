// Pictures and image lists.
//
// A layout names a picture; it does not embed pixels:
//
//   object Image1: TImage            object ImageList1: TImageList
//     Picture.Name = 'logo.svg'        Width = 70
//   end                                Height = 70
//                                      Pictures.Strings = ('server_none.svg' 'server_stopped.svg')
//                                    end
//
// A name is looked up as the Qt resource ":/pictures/NAME", then in the directories given to
// AddPictureSearchPath(), then as a file path. SVG pictures stay vector graphics and are
// rasterised at exactly the pixel size they are drawn at (a TImage's size when stretched, an
// image list's Width x Height, a button's glyph at its declared size); their natural size is the
// SVG's width/height. Raster pictures (PNG, BMP, ...) keep their pixels. A name that cannot be
// found raises EFilerError "Picture NAME not found" (while a layout is read this fails the read
// with the layout position).
#pragma once

#include "toolkit/Component.h"
#include "toolkit/Strings.h"

#include <memory>
#include <string>
#include <vector>

namespace kv::ui {
class PictureData;
}
class TImage;

class TPicture : public TPersistent {
public:
    TPicture();
    ~TPicture() override;
    std::string ClassName() const override { return "TPicture"; }

    // The picture's name as a layout gives it (empty for none).
    const std::string& Name() const { return FName; }
    void SetName(const std::string& Value);
    void LoadFromFile(const std::string& FileName);
    void Clear();

    bool Empty() const { return FData == nullptr; }
    int Width() const;
    int Height() const;
    std::shared_ptr<const kv::ui::PictureData> Graphic() const { return FData; }
    void SetGraphic(std::shared_ptr<const kv::ui::PictureData> Data, const std::string& Name);

    void Assign(TPersistent* Source) override;
    TNotifyEvent OnChange;

private:
    void changed();
    std::string FName;
    std::shared_ptr<const kv::ui::PictureData> FData;
};

// Registers a directory searched for picture names (after the ":/pictures/" resources).
void AddPictureSearchPath(const std::string& Directory);

// A list of same-sized pictures (non-visual). Pictures holds their names in order.
class TImageList : public TComponent {
public:
    explicit TImageList(TComponent* AOwner);
    ~TImageList() override;
    std::string ClassName() const override { return "TImageList"; }

    int Width() const { return FWidth; }
    void SetWidth(int Value);
    int Height() const { return FHeight; }
    void SetHeight(int Value);
    TStrings* Pictures() const { return FNames.get(); }
    int Count() const { return static_cast<int>(FItems.size()); }
    // Adds a picture by name; returns its index.
    int Add(const std::string& PictureName);
    void Clear();

    // Copies picture Index, as Width x Height pixels, into Picture (or Image's picture).
    // False (and no change) for an index out of range.
    bool GetBitmap(int Index, TPicture* Picture) const;
    bool GetBitmap(int Index, TImage* Image) const;

private:
    void reload();
    int FWidth = 16;
    int FHeight = 16;
    std::unique_ptr<TStringList> FNames;
    std::vector<std::shared_ptr<const kv::ui::PictureData>> FItems;
    bool FLoadingNames = false;
};
