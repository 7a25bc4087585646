#pragma once
// The viewer's window: one row per record (time received, client, program, kind, number,
// object, statement, parameters, duration, rows, error), the whole record of the selected row
// in a pane below, and a status line with the last note. When the port cannot be listened on,
// a panel above the rows says why and what to do, and listens on another port on request.

#include "traceviewer/trace_session.h"

#include <QMainWindow>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QWidget;

namespace kv::traceviewer {

class TraceServer;

class TraceWindow : public QMainWindow {
public:
    TraceWindow();
    // The listening side, for listenOn().
    void attach(TraceServer& server) { server_ = &server; }
    // Listens on `port`; when it cannot, shows why and the way out and stays open, so that the
    // user can try another port. False when it cannot.
    bool listenOn(std::uint16_t port);

    void add(int client, const TraceRecord& record);
    void note(const std::string& text);

private:
    struct Row {
        int client = 0;
        TraceRecord record;
    };
    struct Program {
        std::uint32_t processId = 0;
        std::string exePath;
    };
    void showDetails();
    // Narrow columns follow their content, growing only, once per burst of records.
    void fitColumns();

    TraceServer* server_ = nullptr;
    QWidget* listenPanel_;
    QLabel* listenReason_;
    QSpinBox* listenPort_;
    QPushButton* listenButton_;
    QTableWidget* table_;
    QPlainTextEdit* details_;
    std::vector<Row> rows_;
    // Each client's program, from the start-up message its connection began with.
    std::map<int, Program> programs_;
    bool fitPending_ = false;
};

} // namespace kv::traceviewer
