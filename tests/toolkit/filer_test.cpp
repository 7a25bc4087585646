#include "tests/toolkit/test_classes.h"
#include "toolkit/Filer.h"
#include "toolkit/ObjectText.h"
#include "toolkit/SysUtils.h"
#include "toolkit/TypInfo.h"

#include <gtest/gtest.h>
#include <memory>

using test::TTestControl;
using test::TTestForm;
using test::TTestItem;

namespace {

const char* const kLayout = R"(object Form1: TTestForm
  Caption = 'Data '#304'şlemleri'
  object Panel1: TTestControl
    Left = 10
    Align = alTop
    Color = clWhite
    Font.Charset = TURKISH_CHARSET
    Font.Color = clGreen
    Font.Height = -16
    Font.Name = 'Tahoma'
    Font.Style = [fsBold]
    object Button1: TTestControl
      Caption = 'Kapat'
      Link = Memo1
      OnClick = ButtonClick
    end
  end
  object Memo1: TTestControl
    Anchors = [akLeft, akTop, akRight]
    Big = 5000000000
    Ratio = 0.5
    Lines.Strings = (
      'Memo1'
      'line two')
    Items = <
      item
        Caption = 'first'
      end
      item
        Caption = 'second'
        Width = 7
      end>
    Blob = {
      00FF10}
  end
end
)";

class FilerTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::registerTestClasses();
        test::loadedLog().clear();
    }
    template <class T = TTestControl>
    T* child(TComponent& root, const char* name) {
        return dynamic_cast<T*>(root.FindComponent(name));
    }
};

TEST_F(FilerTest, ReadsALayoutIntoItsRoot) {
    TTestForm form(nullptr);
    ReadRootComponent(&form, kLayout);
    EXPECT_EQ(form.Name(), "Form1");
    EXPECT_EQ(form.Caption, "Data İşlemleri");
    ASSERT_EQ(form.ComponentCount(), 3);
    TTestControl* panel = child(form, "Panel1");
    TTestControl* button = child(form, "Button1");
    TTestControl* memo = child(form, "Memo1");
    ASSERT_TRUE(panel && button && memo);
    // Owned by the root, parented by the nesting.
    EXPECT_EQ(button->Owner(), &form);
    EXPECT_EQ(panel->Parent, &form);
    EXPECT_EQ(button->Parent, panel);
    EXPECT_EQ(panel->Left, 10);
    EXPECT_EQ(panel->Align, alTop);
    EXPECT_EQ(panel->Color, clWhite);
    EXPECT_EQ(panel->Font.Charset(), TURKISH_CHARSET);
    EXPECT_EQ(panel->Font.Color(), clGreen);
    EXPECT_EQ(panel->Font.Size(), 12);
    EXPECT_EQ(panel->Font.Name(), "Tahoma");
    EXPECT_TRUE(panel->Font.Style().Contains(fsBold));
    // A reference to a component that comes later in the stream.
    EXPECT_EQ(button->Link, memo);
    ASSERT_TRUE(button->OnClick);
    button->OnClick(button);
    ASSERT_EQ(form.Clicks.size(), 1u);
    EXPECT_EQ(form.Clicks[0], button);
    EXPECT_EQ(memo->Anchors, (TAnchors{akLeft, akTop, akRight}));
    EXPECT_EQ(memo->Big, 5000000000LL);
    EXPECT_EQ(memo->Ratio, 0.5);
    EXPECT_EQ(memo->Lines.Text(), "Memo1\r\nline two\r\n");
    ASSERT_EQ(memo->Items.Count(), 2);
    auto* second = static_cast<TTestItem*>(memo->Items.Items(1));
    EXPECT_EQ(second->Caption, "second");
    EXPECT_EQ(second->Width, 7);
    EXPECT_EQ(static_cast<TTestItem*>(memo->Items.Items(0))->Width, 50);
    EXPECT_EQ(memo->Blob, std::string("\x00\xFF\x10", 3));
}

