// The pure text rules: error numbers and texts, reply numbers and continuation, sizes in
// preliminary replies, PASV and PORT texts, command kinds.
#include <gtest/gtest.h>

#include <cerrno>

#include "net/Parsing.h"
#include "platform/Exceptions.h"

using namespace net;

TEST(SocketErrors, TextsCarryTheWinsockNumber) {
    EXPECT_EQ(SocketErrorText(10061), "10061:Connection refused");
    EXPECT_EQ(SocketErrorText(11001), "11001:Host not found");
    EXPECT_EQ(SocketErrorText(10065), "10065:No route to Host");
    EXPECT_EQ(SocketErrorText(12345), "Unknown Error No. 12345");
    EXPECT_EQ(SocketErrorText(0), "");
}

TEST(SocketErrors, ErrnoMapsToWinsockNumbers) {
    EXPECT_EQ(WinsockErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(WinsockErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(WinsockErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(WinsockErrorFromErrno(ENOTCONN), 10057);
    EXPECT_EQ(WinsockErrorFromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(WinsockErrorFromErrno(EPIPE), 10058);
    EXPECT_EQ(WinsockErrorFromErrno(0), 0);
    // An errno without a Winsock peer must still count as an error that raises.
    EXPECT_GT(WinsockErrorFromErrno(EIO), 10000);
    EXPECT_NE(WinsockErrorFromErrno(EIO), 10035);
}

TEST(ReplyNumber, LeadingDigitsWithinSixteenBits) {
    EXPECT_EQ(ReplyNumberOf("220 ready\r\n"), 220);
    EXPECT_EQ(ReplyNumberOf("230-Welcome\r\n"), 230);
    EXPECT_EQ(ReplyNumberOf("hello\r\n"), 0);
    EXPECT_EQ(ReplyNumberOf(""), 0);
    EXPECT_EQ(ReplyNumberOf("32767 max\r\n"), 32767);
    EXPECT_THROW(ReplyNumberOf("32768 over\r\n"), ERangeError);
    // Only ten digits count; ten nines are still far out of range.
    EXPECT_THROW(ReplyNumberOf("99999999999999999999999\r\n"), ERangeError);
}

TEST(ReplyNumber, MultiLineReplyEndsAtItsCodeAndSpace) {
    const std::string first = "230-Welcome\r\n";
    EXPECT_TRUE(ReplyContinues(first, first));
    EXPECT_TRUE(ReplyContinues(first, "230-more\r\n"));
    EXPECT_TRUE(ReplyContinues(first, " indented text\r\n"));
    EXPECT_TRUE(ReplyContinues(first, "Plain text line\r\n"));
    EXPECT_TRUE(ReplyContinues(first, "220 other code\r\n"));
    EXPECT_TRUE(ReplyContinues(first, "23\r\n"));
    EXPECT_FALSE(ReplyContinues(first, "230 done\r\n"));
    EXPECT_FALSE(ReplyContinues(first, ""));  // the peer closed
    EXPECT_FALSE(ReplyContinues("230 single\r\n", "230 single\r\n"));
    EXPECT_FALSE(ReplyContinues("ab-c\r\n", "ab-c\r\n"));
    EXPECT_FALSE(ReplyContinues("\n", "\n"));
}

TEST(ByteCount, DigitsNearestBeforeTheWordBytes) {
    EXPECT_EQ(ExtractByteCount("150 Opening BINARY mode data connection for a.mp3 (12345 bytes).\r\n"), 12345);
    EXPECT_EQ(ExtractByteCount("150 file 7 has (99 Bytes)\r\n"), 99);
    EXPECT_EQ(ExtractByteCount("150 size=42 BYTE\r\n"), 42);
    EXPECT_EQ(ExtractByteCount("125 Data connection already open. Transfer starting.\r\n"), 0);
    EXPECT_EQ(ExtractByteCount("150 bytes 12345\r\n"), 150);  // nearest digits before the word
    EXPECT_EQ(ExtractByteCount("bytes 12345\r\n"), 0);
    EXPECT_EQ(ExtractByteCount(""), 0);
    EXPECT_EQ(ExtractByteCount("999999999999999999999999999 bytes"), 0);  // does not convert
    EXPECT_EQ(ExtractByteCount("5000000000 bytes"), 5000000000LL);
}

TEST(Pasv, PortFromFifthAndSixthNumbers) {
    EXPECT_EQ(ParsePasvPort("227 Entering Passive Mode (192,168,1,2,19,137).\r\n"), 5001);
    EXPECT_EQ(ParsePasvPort("227 =127,0,0,1,0,21\r\n"), 21);
    EXPECT_EQ(ParsePasvPort("227 Entering Passive Mode (127,0,0,1, 4, 1)\r\n"), 1025);
}

TEST(Pasv, MalformedRepliesRaiseConversionErrors) {
    EXPECT_THROW(ParsePasvPort("227 Entering Passive Mode\r\n"), EConvertError);
    EXPECT_THROW(ParsePasvPort("227 (1,2,3,4,5)\r\n"), EConvertError);
    EXPECT_THROW(ParsePasvPort("227 (1,2,3,4,x,5)\r\n"), EConvertError);
    EXPECT_THROW(ParsePasvPort("227 (1,2,3,4,5,)\r\n"), EConvertError);
    EXPECT_THROW(ParsePasvPort("227 (1,2,3,4,256,0)\r\n"), EConvertError);
    EXPECT_THROW(ParsePasvPort("227 (1,2,3,4,-1,0)\r\n"), EConvertError);
    EXPECT_THROW(ParsePasvPort(""), EConvertError);
}

TEST(PortCommand, AddressAndPortText) {
    EXPECT_EQ("PORT " + PortAddressText("10.0.0.5") + PortNumberText(1045), "PORT 10,0,0,5,4,21");
    EXPECT_EQ(PortNumberText(65535), ",255,255");
}

TEST(CommandKinds, FirstWordCaseSensitive) {
    EXPECT_EQ(CommandKind("PWD"), TCmdType::TransPwd);
    EXPECT_EQ(CommandKind("PWD "), TCmdType::TransOther);
    EXPECT_EQ(CommandKind("cwd music"), TCmdType::TransOther);
    EXPECT_EQ(CommandKind("CWD music"), TCmdType::TransCwd);
    EXPECT_EQ(CommandKind("CWD"), TCmdType::TransCwd);
    EXPECT_EQ(CommandKind("DELE a"), TCmdType::TransDele);
    EXPECT_EQ(CommandKind("MKD a"), TCmdType::TransMkd);
    EXPECT_EQ(CommandKind("RMD a"), TCmdType::TransRmd);
    EXPECT_EQ(CommandKind("CWDX a"), TCmdType::TransOther);
    EXPECT_EQ(CommandKind("TYPE I"), TCmdType::TransOther);
    EXPECT_EQ(static_cast<int>(TCmdType::TransRetr), 9);
}

TEST(CommandKinds, LineBreaksAndNulAreNotSingleLines) {
    EXPECT_TRUE(IsSingleLine("RETR a b.mp3"));
    EXPECT_FALSE(IsSingleLine("RETR a\r\nDELE b"));
    EXPECT_FALSE(IsSingleLine("x\ny"));
    EXPECT_FALSE(IsSingleLine(std::string("a\0b", 3)));
}
