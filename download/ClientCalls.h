#pragma once
// The calls on the main window's FTP client that the catalogue fetch and the download queue
// share.
#include <string>

class TForm1;

namespace download {

// Writes host, port, time-out and account into the main window's client.
void WriteClientSettings(TForm1& form);

// Where a guarded client call's message goes: one line on standard output, which a
// windowed program does not show. A failed write is ignored.
void LogLine(const std::string& text);

// Disconnects the client; a failure is only logged, as the connection is closed either way.
// The queue counts it as a client call while it waits.
void DisconnectQuietly(TForm1& form);

}  // namespace download
