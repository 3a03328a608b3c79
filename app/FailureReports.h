#pragma once
// Handlers that a socket notification or a time-out ran report their exceptions in the error
// box, like every other handler of the program. Called once at start, after the application
// object exists (the tests do the same).
void InstallFailureReports();
