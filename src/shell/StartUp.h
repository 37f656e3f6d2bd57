#pragma once
// The start-up sequence: shows the main window, lays out the mail store next to the program,
// loads the preferences and starts the clocks.

class frmMain;
struct ProtocolObjects;

enum class StartUpOutcome {
    Running,    // the program lives on in the main window's events
    EndProgram, // a mail store folder could not be had: end at once, writing nothing more
};

// The protocol objects are created into `objects`, which must live as long as the program.
StartUpOutcome Main(frmMain& mainWindow, ProtocolObjects& objects);
