#pragma once
// The main-window controls that the catalogue fetch takes away, and when they come back.
// They are held while a handler of theirs could block the event loop (a full search) or
// change the play mode under a download: while the download list window is open, while a
// catalogue or a song is on its way.
class TForm1;

namespace download {

// Disables the held controls, in the order the connect button has always done it.
void HoldMainWindow(TForm1& form);

// A song is on its way: a run goes on, or a cancelled song's transfer is still unwinding.
bool SongOnItsWay(const TForm1& form);

// Gives the held controls back, unless the download list window is open (and not being
// closed right now, `listClosing`), or a catalogue or a song is on its way. True when it
// did. The delay box comes back only with its idle-search permission.
bool GiveMainWindowBack(TForm1& form, bool listClosing = false);

// Shows the download list window in front, as a fetched catalogue does; the connect button
// waits until it is closed again.
void ShowListWindow(TForm1& form);

}  // namespace download
