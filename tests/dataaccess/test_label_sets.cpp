// The connect dialog's texts: the nine label sets from the string table, the switch to lsCustom
// when a text is set by hand, and the stream order that keeps stored custom texts.
#include "dataaccess/DAStringTable.h"
#include "dataaccess/MSConnectDialog.h"
#include "toolkit/Filer.h"

#include <gtest/gtest.h>
#include <memory>

using namespace kv::dataaccess;

namespace {

struct SetCase {
    const char* Name;
    TLabelSet Set;
    int Base;
    const char* Caption;
    const char* Server;
    const char* Cancel;
};

class LabelSets : public testing::TestWithParam<SetCase> {};

// Each built-in set loads its six texts from its block; Russian sits at 0, not 800.
TEST_P(LabelSets, LoadTheirBlock) {
    const SetCase& c = GetParam();
    EXPECT_EQ(LabelSetBase(c.Set), c.Base);
    TMSConnectDialog dialog(nullptr);
    dialog.SetCaption("custom");
    dialog.SetLabelSet(c.Set);
    EXPECT_EQ(dialog.LabelSet(), c.Set);
    EXPECT_EQ(dialog.Caption(), c.Caption);
    EXPECT_EQ(dialog.ServerLabel(), c.Server);
    EXPECT_EQ(dialog.CancelButton(), c.Cancel);
    EXPECT_EQ(dialog.UsernameLabel(), LoadResString(c.Base + 1));
    EXPECT_EQ(dialog.PasswordLabel(), LoadResString(c.Base + 2));
    EXPECT_EQ(dialog.ConnectButton(), LoadResString(c.Base + 4));
    EXPECT_EQ(dialog.DatabaseLabel(), "Database"); // not part of a set
}

INSTANTIATE_TEST_SUITE_P(
    All, LabelSets,
    testing::Values(
        SetCase{"English", lsEnglish, 100, "Connect", "Server", "Cancel"},
        SetCase{"French", lsFrench, 200, "Ouverture de session", "Serveur", "Annuler"},
        SetCase{"German", lsGerman, 300, "Anmeldung", "Host-Zeichenfolge", "Abbrechen"},
        SetCase{"Italian", lsItalian, 400, "Connessione", "Stringa Conn.Host", "Elimina"},
        SetCase{"Polish", lsPolish, 500, "Rejestracja", "Opis hosta", "Anuluj"},
        SetCase{"Portuguese", lsPortuguese, 600, "Iniciar Sessão", "Servidor", "Cancelar"},
        SetCase{"Russian", lsRussian, 0, "Соединение", "Сервер", "Отмена"},
        SetCase{"Spanish", lsSpanish, 700, "Conectar", "Cadena Conexiyn", "Cancelar"}),
    [](const auto& param) { return std::string(param.param.Name); });

TEST(LabelSetTexts, TheEnglishBlockHoldsTheFiveExtraEntriesAndPolishDoesNot) {
    EXPECT_EQ(LoadResString(106), "Database");
    EXPECT_EQ(LoadResString(110), "Data source");
    EXPECT_EQ(LoadResString(506), "");
    EXPECT_EQ(LoadResString(800), "");
}

// Defaults of a new dialog, and lsCustom set by hand keeps whatever texts there are.
TEST(LabelSetTexts, SettingATextMakesTheSetCustomAndCustomLoadsNothing) {
    TMSConnectDialog dialog(nullptr);
    EXPECT_EQ(dialog.LabelSet(), lsEnglish);
    EXPECT_EQ(dialog.Retries(), 3);
    EXPECT_TRUE(dialog.StoreLogInfo());
    EXPECT_FALSE(dialog.SavePassword());
    EXPECT_EQ(dialog.Caption(), "Connect");
    dialog.SetServerLabel("Sunucu");
    EXPECT_EQ(dialog.LabelSet(), lsCustom);
    dialog.SetLabelSet(lsCustom);
    EXPECT_EQ(dialog.ServerLabel(), "Sunucu");
    EXPECT_EQ(dialog.Caption(), "Connect");
    dialog.SetDatabaseLabel("Veritabanı");
    dialog.SetLabelSet(lsGerman);
    dialog.SetDatabaseLabel("Datenbank");
    EXPECT_EQ(dialog.LabelSet(), lsGerman); // DatabaseLabel does not switch the set
    EXPECT_EQ(dialog.ServerLabel(), "Host-Zeichenfolge");
}

// A stored lsCustom comes after the stored texts and keeps them; a stored built-in set
// overwrites them. Writing puts the texts before LabelSet.
TEST(LabelSetTexts, StreamKeepsCustomTextsAndWritesThemBeforeTheSet) {
    const std::string custom = "object D: TMSConnectDialog\n"
                               "  Caption = 'Ba'#287'lan'\n"
                               "  ServerLabel = 'Server'\n"
                               "  CancelButton = #304'ptal'\n"
                               "  LabelSet = lsCustom\n"
                               "end\n";
    std::unique_ptr<TComponent> read(ReadComponent(custom));
    auto* dialog = dynamic_cast<TMSConnectDialog*>(read.get());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->LabelSet(), lsCustom);
    EXPECT_EQ(dialog->Caption(), "Bağlan");
    EXPECT_EQ(dialog->CancelButton(), "İptal");
    EXPECT_EQ(dialog->UsernameLabel(), "User Name"); // left from the constructor

    const std::string text = WriteComponentText(dialog);
    EXPECT_LT(text.find("CancelButton"), text.find("LabelSet")) << text;

    const std::string builtIn = "object D: TMSConnectDialog\n"
                                "  Caption = 'Mine'\n"
                                "  LabelSet = lsFrench\n"
                                "end\n";
    std::unique_ptr<TComponent> french(ReadComponent(builtIn));
    EXPECT_EQ(dynamic_cast<TMSConnectDialog*>(french.get())->Caption(), "Ouverture de session");
}

} // namespace
