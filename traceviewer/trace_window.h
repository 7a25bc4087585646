#pragma once
// The viewer's window: one row per record (time received, client, kind, number, object,
// statement, parameters, duration, rows, error) and a status line with the last note.

#include "traceviewer/trace_session.h"

#include <QMainWindow>

class QTableWidget;

namespace kv::traceviewer {

class TraceWindow : public QMainWindow {
public:
    TraceWindow();
    void add(int client, const TraceRecord& record);
    void note(const std::string& text);

private:
    QTableWidget* table_;
};

} // namespace kv::traceviewer
