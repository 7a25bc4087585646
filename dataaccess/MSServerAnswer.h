#pragma once
// The answer a SQL Server sends to the resolution protocol's discovery request: a 3-byte header
// (0x05 and a length) and the text
//   ServerName;PC1;InstanceName;MSSQLSERVER;IsClustered;No;Version;8.00.194;tcp;1433;;
// with one such block per instance of the answering machine.
//
// Every "ServerName" names a server: the text between the ";" after the key and the next ";".
// Its "InstanceName" is searched after that closing ";" in the same way. The default instance
// (MSSQLSERVER, any case) lists as the bare server name, any other as SERVER\INSTANCE. A
// missing ";" in one of the four places is "invalid Value" (EServerAnswerError): the whole
// answer is refused. A "ServerName" with no "InstanceName" after it lists the bare server name
// and ends the answer. The header's length is not trusted; the datagram's size is.

#include "toolkit/SysUtils.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::dataaccess {

class EServerAnswerError : public Exception {
public:
    using Exception::Exception;
    std::string ClassName() const override { return "EServerAnswerError"; }
};

// The server names of one answer datagram, in the order they appear. Never reads outside
// [Data, Data + Size).
std::vector<std::string> ParseServerAnswer(const std::uint8_t* Data, std::size_t Size);

} // namespace kv::dataaccess
