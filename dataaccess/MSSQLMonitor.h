#pragma once
// TMSSQLMonitor: the SQL Server trace monitor. The first one created is the process-wide
// monitor that every SQL Server connection, dataset and statement object reports to; a second
// one created while the first exists hears nothing.

#include "dataaccess/DASQLMonitor.h"

namespace kv::dataaccess {

class TMSSQLMonitor : public TCustomDASQLMonitor {
public:
    explicit TMSSQLMonitor(TComponent* AOwner);
    ~TMSSQLMonitor() override;
    std::string ClassName() const override { return "TMSSQLMonitor"; }
    std::string Caption() const override { return "Nuvo"; }

    // The process-wide monitor, or null.
    static TMSSQLMonitor* Instance();
};

} // namespace kv::dataaccess
