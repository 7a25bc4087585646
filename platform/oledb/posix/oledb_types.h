// OLE DB declarations for builds without Windows: handles and counts, bindings, properties,
// column descriptions, result codes, GUIDs and the interfaces the data-access layer calls, with
// Microsoft's names, numeric values, vtable order and 64-bit widths.
#pragma once

#include "platform/oledb/posix/com.h"

// ---------------------------------------------------------------------------------------------
// Counts, offsets and handles (64-bit widths, as on 64-bit Windows).

using DBLENGTH = ULONGLONG;
using DBROWOFFSET = LONGLONG;
using DBROWCOUNT = LONGLONG;
using DBCOUNTITEM = ULONGLONG;
using DBORDINAL = ULONGLONG;
using DBBYTEOFFSET = ULONGLONG;
using DBREFCOUNT = ULONG;
using DB_UPARAMS = ULONGLONG;
using DB_LRESERVE = LONG_PTR;
using HROW = ULONG_PTR;
using HACCESSOR = ULONG_PTR;
using HCHAPTER = ULONG_PTR;
using DBTYPE = WORD;
using DBKIND = DWORD;
using DBPART = DWORD;
using DBMEMOWNER = DWORD;
using DBPARAMIO = DWORD;
using DBSTATUS = DWORD;
using DBBINDSTATUS = DWORD;
using DBROWSTATUS = DWORD;
using DBROWOPTIONS = DWORD;
using DBACCESSORFLAGS = DWORD;
using DBCOLUMNFLAGS = DWORD;
using DBPROPID = DWORD;
using DBPROPOPTIONS = DWORD;
using DBPROPSTATUS = DWORD;
using DBPROPFLAGS = DWORD;
using DBRESULTFLAG = DB_LRESERVE;

inline constexpr HCHAPTER DB_NULL_HCHAPTER = 0;
inline constexpr HACCESSOR DB_NULL_HACCESSOR = 0;
inline constexpr HACCESSOR DB_INVALID_HACCESSOR = 0;
inline constexpr HROW DB_NULL_HROW = 0;

// ---------------------------------------------------------------------------------------------
// Result codes of OLE DB.

inline constexpr HRESULT DB_E_BADACCESSORHANDLE = hresultOf(0x80040E00u);
inline constexpr HRESULT DB_E_ROWLIMITEXCEEDED = hresultOf(0x80040E01u);
inline constexpr HRESULT DB_E_READONLYACCESSOR = hresultOf(0x80040E02u);
inline constexpr HRESULT DB_E_SCHEMAVIOLATION = hresultOf(0x80040E03u);
inline constexpr HRESULT DB_E_BADROWHANDLE = hresultOf(0x80040E04u);
inline constexpr HRESULT DB_E_OBJECTOPEN = hresultOf(0x80040E05u);
inline constexpr HRESULT DB_E_BADCHAPTER = hresultOf(0x80040E06u);
inline constexpr HRESULT DB_E_CANTCONVERTVALUE = hresultOf(0x80040E07u);
inline constexpr HRESULT DB_E_BADBINDINFO = hresultOf(0x80040E08u);
inline constexpr HRESULT DB_SEC_E_PERMISSIONDENIED = hresultOf(0x80040E09u);
inline constexpr HRESULT DB_E_NOCOMMAND = hresultOf(0x80040E0Cu);
inline constexpr HRESULT DB_E_PARAMNOTOPTIONAL = hresultOf(0x80040E10u);
inline constexpr HRESULT DB_E_BADCOLUMNID = hresultOf(0x80040E11u);
inline constexpr HRESULT DB_E_ERRORSINCOMMAND = hresultOf(0x80040E14u);
inline constexpr HRESULT DB_E_CANTCANCEL = hresultOf(0x80040E15u);
inline constexpr HRESULT DB_E_DIALECTNOTSUPPORTED = hresultOf(0x80040E16u);
inline constexpr HRESULT DB_E_CANNOTRESTART = hresultOf(0x80040E18u);
inline constexpr HRESULT DB_E_NOTFOUND = hresultOf(0x80040E19u);
inline constexpr HRESULT DB_E_UNSUPPORTEDCONVERSION = hresultOf(0x80040E1Du);
inline constexpr HRESULT DB_E_NOTREENTRANT = hresultOf(0x80040E20u);
inline constexpr HRESULT DB_E_ERRORSOCCURRED = hresultOf(0x80040E21u);
inline constexpr HRESULT DB_E_NOAGGREGATION = hresultOf(0x80040E22u);
inline constexpr HRESULT DB_E_CANTFETCHBACKWARDS = hresultOf(0x80040E24u);
inline constexpr HRESULT DB_E_ROWSNOTRELEASED = hresultOf(0x80040E25u);
inline constexpr HRESULT DB_E_CANTSCROLLBACKWARDS = hresultOf(0x80040E29u);
inline constexpr HRESULT DB_E_ABORTLIMITREACHED = hresultOf(0x80040E31u);
inline constexpr HRESULT DB_E_BADRECORDNUM = hresultOf(0x80040E42u);
inline constexpr HRESULT DB_E_BADACCESSORFLAGS = hresultOf(0x80040E46u);
inline constexpr HRESULT DB_E_BYREFACCESSORNOTSUPPORTED = hresultOf(0x80040E48u);
inline constexpr HRESULT DB_E_NULLACCESSORNOTSUPPORTED = hresultOf(0x80040E49u);
inline constexpr HRESULT DB_E_NOTPREPARED = hresultOf(0x80040E4Au);
inline constexpr HRESULT DB_E_BADACCESSORTYPE = hresultOf(0x80040E4Bu);
inline constexpr HRESULT DB_SEC_E_AUTH_FAILED = hresultOf(0x80040E4Du);
inline constexpr HRESULT DB_E_CANCELED = hresultOf(0x80040E4Eu);
inline constexpr HRESULT DB_E_ALREADYINITIALIZED = hresultOf(0x80040E52u);
inline constexpr HRESULT DB_E_NOTSUPPORTED = hresultOf(0x80040E53u);
inline constexpr HRESULT DB_E_BADORDINAL = hresultOf(0x80040E55u);
inline constexpr HRESULT DB_E_DATAOVERFLOW = hresultOf(0x80040E57u);

