#include "upgrd_util/platform/ipv4_address.h"

bool parse_ipv4_address(const char* text, uint32_t* address) {
  if (!text)
    return false;
  uint8_t octets[4];
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *text++ != '.')
      return false;
    int value = 0;
    int digits = 0;
    while (*text >= '0' && *text <= '9' && digits < 4) {
      value = value * 10 + (*text++ - '0');
      ++digits;
    }
    bool leading_zero = digits > 1 && text[-digits] == '0';
    if (digits == 0 || digits > 3 || value > 255 || leading_zero)
      return false;
    octets[part] = static_cast<uint8_t>(value);
  }
  if (*text != '\0')
    return false;
  // Network byte order is the octets in the order written.
  if (address) {
    uint8_t* bytes = reinterpret_cast<uint8_t*>(address);
    for (int i = 0; i < 4; ++i)
      bytes[i] = octets[i];
  }
  return true;
}
