#pragma once
// TMemDataSet: the dataset base with an in-memory record cache. It knows whether it is open
// and how many rows it holds; reading them from a provider is its descendants' work.

#include "dataaccess/OLEDBRecordSet.h"
#include "toolkit/Component.h"

namespace kv::dataaccess {

class TMemDataSet : public TComponent {
public:
    explicit TMemDataSet(TComponent* AOwner);
    ~TMemDataSet() override;
    std::string ClassName() const override { return "TMemDataSet"; }

    bool Active() const { return FActive; }
    void SetActive(bool Value);
    virtual void Open();
    virtual void Close();
    // Rows held in memory; 0 when closed.
    virtual int RecordCount() const;

    const TOLEDBRecordSet& Data() const { return FData; }
    int FieldCount() const { return FData.ColumnCount(); }
    // The text of a field of a cached row; empty for null.
    std::string FieldText(int Record, std::string_view FieldName) const;
    bool FieldIsNull(int Record, std::string_view FieldName) const;

protected:
    virtual void OpenCursor() = 0;
    virtual void CloseCursor();
    TOLEDBRecordSet& RecordSet() { return FData; }
    void SetActiveFlag(bool Value) { FActive = Value; }

private:
    bool FActive = false;
    TOLEDBRecordSet FData;
};

} // namespace kv::dataaccess
