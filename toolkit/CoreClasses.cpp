// Registration of the toolkit's own streamable classes.
#include "toolkit/ClassBuilder.h"
#include "toolkit/Collection.h"
#include "toolkit/Component.h"
#include "toolkit/Graphics.h"
#include "toolkit/Strings.h"

namespace kv::toolkit {

void registerCoreClasses() {
    ClassBuilder<TPersistent>("TPersistent", "");
    ClassBuilder<TComponent>("TComponent", "TPersistent")
        .String("Name", &TComponent::Name, &TComponent::SetName)
        .NotStored()
        .Integer("Tag", &TComponent::Tag, &TComponent::SetTag)
        .Default(0);
    ClassBuilder<TStrings>("TStrings", "TPersistent");
    ClassBuilder<TStringList>("TStringList", "TStrings");
    ClassBuilder<TCollection>("TCollection", "TPersistent").Abstract();
    ClassBuilder<TCollectionItem>("TCollectionItem", "TPersistent").Abstract();
    ClassBuilder<TFont>("TFont", "TPersistent")
        .Integer("Charset", &TFont::Charset, &TFont::SetCharset)
        .Idents(CharsetIdents())
        .Color("Color", &TFont::Color, &TFont::SetColor)
        .Integer("Height", &TFont::Height, &TFont::SetHeight)
        .String("Name", &TFont::Name, &TFont::SetName)
        .Enum("Pitch", &FontPitchInfo, &TFont::Pitch, &TFont::SetPitch)
        .Default(fpDefault)
        .Integer("Size", &TFont::Size, &TFont::SetSize)
        .NotStored()
        .Set("Style", &FontStyleInfo, &TFont::Style, &TFont::SetStyle);
}

} // namespace kv::toolkit