inline constexpr HRESULT DB_S_ROWLIMITEXCEEDED = 0x00040EC0;
inline constexpr HRESULT DB_S_COLUMNTYPEMISMATCH = 0x00040EC1;
inline constexpr HRESULT DB_S_TYPEINFOOVERRIDDEN = 0x00040EC2;
inline constexpr HRESULT DB_S_BOOKMARKSKIPPED = 0x00040EC3;
inline constexpr HRESULT DB_S_NONEXTROWSET = 0x00040EC5;
inline constexpr HRESULT DB_S_ENDOFROWSET = 0x00040EC6;
inline constexpr HRESULT DB_S_COMMANDREEXECUTED = 0x00040EC7;
inline constexpr HRESULT DB_S_BUFFERFULL = 0x00040EC8;
inline constexpr HRESULT DB_S_NORESULT = 0x00040EC9;
inline constexpr HRESULT DB_S_CANTRELEASE = 0x00040ECA;
inline constexpr HRESULT DB_S_DIALECTIGNORED = 0x00040ECD;
inline constexpr HRESULT DB_S_ERRORSRETURNED = 0x00040ED2;
inline constexpr HRESULT DB_S_STOPLIMITREACHED = 0x00040ED6;
inline constexpr HRESULT DB_S_PROPERTIESCHANGED = 0x00040ED9;
inline constexpr HRESULT DB_S_ERRORSOCCURRED = 0x00040EDA;
inline constexpr HRESULT DB_S_PARAMUNAVAILABLE = 0x00040EDB;

// ---------------------------------------------------------------------------------------------
// Identifiers, properties and property sets.

enum DBKINDENUM : DBKIND {
    DBKIND_GUID_NAME = 0,
    DBKIND_GUID_PROPID = 1,
    DBKIND_NAME = 2,
    DBKIND_PGUID_NAME = 3,
    DBKIND_PGUID_PROPID = 4,
    DBKIND_PROPID = 5,
    DBKIND_GUID = 6,
};

struct DBID {
    union {
        GUID guid;
        GUID* pguid;
    } uGuid;
    DBKIND eKind;
    union {
        LPOLESTR pwszName;
        ULONG ulPropid;
    } uName;
};

// A null column id: what every property of a data source, session or command carries.
inline constexpr DBID DB_NULLID = {{GUID_NULL}, DBKIND_GUID_PROPID, {nullptr}};

struct DBPROP {
    DBPROPID dwPropertyID;
    DBPROPOPTIONS dwOptions;
    DBPROPSTATUS dwStatus;
    DBID colid;
    VARIANT vValue;
};

struct DBPROPSET {
    DBPROP* rgProperties;
    ULONG cProperties;
    GUID guidPropertySet;
};

struct DBPROPIDSET {
    DBPROPID* rgPropertyIDs;
    ULONG cPropertyIDs;
    GUID guidPropertySet;
};

struct DBPROPINFO {
    LPOLESTR pwszDescription;
    DBPROPID dwPropertyID;
    DBPROPFLAGS dwFlags;
    VARTYPE vtType;
    VARIANT vValues;
};

struct DBPROPINFOSET {
    DBPROPINFO* rgPropertyInfos;
    ULONG cPropertyInfos;
    GUID guidPropertySet;
};

