// Declarations of Microsoft's SQL Server OLE DB providers, for both builds: class ids
// (classic provider, the two Native Client providers, the compact-edition providers, the
// enumerator), SQL Server property sets and property ids, and the SQL Server error interface,
// with Microsoft's names and values. (The SDK's own provider headers are not used: they differ
// between SDKs and do not carry the Native Client names.) Include platform/oledb/oledb.h.
#pragma once

#define KV_SQL_GUID(d1, d2, d3)                                                                    \
    {                                                                                              \
        d1, d2, d3, {                                                                              \
            0x97, 0xAB, 0x00, 0xC0, 0x4F, 0xC2, 0xAD, 0x98                                         \
        }                                                                                          \
    }

// "SQLOLEDB.1": Microsoft OLE DB Provider for SQL Server (the portable provider answers here).
inline constexpr CLSID CLSID_SQLOLEDB = KV_SQL_GUID(0x0C7FF16C, 0x38E3, 0x11D0);
inline constexpr CLSID CLSID_SQLOLEDB_ERROR = KV_SQL_GUID(0xC0932C62, 0x38E5, 0x11D0);
inline constexpr CLSID CLSID_SQLOLEDB_ENUMERATOR = {
    0xDFA22B8E, 0xE68D, 0x11D0, {0x97, 0xE4, 0x00, 0xC0, 0x4F, 0xC2, 0xAD, 0x98}};
#undef KV_SQL_GUID

// "SQLNCLI10.1": SQL Server Native Client 10.0.
inline constexpr CLSID CLSID_SQLNCLI10 = {
    0x8F4A6B68, 0x4F36, 0x4E3C, {0xBE, 0x81, 0xBC, 0x7C, 0xA4, 0xE9, 0xC4, 0x5C}};
// "SQLNCLI.1": SQL Native Client.
inline constexpr CLSID CLSID_SQLNCLI = {
    0x85ECAFCC, 0xBDD9, 0x4B03, {0x97, 0xA8, 0xFA, 0x65, 0xCB, 0xE3, 0x85, 0x9B}};
// SQL Server Compact Edition providers, for 3.5 and 3.0 data files.
inline constexpr CLSID CLSID_SQLSERVERCE_3_5 = {
    0xF49C559D, 0xE9E5, 0x467C, {0x8C, 0x18, 0x33, 0x26, 0xAA, 0xE4, 0xEB, 0xCC}};
inline constexpr CLSID CLSID_SQLSERVERCE_3_0 = {
    0x32CE2952, 0x2585, 0x49A6, {0xAE, 0xFF, 0x17, 0x32, 0x07, 0x6C, 0x29, 0x45}};

inline constexpr IID IID_ISQLServerErrorInfo = {
    0x5CF4CA12, 0xEF21, 0x11D0, {0x97, 0xE7, 0x00, 0xC0, 0x4F, 0xC2, 0xAD, 0x98}};

inline constexpr GUID DBPROPSET_SQLSERVERDBINIT = {
    0x5CF4CA10, 0xEF21, 0x11D0, {0x97, 0xE7, 0x00, 0xC0, 0x4F, 0xC2, 0xAD, 0x98}};
inline constexpr GUID DBPROPSET_SQLSERVERROWSET = {
    0x5CF4CA11, 0xEF21, 0x11D0, {0x97, 0xE7, 0x00, 0xC0, 0x4F, 0xC2, 0xAD, 0x98}};
inline constexpr GUID DBPROPSET_SQLSERVERDATASOURCE = {
    0x28EFAEE4, 0x2D2C, 0x11D1, {0x98, 0x07, 0x00, 0xC0, 0x4F, 0xC2, 0xAD, 0x98}};
inline constexpr GUID DBPROPSET_SQLSERVERDATASOURCEINFO = {
    0xDF10CB94, 0x35F6, 0x11D2, {0x9C, 0x54, 0x00, 0xC0, 0x4F, 0x79, 0x71, 0xD3}};
inline constexpr GUID DBPROPSET_SQLSERVERSESSION = {
    0x28EFAEE5, 0x2D2C, 0x11D1, {0x98, 0x07, 0x00, 0xC0, 0x4F, 0xC2, 0xAD, 0x98}};

// Property ids of DBPROPSET_SQLSERVERDBINIT.
inline constexpr DBPROPID SSPROP_INIT_CURRENTLANGUAGE = 4;
inline constexpr DBPROPID SSPROP_INIT_NETWORKADDRESS = 5;
inline constexpr DBPROPID SSPROP_INIT_NETWORKLIBRARY = 6;
inline constexpr DBPROPID SSPROP_INIT_USEPROCFORPREP = 7;
inline constexpr DBPROPID SSPROP_INIT_AUTOTRANSLATE = 8;
inline constexpr DBPROPID SSPROP_INIT_PACKETSIZE = 9;
inline constexpr DBPROPID SSPROP_INIT_APPNAME = 10;
inline constexpr DBPROPID SSPROP_INIT_WSID = 11;
inline constexpr DBPROPID SSPROP_INIT_FILENAME = 12;
inline constexpr DBPROPID SSPROP_INIT_ENCRYPT = 13;
inline constexpr DBPROPID SSPROP_AUTH_REPL_SERVER_NAME = 14;
inline constexpr DBPROPID SSPROP_INIT_TAGCOLUMNCOLLATION = 15;
inline constexpr DBPROPID SSPROP_INIT_MARSCONNECTION = 16;
inline constexpr DBPROPID SSPROP_INIT_FAILOVERPARTNER = 18;
inline constexpr DBPROPID SSPROP_AUTH_OLD_PASSWORD = 19;
inline constexpr DBPROPID SSPROP_INIT_DATATYPECOMPATIBILITY = 20;
inline constexpr DBPROPID SSPROP_INIT_TRUST_SERVER_CERTIFICATE = 21;

// Property ids of DBPROPSET_SQLSERVERROWSET.
inline constexpr DBPROPID SSPROP_MAXBLOBLENGTH = 8;
inline constexpr DBPROPID SSPROP_FASTLOADOPTIONS = 9;
inline constexpr DBPROPID SSPROP_FASTLOADKEEPNULLS = 10;
inline constexpr DBPROPID SSPROP_FASTLOADKEEPIDENTITY = 11;
inline constexpr DBPROPID SSPROP_CURSORAUTOFETCH = 12;
inline constexpr DBPROPID SSPROP_DEFERPREPARE = 13;
inline constexpr DBPROPID SSPROP_IRowsetFastLoad = 14;

// Property ids of DBPROPSET_SQLSERVERDATASOURCEINFO.
inline constexpr DBPROPID SSPROP_CHARACTERSET = 5;
inline constexpr DBPROPID SSPROP_SORTORDER = 6;
inline constexpr DBPROPID SSPROP_CURRENTCOLLATION = 7;

// One SQL Server message as the provider reports it. The strings point into the buffer that
// GetErrorInfo hands back separately; the caller frees both with the task allocator.
struct SSERRORINFO {
    LPOLESTR pwszMessage;
    LPOLESTR pwszServer;
    LPOLESTR pwszProcedure;
    LONG lNative;
    BYTE bState;
    BYTE bClass;
    WORD wLineNumber;
};

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

struct ISQLServerErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetErrorInfo(SSERRORINFO** ppErrorInfo,
                                                   OLECHAR** ppStringsBuffer) = 0;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
