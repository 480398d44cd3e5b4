#include "passwords/password_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace morvantile {
namespace {

using Names = std::vector<std::string>;

void add_entry(PasswordLists& lists, const std::string& settings, const std::string& name,
               const std::string& password) {
    lists.passwordlist.push_back(settings + name + "=" + password);
    lists.passwordlist_name.push_back(name);
    lists.passwordlist_setting.push_back(settings);
}

TEST(EntryText, FieldsAndTheFirstEqualsSign) {
    const std::string entry = make_entry("823", "mail", "a=b==");
    EXPECT_EQ(entry, "823mail=a=b==");
    EXPECT_EQ(entry_settings(entry), "823");
    EXPECT_EQ(entry_name(entry), "mail");
    EXPECT_EQ(entry_password(entry), "a=b==");

    EXPECT_EQ(entry_password("400mail="), "");
    EXPECT_EQ(entry_name("400=pw"), "");
    EXPECT_EQ(entry_password("400=pw"), "pw");
    EXPECT_EQ(entry_name("400mail"), "mail");
    EXPECT_EQ(entry_password("400mail"), "");
    EXPECT_EQ(entry_settings("40"), "40");
    EXPECT_EQ(entry_name("40"), "");
}

TEST(EntryText, SuiteDigitsInAdhOrder) {
    Settings s;
    EXPECT_EQ(getcurrentciphersettings(s), "400");
    s.Algorithm = 8;
    s.ChainingMode = 3;
    s.Hash = 5;
    EXPECT_EQ(getcurrentciphersettings(s), "835");
    s.Algorithm = 12;  // only a hand-edited file gives this
    s.Hash = -1;
    EXPECT_EQ(getcurrentciphersettings(s), "430") << "the name must still start at the fourth character";
}

TEST(EntryText, EntrySuiteOnlyWithAllowChanges) {
    Settings s;
    s.Algorithm = 2;
    EXPECT_FALSE(apply_entry_settings("835", s));
    EXPECT_EQ(s.cipher_setup(), (CipherSetup{2, 0, 0}));

    s.AllowChanges = true;
    EXPECT_TRUE(apply_entry_settings("835", s));
    EXPECT_EQ(s.Algorithm, 8);
    EXPECT_EQ(s.ChainingMode, 3);
    EXPECT_EQ(s.Hash, 5);

    for (const char* bad : {"8x5", "-35", "83", ""}) {
        s.Algorithm = 1;
        s.ChainingMode = 1;
        s.Hash = 1;
        EXPECT_TRUE(apply_entry_settings(bad, s));
        EXPECT_EQ(s.cipher_setup(), CipherSetup{}) << "'" << bad << "' gives the default suite";
    }
}

class Manager : public ::testing::Test {
protected:
    void SetUp() override {
        add_entry(lists, "400", "mail", "m=pw");
        add_entry(lists, "835", "Bank", "b-pw");
        add_entry(lists, "x12", "chat", "c-pw");
        runtime.PasswordListPresent = true;
    }
    PasswordLists lists;
    Settings settings;
    RuntimeState runtime;

