#include "tests/toolkit/test_classes.h"
#include "toolkit/SysUtils.h"
#include "toolkit/TypInfo.h"

#include <gtest/gtest.h>

using test::TTestControl;
using test::TTestForm;
using test::TTestOther;

namespace {

class TypInfoTest : public ::testing::Test {
protected:
    void SetUp() override { test::registerTestClasses(); }
};

TEST_F(TypInfoTest, RegistryFindsClassesIgnoringCase) {
    EXPECT_NE(GetClass("ttestcontrol"), nullptr);
    EXPECT_EQ(GetClass("TNoSuchThing"), nullptr);
    try {
        FindClass("TNoSuchThing");
        FAIL();
    } catch (const EClassNotFound& e) {
        EXPECT_EQ(e.Message(), "Class TNoSuchThing not found");
    }
    TPersistentClass c = FindClass("TTestControl");
    EXPECT_TRUE(c->InheritsFrom("TComponent"));
    EXPECT_TRUE(c->InheritsFrom(FindClass("TPersistent")));
    EXPECT_FALSE(FindClass("TFont")->InheritsFrom("TComponent"));
    EXPECT_FALSE(FindClass("TStrings")->CanCreate());
    std::unique_ptr<TComponent> made(c->CreateComponent(nullptr));
    EXPECT_EQ(made->ClassName(), "TTestControl");
}

TEST_F(TypInfoTest, PropertiesInStreamOrderInheritedFirst) {
    TTestControl c(nullptr);
    const std::vector<PPropInfo> props = GetPropList(&c);
    ASSERT_GE(props.size(), 3u);
    EXPECT_EQ(props[0]->Name, "Name");
    EXPECT_EQ(props[1]->Name, "Tag");
    EXPECT_EQ(props[2]->Name, "Left");
    EXPECT_EQ(props.back()->Name, "OnClick");
    EXPECT_TRUE(IsPublishedProp(&c, "caption"));
    EXPECT_FALSE(IsPublishedProp(&c, "Blob")); // defined, not published
}

TEST_F(TypInfoTest, TypedAccessByName) {
    TTestControl c(nullptr);
    SetStrProp(&c, "Caption", "Bağlan");
    EXPECT_EQ(c.Caption, "Bağlan");
    EXPECT_EQ(GetStrProp(&c, "CAPTION"), "Bağlan");
    SetOrdProp(&c, "Left", -5);
    EXPECT_EQ(GetOrdProp(&c, "Left"), -5);
    SetEnumProp(&c, "Align", "alClient");
    EXPECT_EQ(c.Align, alClient);
    EXPECT_EQ(GetEnumProp(&c, "Visible"), "True");
    SetSetProp(&c, "Anchors", "[akRight, akBottom]");
    EXPECT_EQ(GetSetProp(&c, "Anchors"), "akRight,akBottom");
    EXPECT_EQ(GetSetProp(&c, "Anchors", true), "[akRight,akBottom]");
    SetFloatProp(&c, "Ratio", 2.5);
    EXPECT_EQ(c.Ratio, 2.5);
    SetInt64Prop(&c, "Big", 1LL << 40);
    EXPECT_EQ(c.Big, 1LL << 40);
    EXPECT_EQ(GetObjectProp(&c, "Font"), &c.Font);
    EXPECT_EQ(GetStrProp(&c.Font, "Name"), "MS Sans Serif");
}

TEST_F(TypInfoTest, ValuesAsText) {
    TTestForm form(nullptr);
    auto* a = new TTestControl(&form);
    a->SetName("A");
    auto* b = new TTestControl(&form);
    b->SetName("B");
    SetPropValue(a, "Color", "clWindowText");
    EXPECT_EQ(a->Color, clWindowText);
    EXPECT_EQ(GetPropValue(a, "Color"), "clWindowText");
    SetPropValue(a, "Color", "$00178704");
    EXPECT_EQ(GetPropValue(a, "Color"), "1541892");
    SetPropValue(a, "Link", "b");
    EXPECT_EQ(a->Link, b);
    EXPECT_EQ(GetPropValue(a, "Link"), "B");
    SetPropValue(a, "Visible", "false");
    EXPECT_FALSE(a->Visible);
    SetPropValue(a, "Anchors", "[akTop]");
    EXPECT_EQ(GetPropValue(a, "Anchors"), "[akTop]");
    SetPropValue(&a->Font, "Charset", "TURKISH_CHARSET");
    EXPECT_EQ(GetPropValue(&a->Font, "Charset"), "TURKISH_CHARSET");
    SetPropValue(a, "Ratio", "0.25");
    EXPECT_EQ(GetPropValue(a, "Ratio"), "0.25");
    delete b;
    EXPECT_EQ(a->Link, nullptr); // free notification through the shared owner
}

TEST_F(TypInfoTest, EventsByHandler) {
    TTestForm form(nullptr);
    auto* button = new TTestControl(&form);
    SetMethodProp(button, "OnClick", form.MethodAddress("buttonclick"), "ButtonClick");
    ASSERT_TRUE(button->OnClick);
    button->OnClick(button);
    ASSERT_EQ(form.Clicks.size(), 1u);
    EXPECT_EQ(GetMethodName(button, "OnClick"), "ButtonClick");
    EXPECT_THROW(SetMethodProp(button, "OnClick", form.MethodAddress("WrongType"), "WrongType"),
                 EPropertyConvertError);
    SetMethodProp(button, "OnClick", std::any());
    EXPECT_FALSE(button->OnClick);
    EXPECT_EQ(GetMethodName(button, "OnClick"), "");
}

TEST_F(TypInfoTest, MisuseIsReported) {
    TTestControl c(nullptr);
    EXPECT_THROW(GetStrProp(&c, "NoSuchProperty"), EPropertyError);
    EXPECT_THROW(GetStrProp(&c, "Left"), EPropertyConvertError);
    EXPECT_THROW(SetEnumProp(&c, "Align", "alSideways"), EPropertyConvertError);
    EXPECT_THROW(SetSetProp(&c, "Anchors", "[akNowhere]"), EConvertError);
    TTestOther other(nullptr);
    EXPECT_THROW(SetObjectProp(&c, "Link", &other), EPropertyConvertError);
    try {
        GetOrdProp(&c, "Missing");
    } catch (const EPropertyError& e) {
        EXPECT_EQ(e.Message(), "Property Missing does not exist in class TTestControl");
    }
}

} // namespace

namespace {

TEST_F(TypInfoTest, DottedNamesReachNestedObjects) {
    TTestControl c(nullptr);
    SetPropValue(&c, "Font.Name", "Tahoma");
    SetPropValue(&c, "Font.Style", "[fsBold]");
    SetOrdProp(&c, "font.height", -16);
    EXPECT_EQ(c.Font.Name(), "Tahoma");
    EXPECT_EQ(c.Font.Size(), 12);
    EXPECT_EQ(GetPropValue(&c, "Font.Style"), "[fsBold]");
    EXPECT_EQ(GetStrProp(&c, "Font.Name"), "Tahoma");
    EXPECT_THROW(GetStrProp(&c, "Font.Nope"), EPropertyError);
    EXPECT_THROW(GetStrProp(&c, "Left.Nope"), EPropertyError);
}

} // namespace
