// The stand-in host's command line (xophost; IGOR.exe, Igor64.exe under Wine): call one external
// function by name and report what happened, list the function table, or show the
// start-up handshake.
#pragma once

#include <string>
#include <vector>

#include "host.h"

namespace kavhost {

// JSON string literal of `s`. Bytes from 0x80 up are written as \u0080-\u00FF (each
// byte as the code point of the same number, so any byte string survives the trip);
// control characters, quote and backslash are escaped.
std::string JsonString(const std::string& s);
// A number in JSON (17 significant digits); NaN and infinities become null.
std::string JsonNumber(double v);

// Parses one command-line argument for a parameter of the given type. Numbers are
// decimal; "@null" is a null string, string variable or wave; waves are
// "wave:TYPE:DIMS" with TYPE f32, f64, i8, i16, i32, u8, u16, u32, text, c64, c128
// and DIMS like 1000 or 10x2. False with a reason when the text does not fit.
bool ParseArg(Host& host, uint16_t type, const std::string& text, Arg* out, std::string* error);

// The whole command line; returns the exit status.
int RunCommandLine(const std::vector<std::string>& args);

}  // namespace kavhost
