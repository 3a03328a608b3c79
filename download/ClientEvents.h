#pragma once
// Pieces shared by the catalogue fetch and the download queue.
#include <string>

class TForm1;

namespace download {

// Writes host, port, time-out and account into the main window's client.
void WriteClientSettings(TForm1& form);

// Counts a Connect or Download of the handlers as running on the client, for its length.
class ClientBusyScope {
public:
    explicit ClientBusyScope(int& depth) : depth_(depth) { ++depth_; }
    ~ClientBusyScope() { --depth_; }
    ClientBusyScope(const ClientBusyScope&) = delete;
    ClientBusyScope& operator=(const ClientBusyScope&) = delete;

private:
    int& depth_;
};

// Where a guarded client call's message goes: one line on standard output, which a
// windowed program does not show. A failed write is ignored.
void LogLine(const std::string& text);

// Disconnects the client; a failure is only logged, as the connection is closed either way.
void DisconnectQuietly(TForm1& form);

}  // namespace download