enum DBPROPOPTIONSENUM : DBPROPOPTIONS {
    DBPROPOPTIONS_REQUIRED = 0,
    DBPROPOPTIONS_SETIFCHEAP = 1,
    DBPROPOPTIONS_OPTIONAL = 1,
};

enum DBPROPSTATUSENUM : DBPROPSTATUS {
    DBPROPSTATUS_OK = 0,
    DBPROPSTATUS_NOTSUPPORTED = 1,
    DBPROPSTATUS_BADVALUE = 2,
    DBPROPSTATUS_BADOPTION = 3,
    DBPROPSTATUS_BADCOLUMN = 4,
    DBPROPSTATUS_NOTALLSETTABLE = 5,
    DBPROPSTATUS_NOTSETTABLE = 6,
    DBPROPSTATUS_NOTSET = 7,
    DBPROPSTATUS_CONFLICTING = 8,
    DBPROPSTATUS_NOTAVAILABLE = 9,
};

// Property ids (the subset this program sends or reads).
enum DBPROPENUM : DBPROPID {
    DBPROP_ABORTPRESERVE = 0x2,
    DBPROP_ACTIVESESSIONS = 0x3,
    DBPROP_AUTH_INTEGRATED = 0x7,
    DBPROP_AUTH_PASSWORD = 0x9,
    DBPROP_AUTH_PERSIST_ENCRYPTED = 0xa,
    DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO = 0xb,
    DBPROP_AUTH_USERID = 0xc,
    DBPROP_BOOKMARKS = 0xe,
    DBPROP_CANFETCHBACKWARDS = 0x12,
    DBPROP_CANHOLDROWS = 0x13,
    DBPROP_CANSCROLLBACKWARDS = 0x15,
    DBPROP_COMMANDTIMEOUT = 0x22,
    DBPROP_COMMITPRESERVE = 0x23,
    DBPROP_CURRENTCATALOG = 0x25,
    DBPROP_DATASOURCENAME = 0x26,
    DBPROP_DATASOURCEREADONLY = 0x27,
    DBPROP_DBMSNAME = 0x28,
    DBPROP_DBMSVER = 0x29,
    DBPROP_IAccessor = 0x79,
    DBPROP_IColumnsInfo = 0x7a,
    DBPROP_IConvertType = 0xc2,
    DBPROP_IRowset = 0x7e,
    DBPROP_IRowsetChange = 0x7f,
    DBPROP_IRowsetIdentity = 0x80,
    DBPROP_IRowsetInfo = 0x81,
    DBPROP_IRowsetLocate = 0x82,
    DBPROP_IRowsetResynch = 0x84,
    DBPROP_IRowsetScroll = 0x85,
    DBPROP_IRowsetUpdate = 0x86,
    DBPROP_ISupportErrorInfo = 0x87,
    DBPROP_ISequentialStream = 0x89,
    DBPROP_IMMOBILEROWS = 0x2f,
    DBPROP_INIT_DATASOURCE = 0x3b,
    DBPROP_INIT_HWND = 0x3c,
    DBPROP_INIT_IMPERSONATION_LEVEL = 0x3d,
    DBPROP_INIT_LCID = 0xba,
    DBPROP_INIT_LOCATION = 0x3e,
    DBPROP_INIT_MODE = 0x3f,
    DBPROP_INIT_PROMPT = 0x40,
    DBPROP_INIT_PROTECTION_LEVEL = 0x41,
    DBPROP_INIT_PROVIDERSTRING = 0xa0,
    DBPROP_INIT_TIMEOUT = 0x42,
    DBPROP_LITERALIDENTITY = 0x44,
    DBPROP_MAXOPENROWS = 0x47,
    DBPROP_MAXPENDINGROWS = 0x48,
    DBPROP_MAXROWS = 0x49,
    DBPROP_MULTIPLEPARAMSETS = 0xbf,
    DBPROP_MULTIPLERESULTS = 0xc4,
    DBPROP_OTHERINSERT = 0x57,
    DBPROP_OTHERUPDATEDELETE = 0x58,
    DBPROP_OWNINSERT = 0x59,
    DBPROP_OWNUPDATEDELETE = 0x5a,
    DBPROP_PROVIDERNAME = 0x60,
    DBPROP_PROVIDEROLEDBVER = 0x61,
    DBPROP_PROVIDERVER = 0x62,
    DBPROP_QUICKRESTART = 0x63,
    DBPROP_REMOVEDELETED = 0x66,
    DBPROP_ROWTHREADMODEL = 0x69,
    DBPROP_SERVERCURSOR = 0x6c,
    DBPROP_SESS_AUTOCOMMITISOLEVELS = 0xbe,
    DBPROP_STRONGIDENTITY = 0x77,
    DBPROP_SUPPORTEDTXNISOLEVELS = 0x71,
    DBPROP_UPDATABILITY = 0x75,
    DBPROP_USERNAME = 0x76,
    DBPROP_IMultipleResults = 0xd9,
    DBPROP_ACCESSORDER = 0xe7,
    DBPROP_INIT_CATALOG = 0xe9,
    DBPROP_PROVIDERFRIENDLYNAME = 0xeb,
    DBPROP_LOCKMODE = 0xec,
    DBPROP_MULTIPLECONNECTIONS = 0xed,
    DBPROP_UNIQUEROWS = 0xee,
    DBPROP_CONNECTIONSTATUS = 0xf4,
    DBPROP_INIT_OLEDBSERVICES = 0xf8,
    DBPROP_SERVERNAME = 0xfa,
    DBPROP_CLIENTCURSOR = 0x104,
    DBPROP_INIT_GENERALTIMEOUT = 0x11c,
};

