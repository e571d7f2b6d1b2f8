// Numbers and angles as text in the drawing's units, as the host's unit functions give
// them: unit or precision -1 means the working drawing's own ($LUNITS/$LUPREC,
// $AUNITS/$AUPREC), zero suppression follows $DIMZIN.
#pragma once

#include <cstddef>

#ifndef RTNORM
#define RTNORM 5100
#endif
#ifndef RTNONE
#define RTNONE 5000
#endif
#ifndef RTCAN
#define RTCAN (-5002)
#endif
#ifndef RTERROR
#define RTERROR (-5001)
#endif
#ifndef RTREJ
#define RTREJ (-5003)
#endif

// Linear units: 1 scientific, 2 decimal, 3 engineering, 4 architectural, 5 fractional.
// Returns RTNORM, or RTERROR for a bad unit/precision or a buffer too small.
int acdbRToS(double value, int unit, int prec, char* str, std::size_t size = 512);
// Angular units: 0 decimal degrees, 1 degrees/minutes/seconds, 2 grads, 3 radians,
// 4 surveyor's units. The angle (radians) is written normalised to [0, 2pi).
int acdbAngToS(double angle, int unit, int prec, char* str, std::size_t size = 512);
// Reads an angle written in `unit` (-1: the drawing's) back into radians.
int acdbAngToF(const char* str, int unit, double* value);
// Reads a distance written in `unit` (-1: the drawing's) back.
int acdbDisToF(const char* str, int unit, double* value);