    Names names() const { return lists.passwordlist_name; }
};

TEST_F(Manager, DropDownIsSortedAndFilledOnlyForAnOpenList) {
    PasswordManager pm(lists, settings, runtime);
    EXPECT_EQ(pm.items(), (Names{"Bank", "chat", "mail"}));
    EXPECT_FALSE(pm.selected_index());
    EXPECT_EQ(pm.selected_name(), "");

    runtime.PromptText = std::string(kListPromptDecrypt);
    EXPECT_TRUE(PasswordManager(lists, settings, runtime).items().empty());

    runtime.PromptText = "Enter text encryption password:";
    runtime.PasswordListPresent = false;
    EXPECT_TRUE(PasswordManager(lists, settings, runtime).items().empty());
}

TEST_F(Manager, SelectionFillsTheBoxesAndAppliesTheEntrySuite) {
    settings.AllowChanges = true;
    PasswordManager pm(lists, settings, runtime);
    ASSERT_TRUE(pm.select("BANK"));
    EXPECT_EQ(pm.selected_name(), "Bank");
    EXPECT_EQ(pm.pm_name(), "Bank");
    EXPECT_EQ(pm.pm_password(), "b-pw");
    EXPECT_EQ(pm.Password(), "b-pw");
    EXPECT_EQ(runtime.SelectedEntryName, "Bank");
    EXPECT_EQ(settings.cipher_setup(), (CipherSetup{8, 5, 3}));

    pm.cbox_passwordsChange(1);  // "chat", whose settings are not digits
    EXPECT_EQ(pm.Password(), "c-pw");
    EXPECT_EQ(settings.cipher_setup(), CipherSetup{});

    pm.cbox_passwordsChange(2);
    EXPECT_EQ(pm.Password(), "m=pw") << "only the first '=' ends the name";

    EXPECT_FALSE(pm.select("nobody"));
    EXPECT_EQ(pm.Password(), "m=pw") << "no selection changes nothing";
}

TEST_F(Manager, WithoutAllowChangesSelectionLeavesTheSuite) {
    settings.Algorithm = 6;
    PasswordManager pm(lists, settings, runtime);
    pm.select("Bank");
    EXPECT_EQ(pm.Password(), "b-pw");
    EXPECT_EQ(settings.cipher_setup(), (CipherSetup{6, 0, 0}));
    EXPECT_EQ(lists.passwordlist_setting[1], "835") << "the entry keeps its own settings";
}

TEST_F(Manager, AddStoresTheSuiteInForceAndSelectsTheNewEntry) {
    settings.AllowChanges = true;
    settings.Algorithm = 7;
    settings.ChainingMode = 2;
    settings.Hash = 1;
    PasswordManager pm(lists, settings, runtime);
    pm.pm_nameChange("work");
    pm.pm_passwordChange("x=y");
    pm.b_addClick();

    EXPECT_EQ(lists.passwordlist.back(), "721work=x=y");
    EXPECT_EQ(lists.passwordlist_name.back(), "work");
    EXPECT_EQ(lists.passwordlist_setting.back(), "721");
    EXPECT_EQ(pm.items(), (Names{"Bank", "chat", "mail", "work"}));
    EXPECT_EQ(pm.selected_name(), "work");
    EXPECT_EQ(pm.Password(), "x=y");
    EXPECT_EQ(runtime.SelectedEntryName, "work");
    EXPECT_EQ(settings.cipher_setup(), (CipherSetup{7, 1, 2}));
    EXPECT_TRUE(runtime.PasswordListChanged);
}

TEST_F(Manager, AddToAnEmptyListMakesItPresent) {
    lists.clear();
    runtime.PasswordListPresent = false;
    PasswordManager pm(lists, settings, runtime);
    pm.pm_nameChange("first");
    pm.b_addClick();  // an empty password is allowed
    EXPECT_TRUE(runtime.PasswordListPresent);
    EXPECT_EQ(lists.passwordlist, (Names{"400first="}));
    EXPECT_EQ(pm.items(), (Names{"first"}));

    for (int i = 0; i < 40; ++i) {  // growth keeps the three lists in step
        pm.pm_nameChange("n" + std::to_string(i));
        pm.pm_passwordChange("p" + std::to_string(i));
        pm.b_addClick();
    }
    ASSERT_EQ(lists.size(), 41u);
    EXPECT_EQ(lists.passwordlist[40], "400n39=p39");
    EXPECT_EQ(pm.items().size(), 41u);
}

TEST_F(Manager, AddOfAnExistingNameSelectsIt) {
    PasswordManager pm(lists, settings, runtime);
    pm.pm_nameChange("MAIL");
    pm.pm_passwordChange("typed");
    pm.b_addClick();
    EXPECT_EQ(lists.size(), 3u);
    EXPECT_EQ(pm.items().size(), 3u);
    EXPECT_EQ(pm.selected_name(), "mail");
    EXPECT_EQ(pm.pm_name(), "mail");
    EXPECT_EQ(pm.pm_password(), "m=pw") << "the boxes show what the name stores";
    EXPECT_EQ(pm.Password(), "m=pw");
    EXPECT_TRUE(runtime.PasswordListChanged);
}

TEST_F(Manager, HandlersNeedAName) {
    runtime.ListPassword = "list";
    PasswordManager pm(lists, settings, runtime);
    pm.select("mail");
    pm.pm_nameChange("");
    EXPECT_EQ(pm.pm_password(), "") << "emptying the name empties the password box";
    pm.b_addClick();
    pm.b_updateClick();
    pm.b_deleteClick();
    EXPECT_FALSE(runtime.PasswordListChanged);
    EXPECT_EQ(lists.size(), 3u);
    EXPECT_EQ(runtime.ListPassword, "list");
}

TEST_F(Manager, UpdateRenamesStoresTheSuiteInForceAndKeepsTheOrder) {
    PasswordManager pm(lists, settings, runtime);
    pm.select("mail");
    settings.Algorithm = 3;  // changed on the cipher display after selecting
    pm.pm_nameChange("Archive");
    pm.pm_passwordChange("new=pw");
    pm.b_updateClick();

    EXPECT_EQ(lists.passwordlist[0], "300Archive=new=pw");
    EXPECT_EQ(names(), (Names{"Archive", "Bank", "chat"}));
    EXPECT_EQ(lists.passwordlist_setting[0], "300");
    EXPECT_EQ(pm.items(), (Names{"Archive", "Bank", "chat"}));
    EXPECT_EQ(pm.selected_name(), "Archive");
    EXPECT_EQ(pm.Password(), "new=pw");
    EXPECT_EQ(runtime.SelectedEntryName, "Archive");
    EXPECT_TRUE(runtime.PasswordListChanged);

    // A change of letter case only renames too, and later lookups ignore it.
    pm.pm_nameChange("ARCHIVE");
    pm.b_updateClick();
    EXPECT_EQ(names()[0], "ARCHIVE");
    pm.pm_nameChange("archive");
    pm.b_addClick();
    EXPECT_EQ(lists.size(), 3u);
    EXPECT_EQ(pm.selected_name(), "ARCHIVE");
}

TEST_F(Manager, UpdateOntoAnotherNameIsNotChecked) {
    PasswordManager pm(lists, settings, runtime);
    pm.select("chat");
    pm.pm_nameChange("bank");
    pm.pm_passwordChange("other");
    pm.b_updateClick();
    EXPECT_EQ(names(), (Names{"mail", "Bank", "bank"}));
    EXPECT_EQ(pm.items(), (Names{"Bank", "bank", "mail"}));
    EXPECT_EQ(pm.selected_name(), "bank");
    EXPECT_EQ(pm.Password(), "other") << "the renamed entry, not its namesake";
    pm.cbox_passwordsChange(0);
    EXPECT_EQ(pm.Password(), "b-pw");
}

TEST_F(Manager, UpdateAndDeleteWithoutASelectedEntry) {
    runtime.ListPassword = "list";
    PasswordManager pm(lists, settings, runtime);
    pm.pm_nameChange("mail");  // typed, but nothing is selected
    pm.pm_passwordChange("typed");
    pm.b_updateClick();
    EXPECT_EQ(lists.passwordlist[0], "400mail=m=pw");
    EXPECT_TRUE(runtime.PasswordListChanged);
    EXPECT_EQ(runtime.ListPassword, "list");

    pm.b_deleteClick();
    EXPECT_EQ(lists.size(), 3u);
    EXPECT_EQ(runtime.ListPassword, "") << "asked for again when the list is written";
}

TEST_F(Manager, DeleteRemovesTheEntryAndSelectsTheFirstLeft) {
    settings.AllowChanges = true;
    PasswordManager pm(lists, settings, runtime);
    pm.select("MAIL");
    pm.b_deleteClick();
    EXPECT_EQ(lists.passwordlist, (Names{"835Bank=b-pw", "x12chat=c-pw"}));
    EXPECT_EQ(names(), (Names{"Bank", "chat"}));
    EXPECT_EQ(lists.passwordlist_setting, (Names{"835", "x12"}));
    EXPECT_EQ(pm.items(), (Names{"Bank", "chat"}));
    EXPECT_EQ(pm.selected_name(), "Bank");
    EXPECT_EQ(pm.pm_name(), "Bank");
    EXPECT_EQ(pm.Password(), "b-pw");
    EXPECT_EQ(settings.cipher_setup(), (CipherSetup{8, 5, 3}));

    pm.b_deleteClick();
    pm.b_deleteClick();
    EXPECT_TRUE(lists.empty());
    EXPECT_TRUE(lists.passwordlist_name.empty());
    EXPECT_TRUE(lists.passwordlist_setting.empty());
    EXPECT_TRUE(pm.items().empty());
    EXPECT_FALSE(pm.selected_index());
    EXPECT_EQ(pm.pm_name(), "");
    EXPECT_EQ(pm.pm_password(), "");
    EXPECT_TRUE(runtime.PasswordListPresent);
}

TEST_F(Manager, NameBoxTakesNoEqualsSign) {
    EXPECT_FALSE(PasswordManager::pm_nameKeyPress('='));
    EXPECT_TRUE(PasswordManager::pm_nameKeyPress('a'));

    PasswordManager pm(lists, settings, runtime);
    pm.pm_nameChange("we=b");  // pasted
    EXPECT_EQ(pm.pm_name(), "web");
    pm.pm_passwordChange("p=q");
    pm.b_addClick();
    EXPECT_EQ(lists.passwordlist.back(), "400web=p=q");
    EXPECT_EQ(entry_name(lists.passwordlist.back()), "web");
    EXPECT_EQ(entry_password(lists.passwordlist.back()), "p=q");
}

TEST_F(Manager, PasswordBoxFocusRevealsOnce) {
    PasswordManager pm(lists, settings, runtime);
    EXPECT_TRUE(pm.pm_passwordEnter());
    EXPECT_TRUE(settings.RevealPassword);
    EXPECT_FALSE(pm.pm_passwordEnter());
    EXPECT_TRUE(settings.RevealPassword);
}

}  // namespace
}  // namespace morvantile
