#include "traceviewer/trace_window.h"

#include "traceviewer/trace_server.h"
#include "traceviewer/trace_texts.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTableWidget>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

namespace kv::traceviewer {

namespace {

enum Column {
    ColTime,
    ColClient,
    ColProgram,
    ColKind,
    ColNumber,
    ColObject,
    ColStatement,
    ColParams,
    ColDuration,
    ColRows,
    ColError,
    ColumnCount
};

const char* const Headings[ColumnCount] = {"Zaman",     "İstemci", "Program", "Tür",
                                           "No",        "Nesne",   "Komut",   "Parametreler",
                                           "Süre (ms)", "Satır",   "Hata"};

// Columns that follow their content; the statement and the parameters get a width of their
// own (the whole text is in the tooltip and the detail pane), the error takes what is left.
constexpr Column Fitted[] = {ColTime,   ColClient, ColProgram,  ColKind,
                             ColNumber, ColObject, ColDuration, ColRows};

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A tooltip shows a long text whole up to a point; the detail pane has all of it.
QString tip(const std::string& s) {
    constexpr std::size_t limit = 2000;
    if (s.size() <= limit)
        return text(s);
    return text(s.substr(0, limit)) + QString::fromUtf8("…");
}

} // namespace

TraceWindow::TraceWindow()
    : listenPanel_(new QWidget), listenReason_(new QLabel), listenPort_(new QSpinBox),
      listenButton_(new QPushButton(QString::fromUtf8("Dinle"))),
      table_(new QTableWidget(0, ColumnCount)), details_(new QPlainTextEdit) {
    setWindowTitle("Kelvora Trace");

    listenPanel_->setObjectName("listenPanel");
    listenReason_->setObjectName("listenReason");
    listenPort_->setObjectName("listenPort");
    listenButton_->setObjectName("listenButton");
    listenReason_->setWordWrap(true);
    listenReason_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    listenPort_->setRange(1, 65535);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(new QLabel(QString::fromUtf8("Bağlantı noktası:")));
    portRow->addWidget(listenPort_);
    portRow->addWidget(listenButton_);
    portRow->addStretch();
    auto* panelLayout = new QVBoxLayout(listenPanel_);
    panelLayout->addWidget(listenReason_);
    panelLayout->addLayout(portRow);
    listenPanel_->setAutoFillBackground(true);
    QPalette warning = listenPanel_->palette();
    warning.setColor(QPalette::Window, QColor(255, 244, 206));
    listenPanel_->setPalette(warning);
    listenPanel_->hide();
    const auto retry = [this] { listenOn(static_cast<std::uint16_t>(listenPort_->value())); };
    QObject::connect(listenButton_, &QPushButton::clicked, retry);
    QObject::connect(listenPort_, &QSpinBox::editingFinished, [this, retry] {
        if (listenPort_->hasFocus())
            retry();
    });

    table_->setObjectName("records");
    QStringList headers;
    for (const char* h : Headings)
        headers << QString::fromUtf8(h);
    table_->setHorizontalHeaderLabels(headers);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    QHeaderView* header = table_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setHighlightSections(false);
    header->setStretchLastSection(true);
    // Only the rows in sight count when a column is fitted: a long trace stays quick.
    header->setResizeContentsPrecision(0);
    table_->setColumnWidth(ColStatement, 340);
    table_->setColumnWidth(ColParams, 110);
    for (Column c : Fitted)
        table_->resizeColumnToContents(c);
    QObject::connect(table_, &QTableWidget::itemSelectionChanged, [this] { showDetails(); });

    details_->setObjectName("details");
    details_->setReadOnly(true);
    details_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    details_->setPlaceholderText(
        QString::fromUtf8("Bir satır seçin: kaydın tamamı (komut, parametreler, hata) burada."));

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(table_);
    splitter->addWidget(details_);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({380, 240});
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(listenPanel_);
    layout->addWidget(splitter, 1);
    setCentralWidget(central);
    resize(1200, 640);
}

bool TraceWindow::listenOn(std::uint16_t port) {
    if (server_ == nullptr)
        return false;
    if (server_->listen(port)) {
        listenPanel_->hide();
        setWindowTitle(QString::fromUtf8("Kelvora Trace — 127.0.0.1:") +
                       QString::number(server_->port()));
        return true;
    }
    const std::string why = cannotListenNote(port, server_->listenError());
    listenReason_->setText(text(why + ".\n" + listenWayOut(true)));
    listenPort_->setValue(port);
    listenPanel_->show();
    listenPort_->setFocus();
    listenPort_->selectAll();
    setWindowTitle(QString::fromUtf8("Kelvora Trace — dinlemiyor"));
    note(why);
    return false;
}

void TraceWindow::add(int client, const TraceRecord& r) {
    if (r.kind == TraceRecord::Kind::Startup)
        programs_[client] = {r.processId, r.exePath};
    const auto known = programs_.find(client);
    const std::string exePath = known != programs_.end() ? known->second.exePath : std::string();

    QScrollBar* scroll = table_->verticalScrollBar();
    const bool atEnd = scroll->value() == scroll->maximum();
    const int row = table_->rowCount();
    table_->insertRow(row);
    rows_.push_back({client, r});

    const std::string statement = r.sql.empty() ? r.description : r.sql;
    const QString cells[ColumnCount] = {
        QTime::currentTime().toString("HH:mm:ss.zzz"),
        QString::number(client),
        text(programName(exePath)),
        text(kindText(r.kind)),
        QString::number(r.eventNumber),
        text(r.objectName),
        text(oneLine(statement)),
        text(paramsLine(r)),
        r.kind == TraceRecord::Kind::Event ? QString::number(r.duration) : QString(),
        text(rowsText(r)),
        r.failed ? text(oneLine(r.errorText)) : QString()};
    for (int c = 0; c < ColumnCount; ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        if (c == ColDuration || c == ColRows || c == ColNumber || c == ColClient)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table_->setItem(row, c, item);
    }
    // The whole texts on demand.
    if (!exePath.empty())
        table_->item(row, ColProgram)
            ->setToolTip(text(exePath + " (süreç " + std::to_string(r.processId) + ")"));
    if (!statement.empty())
        table_->item(row, ColStatement)->setToolTip(tip(statement));
    if (!r.params.empty()) {
        std::string lines;
        for (const auto& p : r.params)
            lines += (lines.empty() ? ":" : "\n:") + p.Name + " = " + p.Value;
        table_->item(row, ColParams)->setToolTip(tip(lines));
    }
    if (r.failed)
        table_->item(row, ColError)->setToolTip(tip(r.errorText));
    if (!r.objectType.empty())
        table_->item(row, ColObject)
            ->setToolTip(
                text(r.objectType + (r.parentName.empty() ? "" : ", bağlantısı: " + r.parentName)));

    if (atEnd)
        table_->scrollToBottom();
    if (!fitPending_) {
        fitPending_ = true;
        QTimer::singleShot(0, this, [this] { fitColumns(); });
    }
}

void TraceWindow::fitColumns() {
    fitPending_ = false;
    QHeaderView* header = table_->horizontalHeader();
    const QAbstractItemView* view = table_;
    // A long object or program name does not take the statement's room: the tooltip has it.
    const int widest = table_->fontMetrics().horizontalAdvance(QString(24, QChar('n')));
    for (Column c : Fitted) {
        const int wanted =
            std::min(widest, std::max(view->sizeHintForColumn(c), header->sectionSizeHint(c)));
        if (wanted > table_->columnWidth(c))
            table_->setColumnWidth(c, wanted);
    }
}

void TraceWindow::showDetails() {
    const auto selected = table_->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        details_->clear();
        return;
    }
    const int row = selected.front().row();
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size())
        return;
    const Row& r = rows_[static_cast<std::size_t>(row)];
    const auto known = programs_.find(r.client);
    details_->setPlainText(text(
        detailText(r.client, r.record.processId,
                   known != programs_.end() ? known->second.exePath : std::string(), r.record)));
}

void TraceWindow::note(const std::string& text) {
    statusBar()->showMessage(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

} // namespace kv::traceviewer
