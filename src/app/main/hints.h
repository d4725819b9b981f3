// Pop-up hints: shown after 1200 ms, kept for 30 s, switched on and off as a whole.
#pragma once

namespace qn {

void InstallHintStyle();  // once, after the application exists
void SetHintsEnabled(bool on);
bool HintsEnabled();

}  // namespace qn