// Values of DBPROP_INIT_PROMPT.
inline constexpr SHORT DBPROMPT_PROMPT = 1;
inline constexpr SHORT DBPROMPT_COMPLETE = 2;
inline constexpr SHORT DBPROMPT_COMPLETEREQUIRED = 3;
inline constexpr SHORT DBPROMPT_NOPROMPT = 4;

// Transaction isolation levels (DBPROP_SESS_AUTOCOMMITISOLEVELS, DBPROP_SUPPORTEDTXNISOLEVELS).
inline constexpr LONG DBPROPVAL_TI_CHAOS = 0x10;
inline constexpr LONG DBPROPVAL_TI_READUNCOMMITTED = 0x100;
inline constexpr LONG DBPROPVAL_TI_BROWSE = 0x100;
inline constexpr LONG DBPROPVAL_TI_CURSORSTABILITY = 0x1000;
inline constexpr LONG DBPROPVAL_TI_READCOMMITTED = 0x1000;
inline constexpr LONG DBPROPVAL_TI_REPEATABLEREAD = 0x10000;
inline constexpr LONG DBPROPVAL_TI_SERIALIZABLE = 0x100000;
inline constexpr LONG DBPROPVAL_TI_ISOLATED = 0x100000;
inline constexpr LONG DBPROPVAL_TI_SNAPSHOT = 0x1000000;

// Values of DBPROP_CONNECTIONSTATUS.
inline constexpr LONG DBPROPVAL_CS_UNINITIALIZED = 0;
inline constexpr LONG DBPROPVAL_CS_INITIALIZED = 1;
inline constexpr LONG DBPROPVAL_CS_COMMUNICATIONFAILURE = 2;

// ---------------------------------------------------------------------------------------------
// Data types, bindings and columns.

enum DBTYPEENUM : DBTYPE {
    DBTYPE_EMPTY = 0,
    DBTYPE_NULL = 1,
    DBTYPE_I2 = 2,
    DBTYPE_I4 = 3,
    DBTYPE_R4 = 4,
    DBTYPE_R8 = 5,
    DBTYPE_CY = 6,
    DBTYPE_DATE = 7,
    DBTYPE_BSTR = 8,
    DBTYPE_IDISPATCH = 9,
    DBTYPE_ERROR = 10,
    DBTYPE_BOOL = 11,
    DBTYPE_VARIANT = 12,
    DBTYPE_IUNKNOWN = 13,
    DBTYPE_DECIMAL = 14,
    DBTYPE_I1 = 16,
    DBTYPE_UI1 = 17,
    DBTYPE_UI2 = 18,
    DBTYPE_UI4 = 19,
    DBTYPE_I8 = 20,
    DBTYPE_UI8 = 21,
    DBTYPE_FILETIME = 64,
    DBTYPE_GUID = 72,
    DBTYPE_VECTOR = 0x1000,
    DBTYPE_ARRAY = 0x2000,
    DBTYPE_BYREF = 0x4000,
    DBTYPE_RESERVED = 0x8000,
    DBTYPE_BYTES = 128,
    DBTYPE_STR = 129,
    DBTYPE_WSTR = 130,
    DBTYPE_NUMERIC = 131,
    DBTYPE_UDT = 132,
    DBTYPE_DBDATE = 133,
    DBTYPE_DBTIME = 134,
    DBTYPE_DBTIMESTAMP = 135,
    DBTYPE_HCHAPTER = 136,
    DBTYPE_PROPVARIANT = 138,
    DBTYPE_VARNUMERIC = 139,
};

struct DBTIMESTAMP {
    SHORT year;
    USHORT month;
    USHORT day;
    USHORT hour;
    USHORT minute;
    USHORT second;
    ULONG fraction; // billionths of a second
};

enum DBPARTENUM : DBPART {
    DBPART_INVALID = 0,
    DBPART_VALUE = 0x1,
    DBPART_LENGTH = 0x2,
    DBPART_STATUS = 0x4,
};

