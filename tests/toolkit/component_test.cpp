#include "toolkit/Component.h"
#include "toolkit/DB.h"
#include "toolkit/Methods.h"
#include "toolkit/SysUtils.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Records what it hears and its own destruction.
class Probe : public TComponent {
public:
    Probe(TComponent* owner, std::vector<std::string>* log, const std::string& name = "")
        : TComponent(owner), log_(log) {
        if (!name.empty())
            SetName(name);
    }
    ~Probe() override { log_->push_back("~" + Name()); }
    void Notification(TComponent* c, TOperation op) override {
        TComponent::Notification(c, op);
        if (op == opRemove && c == link)
            link = nullptr;
        log_->push_back(Name() + (op == opInsert ? " +" : " -") + c->Name());
    }
    TComponent* link = nullptr;

private:
    std::vector<std::string>* log_;
};

TEST(Component, OwnerFreesItsComponentsLastFirst) {
    std::vector<std::string> log;
    auto* root = new Probe(nullptr, &log, "Root");
    new Probe(root, &log, "A");
    auto* b = new Probe(root, &log, "B");
    new Probe(b, &log, "B1");
    EXPECT_EQ(root->ComponentCount(), 2);
    EXPECT_EQ(root->Components(1), b);
    EXPECT_EQ(b->Owner(), root);
    log.clear();
    delete root;
    // The derived destructor body runs first; then the owned components go, the last created
    // first (B, whose body runs before it frees B1), and nobody is told while the owner dies.
    const std::vector<std::string> expected = {"~Root", "~B", "~B1", "~A"};
    EXPECT_EQ(log, expected);
}

TEST(Component, OwnerAndSiblingsHearInsertAndRemove) {
    std::vector<std::string> log;
    Probe root(nullptr, &log, "Root");
    Probe* a = new Probe(&root, &log, "A");
    Probe* b = new Probe(&root, &log, "B");
    a->link = b;
    log.clear();
    delete b;
    EXPECT_EQ(a->link, nullptr);
    EXPECT_NE(std::find(log.begin(), log.end(), "Root -B"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "A -B"), log.end());
    EXPECT_EQ(root.ComponentCount(), 1);
}

TEST(Component, FreeNotificationAcrossOwners) {
    std::vector<std::string> log;
    auto* formA = new Probe(nullptr, &log, "FormA");
    auto* formB = new Probe(nullptr, &log, "FormB");
    auto* dialog = new Probe(formA, &log, "Dialog");
    auto* connection = new Probe(formB, &log, "Connection");
    connection->link = dialog;
    dialog->FreeNotification(connection);
    log.clear();
    delete formA;
    EXPECT_EQ(connection->link, nullptr);
    EXPECT_NE(std::find(log.begin(), log.end(), "Connection -Dialog"), log.end());

    // RemoveFreeNotification: no more news, and no dangling partner when either side dies.
    auto* other = new Probe(nullptr, &log, "Other");
    other->FreeNotification(connection);
    other->RemoveFreeNotification(connection);
    log.clear();
    delete other;
    EXPECT_EQ(std::find(log.begin(), log.end(), "Connection -Other"), log.end());
    delete formB;
}

TEST(Component, NamesAreIdentifiersUniqueInTheOwner) {
    TComponent root(nullptr);
    auto* a = new TComponent(&root);
    a->SetName("MSCon");
    auto* b = new TComponent(&root);
    EXPECT_THROW(b->SetName("mscon"), EComponentError);
    EXPECT_THROW(b->SetName("1abc"), EComponentError);
    EXPECT_THROW(b->SetName("a b"), EComponentError);
    b->SetName("MSQuery1");
    EXPECT_EQ(root.FindComponent("msquery1"), b);
    EXPECT_EQ(root.FindComponent("MSCON"), a);
    EXPECT_EQ(root.FindComponent("nothing"), nullptr);
    a->SetName("MSCON"); // same name in another case is fine
    EXPECT_EQ(a->Name(), "MSCON");
    a->SetTag(42);
    EXPECT_EQ(a->Tag(), 42);
}

TEST(Component, ChangingOwner) {
    std::vector<std::string> log;
    Probe first(nullptr, &log, "First");
    Probe second(nullptr, &log, "Second");
    auto* c = new Probe(&first, &log, "C");
    second.InsertComponent(c);
    EXPECT_EQ(c->Owner(), &second);
    EXPECT_EQ(first.ComponentCount(), 0);
    EXPECT_EQ(second.ComponentCount(), 1);
    EXPECT_EQ(c->ComponentIndex(), 0);
}

TEST(Exceptions, MessagesAndAbort) {
    EXPECT_EQ(EAbort().Message(), "Operation aborted");
    try {
        Abort();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Operation aborted");
        EXPECT_NE(dynamic_cast<const EAbort*>(&e), nullptr);
    }
    TComponent con(nullptr);
    con.SetName("MSCon");
    try {
        DatabaseError("Cannot connect to database", &con);
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "MSCon: Cannot connect to database");
    }
    EXPECT_THROW(DatabaseError("x"), EDatabaseError);
}

TEST(Persistent, AssignErrorNamesBothClasses) {
    TComponent a(nullptr);
    TComponent b(nullptr);
    try {
        a.Assign(&b);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TComponent to a TComponent");
    }
    try {
        a.Assign(nullptr);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a nil to a TComponent");
    }
}

} // namespace

namespace {

// Holds a link to a sibling and looks at it while being destroyed.
class Holder : public TComponent {
public:
    Holder(TComponent* owner, bool* sawDangling) : TComponent(owner), sawDangling_(sawDangling) {}
    // The target is destroyed first: by now the link must have been cleared.
    ~Holder() override { *sawDangling_ = link != nullptr; }
    void SetLink(TComponent* c) {
        link = c;
        c->FreeNotification(this);
    }
    void Notification(TComponent* c, TOperation op) override {
        TComponent::Notification(c, op);
        if (op == opRemove && c == link)
            link = nullptr;
    }
    TComponent* link = nullptr;

private:
    bool* sawDangling_;
};

TEST(Component, SiblingLinksAreClearedWhileTheOwnerIsDestroyed) {
    bool dangling = false;
    auto* owner = new TComponent(nullptr);
    auto* holder = new Holder(owner, &dangling);
    auto* target = new TComponent(owner); // created later, so destroyed first
    holder->SetLink(target);
    delete owner;
    EXPECT_FALSE(dangling);
}

} // namespace

namespace {

struct ErrorHandler {
    void OnError(TObject* /*Sender*/, bool& Fail) { Fail = false; }
};

TEST(Methods, HandlersKeepByReferenceArguments) {
    ErrorHandler h;
    kv::toolkit::MethodTable table;
    table.Add("MSConError", kv::toolkit::Handler(&h, &ErrorHandler::OnError));
    const std::any found = table.Find("msconerror");
    using Event = std::function<void(TObject*, bool&)>;
    const Event* event = std::any_cast<Event>(&found);
    ASSERT_NE(event, nullptr);
    bool fail = true;
    (*event)(nullptr, fail);
    EXPECT_FALSE(fail);
    EXPECT_FALSE(table.Find("Other").has_value());
}

} // namespace
