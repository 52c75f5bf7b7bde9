#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "packet/Packet.h"

// Time-of-day key (seconds since local midnight as written in a message's
// "time") to the messages with that key, in file order. The entries are views
// of the blocks owned by the run's PacketList, never copies: the index must be
// released no later than that list.
using TimeIndex = std::map<int64_t, std::vector<Packet>>;