enum DBMEMOWNERENUM : DBMEMOWNER {
    DBMEMOWNER_CLIENTOWNED = 0,
    DBMEMOWNER_PROVIDEROWNED = 0x1,
};

enum DBPARAMIOENUM : DBPARAMIO {
    DBPARAMIO_NOTPARAM = 0,
    DBPARAMIO_INPUT = 0x1,
    DBPARAMIO_OUTPUT = 0x2,
};

enum DBACCESSORFLAGSENUM : DBACCESSORFLAGS {
    DBACCESSOR_INVALID = 0,
    DBACCESSOR_PASSBYREF = 0x1,
    DBACCESSOR_ROWDATA = 0x2,
    DBACCESSOR_PARAMETERDATA = 0x4,
    DBACCESSOR_OPTIMIZED = 0x8,
    DBACCESSOR_INHERITED = 0x10,
};

enum DBBINDSTATUSENUM : DBBINDSTATUS {
    DBBINDSTATUS_OK = 0,
    DBBINDSTATUS_BADORDINAL = 1,
    DBBINDSTATUS_UNSUPPORTEDCONVERSION = 2,
    DBBINDSTATUS_BADBINDINFO = 3,
    DBBINDSTATUS_BADSTORAGEFLAGS = 4,
    DBBINDSTATUS_NOINTERFACE = 5,
    DBBINDSTATUS_MULTIPLESTORAGE = 6,
};

enum DBSTATUSENUM : DBSTATUS {
    DBSTATUS_S_OK = 0,
    DBSTATUS_E_BADACCESSOR = 1,
    DBSTATUS_E_CANTCONVERTVALUE = 2,
    DBSTATUS_S_ISNULL = 3,
    DBSTATUS_S_TRUNCATED = 4,
    DBSTATUS_E_SIGNMISMATCH = 5,
    DBSTATUS_E_DATAOVERFLOW = 6,
    DBSTATUS_E_CANTCREATE = 7,
    DBSTATUS_E_UNAVAILABLE = 8,
    DBSTATUS_E_PERMISSIONDENIED = 9,
    DBSTATUS_E_INTEGRITYVIOLATION = 10,
    DBSTATUS_E_SCHEMAVIOLATION = 11,
    DBSTATUS_E_BADSTATUS = 12,
    DBSTATUS_S_DEFAULT = 13,
};

enum DBROWSTATUSENUM : DBROWSTATUS {
    DBROWSTATUS_S_OK = 0,
    DBROWSTATUS_S_PENDINGCHANGES = 1,
    DBROWSTATUS_E_INVALID = 4,
};

enum DBROWOPTIONSENUM : DBROWOPTIONS {
    DBROWOPTIONS_DEFAULT = 0,
};

enum DBCOLUMNFLAGSENUM : DBCOLUMNFLAGS {
    DBCOLUMNFLAGS_ISBOOKMARK = 0x1,
    DBCOLUMNFLAGS_MAYDEFER = 0x2,
    DBCOLUMNFLAGS_WRITE = 0x4,
    DBCOLUMNFLAGS_WRITEUNKNOWN = 0x8,
    DBCOLUMNFLAGS_ISFIXEDLENGTH = 0x10,
    DBCOLUMNFLAGS_ISNULLABLE = 0x20,
    DBCOLUMNFLAGS_MAYBENULL = 0x40,
    DBCOLUMNFLAGS_ISLONG = 0x80,
    DBCOLUMNFLAGS_ISROWID = 0x100,
    DBCOLUMNFLAGS_ISROWVER = 0x200,
    DBCOLUMNFLAGS_CACHEDEFERRED = 0x1000,
};

enum DBRESULTFLAGENUM : DBRESULTFLAG {
    DBRESULTFLAG_DEFAULT = 0,
    DBRESULTFLAG_ROWSET = 1,
    DBRESULTFLAG_ROW = 2,
};

struct DBOBJECT {
    DWORD dwFlags;
    IID iid;
};

struct DBBINDEXT {
    BYTE* pExtension;
    DBCOUNTITEM ulExtension;
};

struct DBBINDING {
    DBORDINAL iOrdinal;
    DBBYTEOFFSET obValue;
    DBBYTEOFFSET obLength;
    DBBYTEOFFSET obStatus;
    ITypeInfo* pTypeInfo;
    DBOBJECT* pObject;
    DBBINDEXT* pBindExt;
    DBPART dwPart;
    DBMEMOWNER dwMemOwner;
    DBPARAMIO eParamIO;
    DBLENGTH cbMaxLen;
    DWORD dwFlags;
    DBTYPE wType;
    BYTE bPrecision;
    BYTE bScale;
};

