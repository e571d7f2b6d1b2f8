// Layer 7, the command line: running a command from code, as if its name and answers
// were typed.
#pragma once

#include "host/Ads.h"

// Runs a host or module command with the given answers, as if typed: arguments are
// pairs of a type and a value (RTSTR with const char*, RTSHORT with int, RTREAL with
// double; RTNONE alone is Enter), ended by 0; the first is the command name. A prompt
// that finds no answer left is cancelled. With CMDECHO 0 the command's prompts and
// answers are not shown. RTNORM, or RTERROR (unknown command, bad argument type, no
// drawing open). However it returns, an exception out of the command included, the
// document's queued input and the command-line output are as they were before.
int acedCommand(int type, ...);
