// The three user choices (COM port, transfer rate, resend count) kept between
// runs in "TARVEXUPD.INI", three short text lines in the current directory.
#pragma once

constexpr char kSettingsFileName[] = "TARVEXUPD.INI";

// Each line is read into, and written from, a buffer of this many characters:
// at most four characters of text and the end of the string. A longer line is
// cut to its first four characters and the rest of it is dropped; a number
// whose decimal form is longer is cut the same way when it is saved, so what
// is saved reads back as the same value as it would from a hand-written file.
constexpr int kSettingsLineBuffer = 5;
constexpr int kSettingsLineText = kSettingsLineBuffer - 1;

// Reads the file of the current directory into ComPortIndex, FlashBaudRate and
// ResendTimes. Without a file, one with the defaults ("1", "M", "3") is
// written and the defaults are set. A file that exists but cannot be read, or
// a current directory that cannot be had, leaves the defaults set and no file
// touched. No message is ever shown.
void LoadSettings();

// Writes the three globals back, but only when the file already exists in the
// current directory. The old file is replaced in one step, so an interrupted
// save leaves either the old or the new file.
void SaveSettings();