struct DBCOLUMNINFO {
    LPOLESTR pwszName;
    ITypeInfo* pTypeInfo;
    DBORDINAL iOrdinal;
    DBCOLUMNFLAGS dwFlags;
    DBLENGTH ulColumnSize;
    DBTYPE wType;
    BYTE bPrecision;
    BYTE bScale;
    DBID columnid;
};

struct DBPARAMS {
    void* pData;
    DB_UPARAMS cParamSets;
    HACCESSOR hAccessor;
};

// Basic information of one error record.
struct ERRORINFO {
    HRESULT hrError;
    DWORD dwMinor;
    CLSID clsid;
    IID iid;
    DISPID dispid;
};

// ---------------------------------------------------------------------------------------------
// GUIDs: property sets, command dialects, schema rowsets, interfaces.

#define KV_OLEDB_GUID(d1)                                                                          \
    {                                                                                              \
        d1, 0x5CF3, 0x11CE, {                                                                      \
            0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D                                         \
        }                                                                                          \
    }
#define KV_OLEDB_IID(d1)                                                                           \
    {                                                                                              \
        d1, 0x2A1C, 0x11CE, {                                                                      \
            0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D                                         \
        }                                                                                          \
    }

inline constexpr GUID DBPROPSET_DATASOURCE = KV_OLEDB_GUID(0xC8B522BA);
inline constexpr GUID DBPROPSET_DATASOURCEINFO = KV_OLEDB_GUID(0xC8B522BB);
inline constexpr GUID DBPROPSET_DBINIT = KV_OLEDB_GUID(0xC8B522BC);
inline constexpr GUID DBPROPSET_ROWSET = KV_OLEDB_GUID(0xC8B522BE);
inline constexpr GUID DBPROPSET_DATASOURCEALL = KV_OLEDB_GUID(0xC8B522C0);
inline constexpr GUID DBPROPSET_DATASOURCEINFOALL = KV_OLEDB_GUID(0xC8B522C1);
inline constexpr GUID DBPROPSET_ROWSETALL = KV_OLEDB_GUID(0xC8B522C2);
inline constexpr GUID DBPROPSET_SESSION = KV_OLEDB_GUID(0xC8B522C6);
inline constexpr GUID DBPROPSET_SESSIONALL = KV_OLEDB_GUID(0xC8B522C7);
inline constexpr GUID DBPROPSET_DBINITALL = KV_OLEDB_GUID(0xC8B522CA);
inline constexpr GUID DBPROPSET_PROPERTIESINERROR = KV_OLEDB_GUID(0xC8B522D4);

inline constexpr GUID DBGUID_DBSQL = KV_OLEDB_GUID(0xC8B521FB);
inline constexpr GUID DBGUID_DEFAULT = KV_OLEDB_GUID(0xC8B521FB);
inline constexpr GUID DBGUID_SQL = KV_OLEDB_GUID(0xC8B522D7);

inline constexpr GUID DBSCHEMA_CATALOGS = KV_OLEDB_GUID(0xC8B52211);
inline constexpr GUID DBSCHEMA_TABLES = KV_OLEDB_GUID(0xC8B52229);

inline constexpr IID IID_IAccessor = KV_OLEDB_IID(0x0C733A8C);
inline constexpr IID IID_IRowset = KV_OLEDB_IID(0x0C733A7C);
inline constexpr IID IID_IRowsetInfo = KV_OLEDB_IID(0x0C733A55);
inline constexpr IID IID_IColumnsInfo = KV_OLEDB_IID(0x0C733A11);
inline constexpr IID IID_IConvertType = KV_OLEDB_IID(0x0C733A88);
inline constexpr IID IID_ICommand = KV_OLEDB_IID(0x0C733A63);
inline constexpr IID IID_ICommandText = KV_OLEDB_IID(0x0C733A27);
inline constexpr IID IID_ICommandProperties = KV_OLEDB_IID(0x0C733A79);
inline constexpr IID IID_ICommandPrepare = KV_OLEDB_IID(0x0C733A26);
inline constexpr IID IID_ICommandWithParameters = KV_OLEDB_IID(0x0C733A64);
inline constexpr IID IID_IMultipleResults = KV_OLEDB_IID(0x0C733A90);
inline constexpr IID IID_IDBCreateCommand = KV_OLEDB_IID(0x0C733A1D);
inline constexpr IID IID_IDBCreateSession = KV_OLEDB_IID(0x0C733A5D);
inline constexpr IID IID_IDBInitialize = KV_OLEDB_IID(0x0C733A8B);
inline constexpr IID IID_IDBProperties = KV_OLEDB_IID(0x0C733A8A);
inline constexpr IID IID_IDBInfo = KV_OLEDB_IID(0x0C733A89);
inline constexpr IID IID_IDBSchemaRowset = KV_OLEDB_IID(0x0C733A7B);
inline constexpr IID IID_ISessionProperties = KV_OLEDB_IID(0x0C733A85);
inline constexpr IID IID_IOpenRowset = KV_OLEDB_IID(0x0C733A69);
inline constexpr IID IID_IGetDataSource = KV_OLEDB_IID(0x0C733A75);
inline constexpr IID IID_ISourcesRowset = KV_OLEDB_IID(0x0C733A1E);
inline constexpr IID IID_IErrorRecords = KV_OLEDB_IID(0x0C733A67);
inline constexpr IID IID_IErrorLookup = KV_OLEDB_IID(0x0C733A66);
inline constexpr IID IID_ISQLErrorInfo = KV_OLEDB_IID(0x0C733A74);

