#pragma once
// Where the platform layer reports what it cannot return: corrupt registry or status files
// (with file and line), a service definition it cannot read. The default sink writes one line
// per report to standard error; tests install their own sink to look at the reports.

#include <functional>
#include <string>

namespace kv::platform {

using DiagnosticSink = std::function<void(const std::string& message)>;

// Installs `sink` (an empty function restores the default) and returns the previous one.
DiagnosticSink setDiagnosticSink(DiagnosticSink sink);
void reportDiagnostic(const std::string& message);

} // namespace kv::platform
