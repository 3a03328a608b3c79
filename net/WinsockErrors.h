#pragma once
// The socket layer's error numbers. Callers, handlers and the error texts all speak in
// Winsock's numbers (LastError, OnError, "10061:Connection refused"), so a POSIX errno or a
// lookup failure is translated into one of these before anybody sees it.
namespace net::wsa {

// Numbers above this are socket errors; CheckError raises for them alone.
constexpr int kBase = 10000;
// An errno without a Winsock peer maps to this plus the errno: still a socket error.
constexpr int kUnmappedBase = 20000;

constexpr int kInterrupted = 10004;
constexpr int kBadFile = 10009;
constexpr int kAccessDenied = 10013;
constexpr int kBadAddress = 10014;
constexpr int kInvalidArgument = 10022;
constexpr int kTooManyFiles = 10024;
constexpr int kWouldBlock = 10035;
constexpr int kInProgress = 10036;
constexpr int kAlreadyInProgress = 10037;
constexpr int kNotSocket = 10038;
constexpr int kDestinationRequired = 10039;
constexpr int kMessageTooLong = 10040;
constexpr int kWrongProtocolType = 10041;
constexpr int kBadProtocolOption = 10042;
constexpr int kProtocolNotSupported = 10043;
constexpr int kSocketTypeNotSupported = 10044;
constexpr int kOperationNotSupported = 10045;
constexpr int kProtocolFamilyNotSupported = 10046;
constexpr int kAddressFamilyNotSupported = 10047;
constexpr int kAddressInUse = 10048;
constexpr int kAddressNotAvailable = 10049;
constexpr int kNetworkDown = 10050;
constexpr int kNetworkUnreachable = 10051;
constexpr int kNetworkReset = 10052;
constexpr int kConnectionAborted = 10053;
constexpr int kConnectionReset = 10054;
constexpr int kNoBufferSpace = 10055;
constexpr int kAlreadyConnected = 10056;
constexpr int kNotConnected = 10057;
constexpr int kShutDown = 10058;
constexpr int kTooManyReferences = 10059;
constexpr int kTimedOut = 10060;
constexpr int kConnectionRefused = 10061;
constexpr int kSymbolicLinkLoop = 10062;
constexpr int kNameTooLong = 10063;
constexpr int kHostDown = 10064;
constexpr int kHostUnreachable = 10065;
constexpr int kNotEmpty = 10066;
constexpr int kTooManyProcesses = 10067;
constexpr int kTooManyUsers = 10068;
constexpr int kDiskQuota = 10069;
constexpr int kStaleHandle = 10070;
constexpr int kRemotePath = 10071;
constexpr int kSystemNotReady = 10091;
constexpr int kVersionNotSupported = 10092;
constexpr int kNotInitialised = 10093;

// Host lookup failures.
constexpr int kHostNotFound = 11001;
constexpr int kTryAgain = 11002;
constexpr int kNoRecovery = 11003;
constexpr int kNoData = 11004;

}  // namespace net::wsa
