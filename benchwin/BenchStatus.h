// What the bench window's status line says of the bench: what it needs
// before it can start, that it is ready, running or stopping, and how a run
// ended. Pure words; BenchModel decides when each is shown.
#pragma once

#include <string>
#include <vector>

#include "benchwin/FirmwareCard.h"
#include "benchwin/PortChoice.h"

constexpr char kNoFirmwareText[] =
    "Choose the firmware first: File, Open..., or drop a HEX file on the window.";
constexpr char kNoPortsText[] = "Tick at least one port for the bench.";
constexpr char kRunningText[] = "Running: connect a pager to a port; Stop (F5) ends the bench.";
constexpr char kStoppingText[] = "Stopping: each pager in flash mode is told to leave it.";

// Before a run: what is missing (a firmware, a sound one, a ticked port),
// and only then that the bench is ready.
std::string IdleStatus(const FirmwareCard& card, const std::vector<PortEntry>& entries);

// After a run: stopped by the user, ended by its count of `count` pagers
// (`finished` of them), or ended otherwise.
std::string EndedStatus(bool stopped, int count, int finished);
