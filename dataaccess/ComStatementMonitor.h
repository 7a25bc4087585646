#pragma once
// The external COM statement monitor: a separate program that, where it is installed, shows the
// statements of every traced process. The trace monitor registers with it through COM (class
// and interface ids below) and sends it each notification's text; the monitor program answers
// with the trace flags it wants, through a callback. Where the class is not registered (always
// on the simulated host), registration fails quietly and the outlet stays off.

#include "platform/oledb/oledb.h"

#include <cstdint>

namespace kv::dataaccess {

struct TMonitorOutlets;

inline constexpr CLSID CLSID_StatementMonitor = {
    0xCB9879E2, 0x4395, 0x11D0, {0x9F, 0xFC, 0x00, 0xA0, 0x24, 0x8E, 0x4B, 0x9A}};
inline constexpr IID IID_IStatementMonitor = {
    0xCB9879E1, 0x4395, 0x11D0, {0x9F, 0xFC, 0x00, 0xA0, 0x24, 0x8E, 0x4B, 0x9A}};

// Receives the trace flags (a 16-bit mask, bit n = flag n) the monitor program asks for.
using TStatementMonitorCallback = void(STDMETHODCALLTYPE*)(std::intptr_t ClientID,
                                                           std::uint16_t TraceFlags);

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
struct IStatementMonitor : public IUnknown {
    // The first method after the three of IUnknown.
    virtual HRESULT STDMETHODCALLTYPE RegisterClient(std::intptr_t ClientID, const char* ClientName,
                                                     std::intptr_t Instance,
                                                     TStatementMonitorCallback Callback) = 0;
    // One text, zero-terminated, with its length.
    virtual HRESULT STDMETHODCALLTYPE SendText(std::intptr_t ClientID, const char* Text,
                                               std::int32_t Length) = 0;

protected:
    ~IStatementMonitor() = default;
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// Puts the COM statement monitor into the monitor's three COM outlets.
void InstallComMonitorOutlets(TMonitorOutlets& Outlets);

} // namespace kv::dataaccess
