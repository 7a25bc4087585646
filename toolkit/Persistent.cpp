#include "toolkit/Persistent.h"

#include "toolkit/SysUtils.h"

TObject::~TObject() = default;

void TPersistent::Assign(TPersistent* Source) {
    if (Source != nullptr) {
        Source->AssignTo(this);
        return;
    }
    AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* Dest) {
    Dest->AssignError(this);
}

void TPersistent::AssignError(TPersistent* Source) {
    const std::string sourceName = Source != nullptr ? Source->ClassName() : std::string("nil");
    throw EConvertError("Cannot assign a " + sourceName + " to a " + ClassName());
}

void TPersistent::DefineProperties(TFiler* /*Filer*/) {}

std::string TPersistent::GetNamePath() const {
    return ClassName();
}
