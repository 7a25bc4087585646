#include "dataaccess/MemDS.h"

#include "dataaccess/DAConsts.h"
#include "toolkit/DB.h"

namespace kv::dataaccess {

TMemDataSet::TMemDataSet(TComponent* AOwner) : TComponent(AOwner) {}

TMemDataSet::~TMemDataSet() = default;

void TMemDataSet::SetActive(bool Value) {
    if (Value)
        Open();
    else
        Close();
}

void TMemDataSet::Open() {
    if (FActive)
        return;
    OpenCursor();
    FActive = true;
}

void TMemDataSet::Close() {
    if (!FActive)
        return;
    FActive = false;
    CloseCursor();
}

void TMemDataSet::CloseCursor() {
    FData.ReleaseRowset();
    FData.Clear();
}

int TMemDataSet::RecordCount() const {
    return FActive ? FData.RecordCount() : 0;
}

std::string TMemDataSet::FieldText(int Record, std::string_view FieldName) const {
    const int i = FData.FieldIndex(FieldName);
    if (i < 0)
        DatabaseError(SFieldNotFound + std::string(FieldName) + "' not found");
    return FData.Record(Record)[static_cast<std::size_t>(i)].Text;
}

bool TMemDataSet::FieldIsNull(int Record, std::string_view FieldName) const {
    const int i = FData.FieldIndex(FieldName);
    if (i < 0)
        DatabaseError(SFieldNotFound + std::string(FieldName) + "' not found");
    return FData.Record(Record)[static_cast<std::size_t>(i)].IsNull;
}

} // namespace kv::dataaccess