#undef KV_OLEDB_GUID
#undef KV_OLEDB_IID

// ---------------------------------------------------------------------------------------------
// Interfaces, in vtable order.

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

struct IErrorRecords : IUnknown {
    KV_COM_INTERFACE(IErrorRecords)
    virtual HRESULT STDMETHODCALLTYPE AddErrorRecord(ERRORINFO* pErrorInfo, DWORD dwLookupID,
                                                     DISPPARAMS* pdispparams,
                                                     IUnknown* punkCustomError,
                                                     DWORD dwDynamicErrorID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBasicErrorInfo(ULONG ulRecordNum,
                                                        ERRORINFO* pErrorInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCustomErrorObject(ULONG ulRecordNum, REFIID riid,
                                                           IUnknown** ppObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetErrorInfo(ULONG ulRecordNum, LCID lcid,
                                                   IErrorInfo** ppErrorInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetErrorParameters(ULONG ulRecordNum,
                                                         DISPPARAMS* pdispparams) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRecordCount(ULONG* pcRecords) = 0;
};

struct IDBInitialize : IUnknown {
    KV_COM_INTERFACE(IDBInitialize)
    virtual HRESULT STDMETHODCALLTYPE Initialize() = 0;
    virtual HRESULT STDMETHODCALLTYPE Uninitialize() = 0;
};

struct IDBProperties : IUnknown {
    KV_COM_INTERFACE(IDBProperties)
    virtual HRESULT STDMETHODCALLTYPE GetProperties(ULONG cPropertyIDSets,
                                                    const DBPROPIDSET rgPropertyIDSets[],
                                                    ULONG* pcPropertySets,
                                                    DBPROPSET** prgPropertySets) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropertyInfo(ULONG cPropertyIDSets,
                                                      const DBPROPIDSET rgPropertyIDSets[],
                                                      ULONG* pcPropertyInfoSets,
                                                      DBPROPINFOSET** prgPropertyInfoSets,
                                                      OLECHAR** ppDescBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperties(ULONG cPropertySets,
                                                    DBPROPSET rgPropertySets[]) = 0;
};

struct IDBCreateSession : IUnknown {
    KV_COM_INTERFACE(IDBCreateSession)
    virtual HRESULT STDMETHODCALLTYPE CreateSession(IUnknown* pUnkOuter, REFIID riid,
                                                    IUnknown** ppDBSession) = 0;
};

struct ISessionProperties : IUnknown {
    KV_COM_INTERFACE(ISessionProperties)
    virtual HRESULT STDMETHODCALLTYPE GetProperties(ULONG cPropertyIDSets,
                                                    const DBPROPIDSET rgPropertyIDSets[],
                                                    ULONG* pcPropertySets,
                                                    DBPROPSET** prgPropertySets) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperties(ULONG cPropertySets,
                                                    DBPROPSET rgPropertySets[]) = 0;
};

struct IDBCreateCommand : IUnknown {
    KV_COM_INTERFACE(IDBCreateCommand)
    virtual HRESULT STDMETHODCALLTYPE CreateCommand(IUnknown* pUnkOuter, REFIID riid,
                                                    IUnknown** ppCommand) = 0;
};

struct ICommand : IUnknown {
    KV_COM_INTERFACE(ICommand)
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
    virtual HRESULT STDMETHODCALLTYPE Execute(IUnknown* pUnkOuter, REFIID riid, DBPARAMS* pParams,
                                              DBROWCOUNT* pcRowsAffected, IUnknown** ppRowset) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDBSession(REFIID riid, IUnknown** ppSession) = 0;
};

struct ICommandText : ICommand {
    KV_COM_INTERFACE(ICommandText)
    virtual HRESULT STDMETHODCALLTYPE GetCommandText(GUID* pguidDialect,
                                                     LPOLESTR* ppwszCommand) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCommandText(REFGUID rguidDialect,
                                                     LPCOLESTR pwszCommand) = 0;
};

struct ICommandProperties : IUnknown {
    KV_COM_INTERFACE(ICommandProperties)
    virtual HRESULT STDMETHODCALLTYPE GetProperties(const ULONG cPropertyIDSets,
                                                    const DBPROPIDSET rgPropertyIDSets[],
                                                    ULONG* pcPropertySets,
                                                    DBPROPSET** prgPropertySets) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperties(ULONG cPropertySets,
                                                    DBPROPSET rgPropertySets[]) = 0;
};

struct ICommandPrepare : IUnknown {
    KV_COM_INTERFACE(ICommandPrepare)
    virtual HRESULT STDMETHODCALLTYPE Prepare(ULONG cExpectedRuns) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unprepare() = 0;
};

struct IAccessor : IUnknown {
    KV_COM_INTERFACE(IAccessor)
    virtual HRESULT STDMETHODCALLTYPE AddRefAccessor(HACCESSOR hAccessor,
                                                     DBREFCOUNT* pcRefCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateAccessor(DBACCESSORFLAGS dwAccessorFlags,
                                                     DBCOUNTITEM cBindings,
                                                     const DBBINDING rgBindings[],
                                                     DBLENGTH cbRowSize, HACCESSOR* phAccessor,
                                                     DBBINDSTATUS rgStatus[]) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBindings(HACCESSOR hAccessor,
                                                  DBACCESSORFLAGS* pdwAccessorFlags,
                                                  DBCOUNTITEM* pcBindings,
                                                  DBBINDING** prgBindings) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReleaseAccessor(HACCESSOR hAccessor,
                                                      DBREFCOUNT* pcRefCount) = 0;
};

struct IMultipleResults : IUnknown {
    KV_COM_INTERFACE(IMultipleResults)
    virtual HRESULT STDMETHODCALLTYPE GetResult(IUnknown* pUnkOuter, DBRESULTFLAG lResultFlag,
                                                REFIID riid, DBROWCOUNT* pcRowsAffected,
                                                IUnknown** ppRowset) = 0;
};

struct IColumnsInfo : IUnknown {
    KV_COM_INTERFACE(IColumnsInfo)
    virtual HRESULT STDMETHODCALLTYPE GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo,
                                                    OLECHAR** ppStringsBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE MapColumnIDs(DBORDINAL cColumnIDs, const DBID rgColumnIDs[],
                                                   DBORDINAL rgColumns[]) = 0;
};

struct IRowset : IUnknown {
    KV_COM_INTERFACE(IRowset)
    virtual HRESULT STDMETHODCALLTYPE AddRefRows(DBCOUNTITEM cRows, const HROW rghRows[],
                                                 DBREFCOUNT rgRefCounts[],
                                                 DBROWSTATUS rgRowStatus[]) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetData(HROW hRow, HACCESSOR hAccessor, void* pData) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextRows(HCHAPTER hReserved, DBROWOFFSET lRowsOffset,
                                                  DBROWCOUNT cRows, DBCOUNTITEM* pcRowsObtained,
                                                  HROW** prghRows) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReleaseRows(DBCOUNTITEM cRows, const HROW rghRows[],
                                                  DBROWOPTIONS rgRowOptions[],
                                                  DBREFCOUNT rgRefCounts[],
                                                  DBROWSTATUS rgRowStatus[]) = 0;
    virtual HRESULT STDMETHODCALLTYPE RestartPosition(HCHAPTER hReserved) = 0;
};

struct IRowsetInfo : IUnknown {
    KV_COM_INTERFACE(IRowsetInfo)
    virtual HRESULT STDMETHODCALLTYPE GetProperties(const ULONG cPropertyIDSets,
                                                    const DBPROPIDSET rgPropertyIDSets[],
                                                    ULONG* pcPropertySets,
                                                    DBPROPSET** prgPropertySets) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetReferencedRowset(DBORDINAL iOrdinal, REFIID riid,
                                                          IUnknown** ppReferencedRowset) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSpecification(REFIID riid, IUnknown** ppSpecification) = 0;
};

struct ISourcesRowset : IUnknown {
    KV_COM_INTERFACE(ISourcesRowset)
    virtual HRESULT STDMETHODCALLTYPE GetSourcesRowset(IUnknown* pUnkOuter, REFIID riid,
                                                       ULONG cPropertySets,
                                                       DBPROPSET rgProperties[],
                                                       IUnknown** ppSourcesRowset) = 0;
};

struct IDBSchemaRowset : IUnknown {
    KV_COM_INTERFACE(IDBSchemaRowset)
    virtual HRESULT STDMETHODCALLTYPE GetRowset(IUnknown* pUnkOuter, REFGUID rguidSchema,
                                                ULONG cRestrictions, const VARIANT rgRestrictions[],
                                                REFIID riid, ULONG cPropertySets,
                                                DBPROPSET rgPropertySets[],
                                                IUnknown** ppRowset) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSchemas(ULONG* pcSchemas, GUID** prgSchemas,
                                                 ULONG** prgRestrictionSupport) = 0;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
