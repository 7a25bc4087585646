#include "traceviewer/trace_window.h"

#include <QHeaderView>
#include <QStatusBar>
#include <QTableWidget>
#include <QTime>

namespace kv::traceviewer {

namespace {

const char* const Columns[] = {"Zaman", "İstemci",      "Tür",       "No",    "Nesne",
                               "Komut", "Parametreler", "Süre (ms)", "Satır", "Hata"};

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

TraceWindow::TraceWindow() : table_(new QTableWidget(0, std::size(Columns), this)) {
    setWindowTitle("Kelvora Trace");
    QStringList headers;
    for (const char* c : Columns)
        headers << QString::fromUtf8(c);
    table_->setHorizontalHeaderLabels(headers);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    setCentralWidget(table_);
    resize(1000, 500);
}

void TraceWindow::add(int client, const TraceRecord& r) {
    const int row = table_->rowCount();
    table_->insertRow(row);
    std::string params;
    for (const auto& p : r.params)
        params += (params.empty() ? "" : ", ") + p.Name + "=" + p.Value;
    const char* kind = r.kind == TraceRecord::Kind::Startup  ? "başladı"
                       : r.kind == TraceRecord::Kind::Finish ? "bitti"
                                                             : "olay";
    const std::string statement = r.sql.empty() ? r.description : r.sql;
    const QString cells[] = {QTime::currentTime().toString("HH:mm:ss.zzz"),
                             QString::number(client),
                             QString::fromUtf8(kind),
                             QString::number(r.eventNumber),
                             text(r.objectName),
                             text(statement),
                             text(params),
                             r.kind == TraceRecord::Kind::Event ? QString::number(r.duration)
                                                                : QString(),
                             r.rows ? QString::number(r.rows) : QString(),
                             r.failed ? text(r.errorText) : QString()};
    for (int c = 0; c < static_cast<int>(std::size(cells)); ++c)
        table_->setItem(row, c, new QTableWidgetItem(cells[c]));
    table_->scrollToBottom();
}

void TraceWindow::note(const std::string& text) {
    statusBar()->showMessage(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

} // namespace kv::traceviewer
