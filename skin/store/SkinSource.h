// TSkinSource: one loaded skin — its header, its bitmaps and its top-level skin objects.
//
// The source owns everything in it. Controls never keep the source's own objects; they take
// copies (TSkinObject::CopyObject), so clearing the source during a skin change leaves no
// control with a dangling object once it has dropped its copy on the skin-changing notice.
#pragma once

#include "skin/store/SkinBitmap.h"
#include "skin/store/SkinObject.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct TSkinHeader {
    std::string SkinName = "Untitled Skin";
    std::string SkinVersion = "3.4.7";
    std::string Author = "Kelvora";
    std::string AuthorEmail = "skins@kelvora.invalid";
    std::string AuthorWeb = "kelvora.invalid";
};

class TSkinSource {
public:
    TSkinSource();
    ~TSkinSource();
    TSkinSource(const TSkinSource&) = delete;
    TSkinSource& operator=(const TSkinSource&) = delete;

    TSkinHeader Header;
    std::vector<std::unique_ptr<TSkinBitmap>> Bitmaps;
    std::vector<std::unique_ptr<TSkinObject>> Objects;
    // Set while a new skin replaces the old one.
    bool Changing = false;
    // The hue shift currently applied to the bitmaps and colours.
    int AppliedHue = 0;

    bool Empty() const { return Bitmaps.empty() && Objects.empty(); }
    // Frees all objects and bitmaps and restores the default header.
    void Clear();
    // The bitmap of that name (ignoring case), nullptr when none.
    const TSkinBitmap* FindBitmap(std::string_view Name) const;
    // The first top-level object of that name (ignoring case) in load order; nullptr while
    // the source is changing or empty.
    TSkinObject* FindObject(std::string_view Name) const;
    // In each top-level object, the first object of Kind skClient (depth first, the object
    // itself first) stops being masked.
    void UnmaskClientObjects();
    // Rotates the hue of every bitmap pixel with non-zero alpha and of every object colour by
    // Degrees (see SkinHue.h).
    void ShiftHue(int Degrees);
};
