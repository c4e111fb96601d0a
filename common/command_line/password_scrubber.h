#pragma once

// Overwrites the value of every "--password=..." element of the process's own argument
// vector, so that the password does not stay visible to every user of the machine (ps,
// /proc/PID/cmdline) for the whole run. Nothing else of the command line changes. Call it
// once the argument store holds its own copies of the values.
void ScrubPasswordArguments(int argc, char** argv);
