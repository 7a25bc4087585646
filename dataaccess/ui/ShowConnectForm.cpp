// The form-showing step of the connect dialog's Execute: the form class comes from the class
// registry by name ("Class %s not found" when it is not registered), the form gets the dialog
// through its published ConnectDialog property, is shown modally and is destroyed on every way
// out.

#include "dataaccess/DBAccess.h"
#include "dataaccess/ui/DAUIHooks.h"
#include "toolkit/TypInfo.h"
#include "toolkit/ui/Forms.h"

#include <memory>

namespace kv::dataaccess::ui {

bool ShowConnectFormModal(TCustomConnectDialog* Dialog) {
    const bool designing = Dialog->ComponentState().Contains(csDesigning);
    const std::string className = Dialog->DialogClass().empty() || designing
                                      ? Dialog->DefaultDialogClass()
                                      : Dialog->DialogClass();
    if (className.empty())
        return false;
    TPersistentClass formClass = FindClass(className);
    TComponent* created = formClass->CreateComponent(nullptr);
    auto* form = dynamic_cast<TForm*>(created);
    if (form == nullptr) {
        delete created;
        return false;
    }
    struct FormRelease {
        TForm* F;
        ~FormRelease() {
            F->DoDestroy();
            delete F;
        }
    } release{form};
    if (PPropInfo prop = GetPropInfo(form, "ConnectDialog");
        prop != nullptr && prop->Kind == pkComponent && prop->SetComponent)
        prop->SetComponent(form, Dialog);
    const TModalResult result = form->ShowModal();
    return result == mrOk && (!Dialog->RequireConnected() || (Dialog->Connection() != nullptr &&
                                                              Dialog->Connection()->Connected()));
}

} // namespace kv::dataaccess::ui
