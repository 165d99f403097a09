#pragma once
// The line check: whether this line's replies may close at their line end
// (automatic replies). It writes nothing to a controller and sends nothing
// of its own at Connect: the transport judges the replies of the exchanges
// made anyway (see TLineVerdict); this reports what they showed.
#include <cstdint>
#include <string>
#include <vector>

#include "veri/Transport.h"

// Closes the check begun with VERILineBegin: logs one line per controller
// of `found` (and any other controller blamed), then the rule in force
// ("Replies end at the line end: automatic, at the line end", ...); returns
// those lines for showing.
std::string VERILineReport(const std::vector<uint8_t> &found);
// "Check line": afresh, a version read and a status poll to each of
// `addresses` (reads only), then the report of those that answered.
std::string VERICheckLine(const std::vector<uint8_t> &addresses);
// Every controller address the machine description uses: the axes (1, 2,
// 3, without 2 on a two-motor machine), Z's configured address and the
// addresses of the output table.
std::vector<uint8_t> VERILineAddresses();
