#pragma once

#include <string>

namespace kcsim {

// Formats "[TTT.T,HHH.H]" from readings in hundredths. Each field is always five
// characters, a negative value carrying its "-" in the hundreds place; readings
// beyond what five characters can show are clamped so the record keeps its length.
std::string uploadRecord(int temperatureHundredths, int humidityHundredths);

} // namespace kcsim
