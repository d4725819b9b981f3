// T.30 details only the receiving side needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fe {

// The "AT+FRM=" modulation code for the caller's DCS: V.17 when its bit 14 is
// set (at 7200, 9600, 12000 or 14400), else V.29 or V.27ter. V.17 uses long
// training for the training check and short training for the pages after it.
std::string RxModulationCode(const std::vector<std::uint8_t>& dcsFif, int bps, bool training);

}  // namespace fe

namespace fe {

// Class 2 modems differ in the bit order of the page data they hand over: most
// keep the line's order, many reverse the bits of every byte. Decides from the
// start of a page (a kilobyte or two) by decoding it both ways: true when the
// reversed reading gives clearly more good lines.
bool PageDataLooksReversed(const std::uint8_t* data, std::size_t n);

// A page's image begins with an end of line (eleven or more zero bits, then a
// one; bits run from each byte's least significant bit). What a Class 1 modem
// hands over before it is the line's fill (ones while the sender had no data yet)
// and would decode as a row of noise. Scans data (the page's bytes so far): when
// the first end of line is there, removes what precedes its zeros (bits of the
// fill that share a byte with them become zeros) and returns true. Otherwise
// keeps only the bytes of a zero run that may still become one, returns false.
bool TrimToFirstEol(std::vector<std::uint8_t>& data);

// Reverses the bits of every byte in place.
void ReverseBits(std::uint8_t* data, std::size_t n);

}  // namespace fe
