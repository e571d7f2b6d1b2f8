// Layer 0, shared by every layer: result codes, value type codes and the result
// buffer of the host's C interface. Declarations only.
#pragma once

#include <cstdint>

// Results.
constexpr int RTNONE = 5000;  // no result: the user pressed Enter
constexpr int RTNORM = 5100;  // request succeeded
constexpr int RTERROR = -5001;
constexpr int RTCAN = -5002;  // the user cancelled (Escape, Ctrl+C)
constexpr int RTREJ = -5003;  // request rejected as invalid
constexpr int RTFAIL = -5004;
constexpr int RTKWORD = -5005;
constexpr int RTINPUTTRUNCATED = -5008;

// Value types of a result buffer (and of acedCommand's arguments).
constexpr short RTREAL = 5001;
constexpr short RTPOINT = 5002;
constexpr short RTSHORT = 5003;
constexpr short RTANG = 5004;
constexpr short RTSTR = 5005;
constexpr short RTENAME = 5006;
constexpr short RTPICKS = 5007;
constexpr short RTORINT = 5008;
constexpr short RT3DPOINT = 5009;
constexpr short RTLONG = 5010;
constexpr short RTVOID = 5014;
constexpr short RTLB = 5016;
constexpr short RTLE = 5017;
constexpr short RTNIL = 5019;
constexpr short RTT = 5021;

// acedInitGet flags.
constexpr int RSG_NONULL = 0x0001;  // Enter is not an answer
constexpr int RSG_NOZERO = 0x0002;
constexpr int RSG_NONEG = 0x0004;
constexpr int RSG_NOLIM = 0x0008;
constexpr int RSG_GETZ = 0x0010;
constexpr int RSG_DASH = 0x0020;
constexpr int RSG_2D = 0x0040;
constexpr int RSG_OTHER = 0x0080;  // any text is an answer (returned as typed)

// Input and result buffers hold at most this many bytes, terminator included.
constexpr int ADS_INPUT_BUFFER = 132;

using ads_real = double;
using ads_point = ads_real[3];
using ads_name = std::int64_t[2];

union ads_u_val {
    ads_real rreal;
    ads_real rpoint[3];
    short rint;
    char* rstring;
    std::int32_t rlong;
    ads_name rlname;
};

struct resbuf {
    resbuf* rbnext;
    short restype;
    ads_u_val resval;
};
