// MachineSettings: the one call of the system's private MachineSettings
// framework that the pane makes, under its own name.
#pragma once

// Sets the system's double-click interval, in seconds, at once. A value the
// system does not take is ignored, as the framework ignores it.
void setDoubleClickThresholdLevel(double seconds);
