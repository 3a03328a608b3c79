#pragma once
// The FTP client's events: connection, error, failure, success, status, packets and the
// start and stop of a transfer, handled by the main window's FtpClient1… handlers.
class TForm1;

namespace download {

// Makes the main window's client call its handlers. They run inside the client's waits, so
// an exception that one raises ends in the error box instead of unwinding through the client.
void ConnectClientEvents(TForm1& form);

}  // namespace download
