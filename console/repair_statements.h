#pragma once
// The statements and paths of the check and the emergency rebuild, each written the way the
// console has always sent and spelled it (the server and the file system ignore letter case).

namespace kv::console::repair {

inline constexpr const char* CheckStatement = "dbcc checkdb('kelvora') with no_infomsgs";
inline constexpr const char* ScratchDetach = "EXEC sp_detach_db 'kelvora1','true'";
inline constexpr const char* ScratchCreate =
    "CREATE DATABASE kelvora1 ON ( NAME = 'kelvora1_data',FILENAME ='c:\\kelvora1_Data.MDF') "
    "LOG ON (NAME = 'kelvora1_log',FILENAME='c:\\kelvora1_log.ldf')";
inline constexpr const char* AllowUpdatesOn = "Sp_configure 'allow updates', 1";
inline constexpr const char* Reconfigure = "Reconfigure with override";
inline constexpr const char* EmergencyMode =
    "Update sysdatabases set status = 32768 where name = 'KELVORA1'";
inline constexpr const char* AllowUpdatesOff = "Sp_configure 'allow updates', 0";
inline constexpr const char* LogRebuild =
    "DBCC REBUILD_LOG(KELVORA1, 'c:\\kelvora\\data\\kelvora_log.ldf')";
inline constexpr const char* ScratchCheck = "dbcc checkdb('kelvora1') with no_infomsgs";
inline constexpr const char* SingleUser =
    "ALTER DATABASE kelvora1 SET SINGLE_USER WITH ROLLBACK IMMEDIATE";
inline constexpr const char* Repair = "DBCC CHECKDB ('kelvora1',REPAIR_ALLOW_DATA_LOSS)";

// SQL Server 2005 and later refuse the catalog update and DBCC REBUILD_LOG; they repair the
// product database where it is, in emergency mode.
inline constexpr const char* Attach =
    "create database kelvora ON (FILENAME = 'c:\\kelvora\\data\\kelvora_data.mdf')  LOG ON "
    "(FILENAME = 'c:\\kelvora\\data\\kelvora_log.ldf') FOR ATTACH";
inline constexpr const char* AttachRebuildingLog =
    "create database kelvora ON (FILENAME = 'c:\\kelvora\\data\\kelvora_data.mdf') FOR "
    "ATTACH_REBUILD_LOG";
inline constexpr const char* ProductEmergency = "ALTER DATABASE kelvora SET EMERGENCY";
inline constexpr const char* ProductSingleUser =
    "ALTER DATABASE kelvora SET SINGLE_USER WITH ROLLBACK IMMEDIATE";
inline constexpr const char* ProductRepair = "DBCC CHECKDB ('kelvora',REPAIR_ALLOW_DATA_LOSS)";
inline constexpr const char* ProductMultiUser = "ALTER DATABASE kelvora SET MULTI_USER";
inline constexpr const char* ProductOnline = "ALTER DATABASE kelvora SET ONLINE";

inline constexpr const char* ProductDataCopyPath = "C:\\Kelvora\\Data\\Kelvora_DATA.MDF";
inline constexpr const char* ProductDataRenamePath = "C:\\Kelvora\\Data\\kelvora_Data.MDF";
inline constexpr const char* ProductLogPath = "C:\\Kelvora\\Data\\kelvora_log.ldf";
inline constexpr const char* ScratchDataLeftover = "C:\\kelvora1_data.mdf";
inline constexpr const char* ScratchLogLeftover = "C:\\kelvora1_log.ldf";
inline constexpr const char* ScratchDataPath = "C:\\Kelvora1_DATA.MDF";
// Where the log built for the scratch database goes, followed by the rebuild's number, when the
// rebuild stops with it at the product log path: beside the scratch data file it belongs to.
inline constexpr const char* ScratchLogKeptPath = "C:\\kelvora1_log.ldf";

} // namespace kv::console::repair
