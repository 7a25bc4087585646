#pragma once
// What the viewer says, in Turkish like the headings of its window: the notes of the listening
// side, why it cannot listen and the way out, and the texts of the window's cells and detail
// pane. The record lines of the --text mode (textLine) are not here and stay as they are:
// programs read them.

#include "dataaccess/TraceViewerMessages.h"
#include "platform/Result.h"
#include "traceviewer/trace_session.h"

#include <cstdint>
#include <string>

namespace kv::traceviewer {

// A Windows Sockets error as a sentence ("bu bağlantı noktası başka bir program tarafından
// kullanılıyor"), without its number.
std::string socketErrorSentence(platform::ErrorCode code);

// "127.0.0.1:1000 dinleniyor"
std::string listeningNote(std::uint16_t port);
// "127.0.0.1:1000 dinlenemiyor: <why> (hata 10048)"
std::string cannotListenNote(std::uint16_t port, const platform::Error& error);
// What to do when the port cannot be listened on: another port here (the window's field, or
// --port on the command line) and the same port in the traced program's monitor.
std::string listenWayOut(bool inWindow);

std::string connectedNote(int client);
// Code 0: the traced program closed the connection in order.
std::string closedNote(int client, const platform::Error& error);
// A stream that cannot be read on: "İstemci 3: akış okunamıyor (bilinmeyen ileti türü 9);
// bağlantı kapatıldı"
std::string unreadableNote(int client, const dataaccess::TDecodeFault& fault);

// The file name of a program's path, Windows or POSIX ("C:\\Kelvora\\console.exe" gives
// "console.exe").
std::string programName(const std::string& exePath);
// The window's "Tür" cell: başladı, bitti, olay, bitiş (an end without its start).
std::string kindText(TraceRecord::Kind kind);
// The window's "Satır" cell: the rows an executed statement affected, empty where the server
// reports none (-1 for a select) and for other events.
std::string rowsText(const TraceRecord& record);
// Parameters on one line: "p=5, q='x'".
std::string paramsLine(const TraceRecord& record);
// A text on one line (a cell, a --text record line): line breaks and tabs as spaces.
std::string oneLine(const std::string& text);

// Everything about one record for the detail pane: the program, the object, the whole
// statement, each parameter on a line of its own, duration, rows, the whole error.
std::string detailText(int client, std::uint32_t processId, const std::string& exePath,
                       const TraceRecord& record);

} // namespace kv::traceviewer
