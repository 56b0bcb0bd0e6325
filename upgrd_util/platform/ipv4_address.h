#ifndef UPGRD_UTIL_PLATFORM_IPV4_ADDRESS_H_
#define UPGRD_UTIL_PLATFORM_IPV4_ADDRESS_H_

#include <cstdint>

/// Reads a card's address: four decimal numbers from 0 to 255 with dots
/// between them and nothing else, no number with a leading zero (some
/// systems read "010" as eight). Returns true with the address in network
/// byte order in *address (when given); false for anything else. The probe,
/// both FTP libraries and a campaign's checks all read addresses here, so
/// that what passes the checks is what the probe sends to.
bool parse_ipv4_address(const char* text, uint32_t* address = nullptr);

#endif  // UPGRD_UTIL_PLATFORM_IPV4_ADDRESS_H_