TEST_F(FilerTest, LoadingStateAndLoadedOrder) {
    TTestForm form(nullptr);
    ReadRootComponent(&form, kLayout);
    // Root first, then in creation order, each still loading when told.
    const std::vector<std::string> expected = {"Form1!", "Panel1!", "Button1!", "Memo1!"};
    EXPECT_EQ(test::loadedLog(), expected);
    EXPECT_TRUE(child(form, "Button1")->SawLoadingWhileReading);
    for (int i = 0; i < form.ComponentCount(); ++i) {
        EXPECT_FALSE(form.Components(i)->ComponentState().Contains(csLoading));
        EXPECT_FALSE(form.Components(i)->ComponentState().Contains(csReading));
    }
    EXPECT_FALSE(form.ComponentState().Contains(csLoading));
    // Set from code, the property does not see the loading state.
    TTestControl fresh(nullptr);
    fresh.SetCaption("x");
    EXPECT_FALSE(fresh.SawLoadingWhileReading);
}

TEST_F(FilerTest, BinaryAndTextFormsReadAlike) {
    TTestForm fromText(nullptr);
    ReadRootComponent(&fromText, kLayout);
    TTestForm fromBinary(nullptr);
    ReadRootComponent(&fromBinary, ObjectTextToBinary(kLayout));
    EXPECT_EQ(WriteComponentText(&fromText), WriteComponentText(&fromBinary));
}

TEST_F(FilerTest, WriterLeavesDefaultsOutAndReadsBack) {
    TTestForm form(nullptr);
    ReadRootComponent(&form, kLayout);
    const std::string text = WriteComponentText(&form);
    // Defaults are not written; what differs from them is.
    EXPECT_EQ(text.find("Visible"), std::string::npos);
    EXPECT_EQ(text.find("Width = 50"), std::string::npos);
    EXPECT_NE(text.find("Width = 7"), std::string::npos);
    EXPECT_NE(text.find("  Caption = 'Data İşlemleri'\n"), std::string::npos);
    EXPECT_NE(text.find("Color = clWhite"), std::string::npos);
    EXPECT_NE(text.find("OnClick = ButtonClick"), std::string::npos);
    EXPECT_NE(text.find("Link = Memo1"), std::string::npos);
    EXPECT_NE(text.find("Lines.Strings = (\n      'Memo1'\n      'line two')"), std::string::npos);
    EXPECT_NE(text.find("    object Button1: TTestControl\n"), std::string::npos);
    TTestForm again(nullptr);
    ReadRootComponent(&again, text);
    EXPECT_EQ(WriteComponentText(&again), text);
}

TEST_F(FilerTest, ReadComponentCreatesTheRootObject) {
    TTestForm owner(nullptr);
    TComponent* made = ReadComponent("object Box: TTestControl\n"
                                     "  object Inner: TTestControl\n"
                                     "  end\n"
                                     "end\n",
                                     &owner, &owner);
    auto* box = dynamic_cast<TTestControl*>(made);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->Owner(), &owner);
    EXPECT_EQ(box->Parent, &owner);
    ASSERT_EQ(box->ComponentCount(), 1);
    EXPECT_EQ(box->Components(0)->Name(), "Inner");
    EXPECT_EQ(static_cast<TTestControl*>(box->Components(0))->Parent, box);
}

TEST_F(FilerTest, UnknownClassLeavesNothingBehind) {
    TTestForm form(nullptr);
    try {
        ReadRootComponent(&form, "object Form1: TTestForm\n"
                                 "  object A: TTestControl\n"
                                 "  end\n"
                                 "  object B: TNoSuchControl\n"
                                 "  end\n"
                                 "end\n");
        FAIL();
    } catch (const EClassNotFound& e) {
        EXPECT_EQ(e.Message(), "Class TNoSuchControl not found");
    }
    EXPECT_EQ(form.ComponentCount(), 0);
    EXPECT_FALSE(form.ComponentState().Contains(csLoading));
    EXPECT_TRUE(test::loadedLog().empty());
    EXPECT_THROW(ReadComponent("object X: TNoSuchControl\nend\n"), EClassNotFound);
}

struct BadLayout {
    const char* body;
    const char* what;
};

