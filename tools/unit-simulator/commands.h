#pragma once
// The subcommands of unit-simulator; each lives in its own file and gets the arguments after its name.

// create [--skip MEM]... [--size MEM=BYTES]... [--log-level LEVEL]: the 20 segments with their size words and
// the unit's start values (a segment made another size stays zero), the lens tables in the lens-table folder;
// the service's diagnostic threshold is LEVEL, by default the catalogue's start value.
int runCreate(int argc, char** argv);

// set MEM VAR VALUE: stores a variable from its text and posts its change event.
int runSet(int argc, char** argv);

// get MEM VAR: prints a variable's text.
int runGet(int argc, char** argv);

// post EVENT [A [B]]: one record to the broker; EVENT is a name from the event table or a number.
int runPost(int argc, char** argv);

// framebuffer PATH [--page N]: a frame-buffer image file, 800 × 480, two pages with test patterns, page N shown.
int runFramebuffer(int argc, char** argv);

// hwinfo [SERIAL [BOARD]]: a valid factory block with that identity in /dev/mmcblk1.
int runHwinfo(int argc, char** argv);

// demo: moves the motors, the focus distance and the battery a few times a second until SIGINT or SIGTERM.
int runDemo(int argc, char** argv);

// updater: plays the unit's update machinery until SIGINT or SIGTERM.
int runUpdater(int argc, char** argv);
