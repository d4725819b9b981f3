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
// and would decode as a row of noise. zeroRun carries the zero bits seen so far
// from one call to the next (start it at 0). Returns the index of the byte that
// holds the end of line's one bit, or n when the end of line has not come yet.
std::size_t FindFirstEol(const std::uint8_t* data, std::size_t n, int& zeroRun);

// Reverses the bits of every byte in place.
void ReverseBits(std::uint8_t* data, std::size_t n);

}  // namespace fe
