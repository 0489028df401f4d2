// Version texts "a.b.c.d" and their Version number a*1000 + b*100 + c*10 + d, the only form in
// which versions are compared. Pure functions; any thread.
#pragma once

// The Version buffer's capacity, terminator included: a Version of 64 characters or more is refused.
const int kVersionChars = 64;

// "a.b.c.d[rest]" -> a*1000 + b*100 + c*10 + d in wrapping 32-bit arithmetic; 0 when fewer than
// four numbers can be read. Reads as "%d.%d.%d.%d" would: white space and a sign may precede each
// number, each dot follows its number directly, and what follows the fourth number is ignored.
// A number too large for 32 bits wraps, as everything else here does. A null text reads as empty.
unsigned ParseVersionNumber(const wchar_t* text);

// The same reading, telling also whether four numbers were read: true with their Version number
// in *value, false (and *value 0) when fewer were.
bool ScanVersionNumber(const wchar_t* text, unsigned* value);

// The four numbers themselves, each wrapped to 32 bits as read (a sign makes it wrap below 0):
// false, with all four 0, when fewer than four can be read. Lets a check see a field that carries.
bool ScanVersionFields(const wchar_t* text, unsigned fields[4]);