TEST_F(FilerTest, BadPropertiesNameWhatAndWhere) {
    const BadLayout cases[] = {
        {"    Foo = 1\n", "Property Foo does not exist in class TTestControl (B.Foo)"},
        {"    Font.Foo = 1\n", "Property Foo does not exist in class TFont (B.Font.Foo)"},
        {"    Nope.Name = 1\n", "Property Nope does not exist in class TTestControl"},
        {"    Align = alSideways\n", "unknown identifier alSideways"},
        {"    Left = 'ten'\n", "integer expected"},
        {"    Visible = 1\n", "True or False expected"},
        {"    Anchors = [akUp]\n", "unknown set element akUp"},
        {"    Link = Nobody\n", "Component Nobody not found (B.Link)"},
        {"    Link = Other\n", "Other is a TTestOther"},
        {"    OnClick = Missing\n", "Method Missing not found in TTestForm"},
        {"    OnClick = WrongType\n", "does not fit event OnClick"},
        {"    Left = 5000000000\n", "integer out of range"},
        {"    Lines.Strings = 5\n", "List expected"},
    };
    for (const BadLayout& c : cases) {
        SCOPED_TRACE(c.body);
        TTestForm form(nullptr);
        const std::string text = std::string("object Form1: TTestForm\n"
                                             "  object Other: TTestOther\n"
                                             "  end\n"
                                             "  object B: TTestControl\n") +
                                 c.body + "  end\nend\n";
        try {
            ReadRootComponent(&form, text);
            ADD_FAILURE() << "accepted";
        } catch (const EReadError& e) {
            EXPECT_NE(e.Message().find(c.what), std::string::npos) << e.Message();
            EXPECT_EQ(e.Line(), 5) << e.Message();
            EXPECT_NE(e.Message().find("on line 5"), std::string::npos) << e.Message();
        }
        EXPECT_EQ(form.ComponentCount(), 0);
    }
}

TEST_F(FilerTest, TruncatedAndCorruptStreamsFailCleanly) {
    const std::string good = ObjectTextToBinary(kLayout);
    for (size_t n = 0; n < good.size(); ++n) {
        TTestForm form(nullptr);
        EXPECT_THROW(ReadRootComponent(&form, good.substr(0, n)), Exception) << n;
        EXPECT_EQ(form.ComponentCount(), 0) << n;
    }
    // Flip every byte in turn: whatever happens must be an exception or a valid read.
    for (size_t i = 4; i < good.size(); ++i) {
        std::string bad = good;
        bad[i] = static_cast<char>(bad[i] ^ 0x5A);
        TTestForm form(nullptr);
        try {
            ReadRootComponent(&form, bad);
        } catch (const Exception&) {
            EXPECT_EQ(form.ComponentCount(), 0) << i;
        }
    }
}

TEST_F(FilerTest, DestroyingAReferencedComponentClearsTheLink) {
    TTestForm form(nullptr);
    ReadRootComponent(&form, kLayout);
    TTestControl* button = child(form, "Button1");
    delete child(form, "Memo1");
    EXPECT_EQ(button->Link, nullptr);
    EXPECT_EQ(form.ComponentCount(), 2);
}

} // namespace

namespace {

TEST_F(FilerTest, RootNameIsMadeUniqueInItsOwner) {
    TComponent application(nullptr);
    auto* first = new TTestForm(&application);
    ReadRootComponent(first, "object Form1: TTestForm\nend\n");
    auto* second = new TTestForm(&application);
    ReadRootComponent(second, "object Form1: TTestForm\nend\n");
    EXPECT_EQ(first->Name(), "Form1");
    EXPECT_EQ(second->Name(), "Form1_1");
}

TEST_F(FilerTest, DefinedPropertiesReadTheirOwnValues) {
    // A defined property that reads a value of the wrong kind fails with the position.
    TTestForm form(nullptr);
    try {
        ReadRootComponent(&form, "object Form1: TTestForm\n"
                                 "  object B: TTestControl\n"
                                 "    Blob = 'not binary'\n"
                                 "  end\n"
                                 "end\n");
        FAIL();
    } catch (const EReadError& e) {
        EXPECT_NE(e.Message().find("Binary data expected on line 3"), std::string::npos)
            << e.Message();
    }
}

} // namespace
